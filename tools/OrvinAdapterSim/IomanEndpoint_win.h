// The service end of "VCORE\IOMAN": one agent at a time. A serving thread waits for the
// agent, reads its 4-byte adapter index (the greeting), then cuts everything it sends
// into messages and queues them for the script; after the agent leaves, or after a
// scripted break, it offers a new instance at once. While the service is stopped no
// instance exists, so the agent finds no pipe at all.
//
// Threads: the serving thread owns reading and the instance's life; the script's thread
// writes, waits for the greeting and takes messages. m_mutex guards the connection state
// and the queue; m_writeMutex keeps the instance open while a write is in flight.
#pragma once

#include "PipeServer_win.h"
#include "SimLog.h"
#include "WireFormat.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace orvin::sim {

constexpr const char* kIomanPipeName = "VCORE\\IOMAN";

class IomanEndpoint {
public:
    explicit IomanEndpoint(SimLog& log) : m_log(log) {}
    ~IomanEndpoint() { Stop(); }

    // Creates the first instance (failing when the pipe is already served) and starts serving.
    bool Start(std::string* error);
    void Stop();

    // Until an agent is connected and has greeted, with a greeting later than the one
    // *seen counts (0: any); *seen becomes the count of greetings so far.
    bool WaitGreeted(DWORD timeoutMs, uint64_t* seen);
    // The connected agent's adapter index (0 when none is connected).
    uint32_t AdapterIndex();
    // Writes bytes to the greeted agent. False (with a reason) when there is none or the
    // pipe fails.
    bool Write(const WireMessage& message, std::string* error) { return WriteBytes(message.bytes, error); }
    bool WriteBytes(const std::vector<uint8_t>& bytes, std::string* error);
    // The oldest message from the agent not yet taken, waiting at most `timeoutMs`.
    bool TakeMessage(DWORD timeoutMs, WireMessage* message);

    // Closes the agent's instance and serves a new one.
    bool Break();
    // Stops serving (no instance at all) until Resume.
    bool Suspend();
    void Resume();

    // Streams from the agent that could not be read as messages.
    int ProtocolFaults() const { return m_protocolFaults; }

private:
    void Serve(HANDLE first);
    void ServeConnection(HANDLE pipe);
    bool Interrupted() const { return m_bStop || m_bBreak || m_bSuspended; }
    void CloseInstance(HANDLE pipe);

    SimLog& m_log;
    std::wstring m_name;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bBreak{false};
    std::atomic<bool> m_bSuspended{false};
    std::atomic<int> m_protocolFaults{0};

    std::mutex m_mutex;
    std::condition_variable m_changed;
    HANDLE m_hConnected = nullptr; // the greeted agent's instance
    bool m_bInstanceOpen = false;
    uint32_t m_index = 0;
    uint64_t m_greetings = 0;
    std::deque<WireMessage> m_received;

    std::mutex m_writeMutex;
};

} // namespace orvin::sim
