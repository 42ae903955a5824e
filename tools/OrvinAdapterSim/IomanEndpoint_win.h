// The service end of "VCORE\IOMAN": one agent at a time. A serving thread waits for the
// agent, reads its 4-byte adapter index (the greeting), then cuts everything it sends
// into messages and queues them for the script; after the agent leaves, or after a
// scripted break, it offers a new instance at once. While the service is stopped no
// instance exists, so the agent finds no pipe at all.
//
// Every byte the agent sends is checked against the wire description (WireFormat.h).
// Each fault is a violation: an error that fails the script, or with `lenient` a warning
// in the log only. A Size that can not belong to a message also ends the connection,
// since nothing after it can be framed again.
//
// The serving thread blocks on its overlapped read and wakes as soon as bytes arrive (no
// polling), and stamps each message with the performance counter of that read.
//
// Threads: the serving thread owns reading and the instance's life; the script's thread
// writes, waits for the greeting and takes messages. m_mutex guards the connection
// state, the queue and the violations; m_writeMutex keeps the instance open while a write
// is in flight.
#pragma once

#include "PipeServer_win.h"
#include "SimCommon/SimLog.h"
#include "WireFormat.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvin::sim {

constexpr const char* kIomanPipeName = "VCORE\\IOMAN";

class IomanEndpoint {
public:
    IomanEndpoint(SimLog& log, bool lenient) : m_log(log), m_bLenient(lenient) {}
    ~IomanEndpoint() { Stop(); }

    // Creates the first instance (failing when the pipe is already served) and starts serving.
    bool Start(std::string* error);
    void Stop();

    // Until an agent is connected and has greeted, with a greeting later than the one
    // *seen counts (0: any); *seen becomes the count of greetings so far. Cut short (false)
    // as soon as there are more violations than `violationsSeen`.
    bool WaitGreeted(DWORD timeoutMs, uint64_t* seen, int violationsSeen);
    // The connected agent's adapter index (0 when none is connected).
    uint32_t AdapterIndex();
    // Writes bytes to the greeted agent. False (with a reason) when there is none or the
    // pipe fails.
    bool Write(const WireMessage& message, std::string* error) { return WriteBytes(message.bytes, error); }
    bool WriteBytes(const std::vector<uint8_t>& bytes, std::string* error);
    enum class Taken { Message, TimedOut, Violation };
    // The oldest message from the agent not yet taken, waiting at most `timeoutMs`; cut
    // short (Violation) as soon as there are more violations than `violationsSeen`.
    Taken TakeMessage(DWORD timeoutMs, WireMessage* message, int violationsSeen);

    // Closes the agent's instance and serves a new one.
    bool Break();
    // Stops serving (no instance at all) until Resume.
    bool Suspend();
    void Resume();

    // Violations found so far (none are counted when lenient), and the text of violation
    // `number` (0 for the first); deviations passed over as warnings.
    int Violations();
    std::string ViolationText(int number);
    int Warnings();

private:
    void Serve(HANDLE first);
    void ServeConnection(HANDLE pipe);
    void Violation(const std::string& where, const std::string& fault);
    bool Interrupted() const { return m_bStop || m_bBreak || m_bSuspended; }
    void CloseInstance(HANDLE pipe);

    SimLog& m_log;
    const bool m_bLenient;
    std::wstring m_name;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bBreak{false};
    std::atomic<bool> m_bSuspended{false};
    int m_connections = 0; // serving thread only

    std::mutex m_mutex;
    std::condition_variable m_changed;
    HANDLE m_hConnected = nullptr; // the greeted agent's instance
    bool m_bInstanceOpen = false;
    uint32_t m_index = 0;
    uint64_t m_greetings = 0;
    std::deque<WireMessage> m_received;
    std::vector<std::string> m_violations; // the first kKeptViolations texts
    int m_violationCount = 0;
    int m_warningCount = 0;

    std::mutex m_writeMutex;
};

} // namespace orvin::sim
