// LibraryLink: the control program's end of the control pipe. It serves \\.\pipe\NAME to
// one library (the stand-in TelTelAPI.DLL inside an agent) at a time, and a new one after
// a connection ends; it logs and checks every call the library reports (TelTelChecks.h),
// keeps the calls for the script's expectations, tells the library TelTel's readiness and
// the functions' answers (at once, and again to every new connection), and asks it to run
// callbacks and post window messages, waiting for their answers.
//
// Threads: the link's own thread serves the pipe and takes the library's lines; every
// other member is for the thread that runs the script. The fields shared between them are
// guarded by m_mutex.
#pragma once

#include "SimCommon/SimLog.h"
#include "TelTelChecks.h"
#include "TelTelWire.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvin::teltelsim {

class LibraryLink {
public:
    static constexpr DWORD kAnswerMs = 5000; // the longest wait for a fired or posted line

    LibraryLink(sim::SimLog& log, bool lenient, const std::string& pipeName);
    ~LibraryLink();
    LibraryLink(const LibraryLink&) = delete;
    LibraryLink& operator=(const LibraryLink&) = delete;

    // Serves the pipe. False with *error; *busy when another program serves it already.
    bool Start(std::string* error, bool* busy);
    void Stop();

    void SetReady(int64_t value);
    void SetResult(const std::string& function, int64_t value);
    // Has the library run a callback; false with *failure when there is no library, it
    // could not run it, or it did not return within kAnswerMs.
    bool Fire(CallbackEvent event, int64_t value, bool newThread, std::string* failure);
    bool Post(uint32_t message, uint64_t wParam, uint64_t lParam, std::string* failure);

    // The oldest call not yet taken, waiting up to timeoutMs; false when none came.
    bool NextCall(DWORD timeoutMs, CallRecord* call);
    // Until the count of connections exceeds `seen`; the new count in *count.
    bool WaitConnection(uint64_t seen, DWORD timeoutMs, uint64_t* count);
    // Until no library is connected.
    bool WaitGone(DWORD timeoutMs);

    // The first fault of the agent's not yet reported to the script, if any.
    bool TakeViolation(std::string* violation);
    int Warnings() const { return m_nWarnings; }

private:
    struct Request {
        bool done = false;
        bool ok = false;
        std::string reason;
        CallbackEvent event = CallbackEvent::RingStart;
        int64_t value = 0;
        bool newThread = false;
    };

    void Serve();
    void Handle(const std::string& line, uint32_t* pid);
    void Fault(const std::string& fault); // with m_mutex held
    bool Write(const std::string& line);  // to the connected library
    bool Ask(const ControlLine& line, Request* request, std::string* failure);

    sim::SimLog& m_log;
    const bool m_bLenient;
    const std::string m_PipePath;
    HANDLE m_hPipe = INVALID_HANDLE_VALUE;
    HANDLE m_hStop = nullptr;
    std::thread m_thread;
    std::mutex m_writeMutex; // one write at a time

    std::mutex m_mutex; // guards everything below
    std::condition_variable m_changed;
    bool m_bConnected = false;
    uint64_t m_nConnections = 0;
    std::deque<CallRecord> m_Calls;
    CallChecker m_Checker;
    std::vector<std::string> m_Violations;
    int m_nWarnings = 0;
    int64_t m_nReady = 0;
    std::map<std::string, int64_t> m_Results;
    uint32_t m_nNextId = 1;
    std::map<uint32_t, Request*> m_Requests;
    long long m_nFrequency = 1;
};

} // namespace orvin::teltelsim
