// The recorder driver's stand-in: where "\\.\ovrecagentDevice0" does not exist the agent
// carries the driver's requests over the message-mode pipe "\\.\pipe\ovrecagentDevice0"
// (request: the 4-byte control code and the buffer; answer: the 4-byte count of bytes
// returned and the buffer), and this endpoint serves it, one client at a time, like the
// driver: registrations, the channel choice and the queue of records a read hands out.
//
// The script queues call events and audio; a record goes into the queue only while the
// registered client has chosen its channel (as the driver records nothing for nobody),
// and a queued record whose channel is no longer chosen when a read comes is dropped.
// Audio queued at the call's own pace (`realtime`) that finds the queue full is lost, as
// in the driver; audio queued as fast as possible waits for room instead. Every drop is
// counted for the report.
//
// Each request is checked against its layout (RecorderProtocol.h); faults are violations
// like those of the IOMAN pipe: errors that fail the script, or warnings when lenient.
// Scripted faults change the driver's answers: none, silent (a count of 0: nothing
// returned), fail (result STATUS_UNSUCCESSFUL, no data), long (more bytes than the buffer
// holds), overclaim (a read whose header claims 40000 bytes returned) and transient (the
// device call itself fails with ERROR_IO_DEVICE, 1117: the pipe's failure answer, the
// count 0xFFFFFFFF and the error; the handle stays usable).
//
// The driver can go away in two ways: removed (its pipe closes under the client, no
// instance until Restore), or unplugged as a device is pulled out under an open handle:
// every request on the connection open then fails with the error given (a removed
// device's handle answers ERROR_ACCESS_DENIED while its deletion is pending) and keeps
// failing; a new client reaches the driver only once the time given has passed and that
// handle is closed.
//
// Threads: the serving thread reads requests and answers them; the script's thread queues
// records and waits for the driver's state. m_mutex guards everything below it; m_changed
// is signalled at every change a waiting command may look for.
#pragma once

#include "PipeServer_win.h"
#include "RecorderProtocol.h"
#include "SimCommon/SimLog.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvin::sim {

enum class RecFault { None, Silent, Fail, Long, Overclaim, Transient };
bool ParseRecFault(const std::string& word, RecFault* fault);
const char* RecFaultName(RecFault fault);

struct RecorderFigures {
    uint64_t recordsQueued = 0;
    uint64_t recordsRead = 0;
    uint64_t droppedUnsubscribed = 0; // queued for a channel nobody had chosen
    uint64_t droppedOverflow = 0;     // realtime audio that found the queue full
    uint64_t audioBytesQueued = 0;
    uint64_t audioBytesRead = 0;
    uint64_t reads = 0;
    uint64_t maxQueueBytes = 0;
};

class RecorderEndpoint {
public:
    static constexpr size_t kDefaultQueueLimit = 256 * 1024;

    RecorderEndpoint(SimLog& log, bool lenient, size_t queueLimit = kDefaultQueueLimit)
        : m_log(log), m_bLenient(lenient), m_queueLimit(queueLimit) {}
    ~RecorderEndpoint() { Stop(); }

    bool Start(std::string* error);
    void Stop();

    // The driver goes away: the connection is closed and no instance exists until
    // Restore. False when the serving thread did not let go in time.
    bool Remove();
    void Restore();
    // The driver unplugged: see above. Returns at once.
    void Unplug(uint32_t error, DWORD ms);

    enum class Wait { Done, TimedOut, Violation };
    // Until a registration newer than *seen exists (*seen becomes its number).
    Wait WaitRegistered(DWORD timeoutMs, uint64_t* seen, int violationsSeen);
    // Until the registered client's channel choice is `channels`.
    Wait WaitChannels(RecChannels channels, DWORD timeoutMs, int violationsSeen);
    // Until no registration exists (given back, or its client gone).
    Wait WaitUnregistered(DWORD timeoutMs, int violationsSeen);
    // Until the queue is empty.
    Wait WaitDrained(DWORD timeoutMs, int violationsSeen);

    // Queues a record of the named channel. `realtime`: dropped when the queue is full;
    // otherwise waits for room (up to `timeoutMs` without a read). False when the wait ran
    // out; *queued tells whether the record was taken (not dropped).
    bool Queue(const char* channel, std::vector<uint8_t> record, bool realtime, DWORD timeoutMs,
               bool* queued);
    // Raw bytes handed out alone by the next read, whatever the channel choice.
    void QueueRaw(std::vector<uint8_t> bytes);
    uint32_t NextSequence();

    void SetFault(RecFault fault);
    RecorderFigures Figures();

    int Violations();
    std::string ViolationText(int number);
    int Warnings();

private:
    struct Queued {
        std::string channel; // empty: raw bytes, handed out alone
        std::vector<uint8_t> bytes;
        uint32_t audioBytes = 0;
    };

    void Serve(HANDLE first);
    void ServeConnection(HANDLE pipe, int connection);
    std::vector<uint8_t> Answer(const std::vector<uint8_t>& message, int connection, int number);
    std::vector<uint8_t> ReadAnswer(const struct RecRequest& request, RecFault fault);
    bool Subscribed(const std::string& channel) const; // under m_mutex
    void DropUnsubscribed();                           // under m_mutex
    void Violation(const std::string& where, const std::string& fault);
    bool Interrupted() const { return m_bStop || m_bRemoved; }
    template <class Ready> Wait WaitFor(DWORD timeoutMs, int violationsSeen, Ready ready);

    SimLog& m_log;
    const bool m_bLenient;
    const size_t m_queueLimit;
    std::wstring m_name;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bRemoved{false};

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bServing = false; // an instance exists or a client is served
    int32_t m_registration = -1;
    uint64_t m_registrations = 0;
    uint32_t m_nextHandle = 0x100;
    RecChannels m_channels = RecChannels::None;
    std::deque<Queued> m_queue;
    size_t m_queueBytes = 0;
    uint32_t m_sequence = 0;
    RecFault m_fault = RecFault::None;
    int m_connection = 0;          // the connection being served (0: none)
    int m_unpluggedConnection = 0; // the connection whose requests fail with m_unplugError
    uint32_t m_unplugError = 0;
    ULONGLONG m_absentUntil = 0; // no new instance before this tick
    RecorderFigures m_figures;
    ULONGLONG m_lastReadTick = 0;
    std::vector<std::string> m_violations;
    int m_violationCount = 0;
    int m_warningCount = 0;
};

} // namespace orvin::sim
