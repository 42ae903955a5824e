// The window of a stand-in softphone whose API is window messages: a top-level window on
// a thread of its own that takes the agent's discover broadcasts (the protocol says which
// message is one), answers them as the script asks, takes the agent's WM_COPYDATA
// records and sends records back the same way. The protocol's own rules come in as a
// SoftphoneProtocol: which registered messages it takes, how a record is shown in the
// log, what each record from the agent must keep to, and standing replies.
//
// Every record from the agent is checked; each broken rule is an error (a warning with
// --lenient) that the next script step, or the script's end, reports as a failure.
//
// Threads: the window and its message loop run on the thread Start begins and Stop ends;
// the script runs on the caller's thread and reaches the window through the public
// operations, which wait (with time-outs) on what the window thread records. m_mutex
// guards every field below it; the window thread never holds it across a SendMessage,
// and the protocol's hooks run on the window thread (`reply` with m_mutex held).
#pragma once

#include "SimLog.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvin::sim {

// "0x..." for the log.
std::string HandleText(HWND hwnd);

// One WM_COPYDATA from the agent.
struct ReceivedRecord {
    int number = 0;                  // the first is 1
    HWND from = nullptr;             // the sender parameter
    uint32_t data = 0;               // the copy-data's data word
    std::string bytes;               // every byte the copy-data counted
    bool attached = false;           // a window had attached when it came
    bool fromAttachedWindow = false; // it came from that window
};

// One WM_COPYDATA to the agent.
struct OutgoingRecord {
    uint32_t data = 0;
    std::string bytes;
    // A standing reply sent from within the agent's record's WM_COPYDATA, before the
    // agent's SendMessage returns (a softphone that answers at once); the others go once
    // that handler has returned.
    bool inside = false;
};

struct SoftphoneProtocol {
    // What a record is called in the log and in errors ("command", "record", ...).
    std::string noun = "record";
    // A message other than WM_COPYDATA, on the window thread: true when it is the
    // protocol's (it is then answered with 0).
    std::function<bool(UINT message, WPARAM wParam, LPARAM lParam)> onMessage;
    // A received record as the log shows it.
    std::function<std::string(const ReceivedRecord&)> show;
    // A record sent as the log shows it, once delivered or not.
    std::function<std::string(const OutgoingRecord&, bool delivered)> showOutgoing;
    // The rules a received record breaks, each in words.
    std::function<std::vector<std::string>(const ReceivedRecord&)> check;
    // Standing replies: the script line of the reply that matches (0: none) and its records.
    std::function<int(const ReceivedRecord&, std::vector<OutgoingRecord>*)> reply;
};

class SoftphoneWindow {
public:
    SoftphoneWindow(SimLog& log, bool lenient) : m_log(log), m_bLenient(lenient) {}
    ~SoftphoneWindow() { Stop(); }
    SoftphoneWindow(const SoftphoneWindow&) = delete;
    SoftphoneWindow& operator=(const SoftphoneWindow&) = delete;

    bool Start(const wchar_t* windowClass, const wchar_t* title, SoftphoneProtocol protocol,
               std::string* error);
    void Stop();
    HWND Window();

    // A discover broadcast from `from` (the protocol's onMessage calls it).
    void AddDiscover(HWND from);
    // The window an attach answer goes to: the oldest discover not yet answered; with none,
    // the window answered last; with no such window, the next discover within timeoutMs.
    // With `attaches` it becomes the attached window (records come from it and go to it).
    // Otherwise no window stays attached, except with `keepsRecords` for the attached
    // window itself: told that the API is not available, it still sends what it must then
    // (ending its call, giving back the audio devices), and those records are taken as
    // its own, but nothing more goes to it.
    bool TakeAttachTarget(uint32_t timeoutMs, bool attaches, bool keepsRecords, HWND* target,
                          std::string* failure);
    // A new handshake follows: no window attached, answered or waiting.
    bool ResetHandshake(std::string* failure);
    // The attached window, or none (also after `keepsRecords`).
    HWND Agent();
    // The attached window is no more (the softphone said goodbye).
    void ForgetAgent();

    // The next record that matches; the ones before it are passed over. `what` names the
    // expectation in the failure ("no WHAT within N ms").
    bool Expect(const std::function<bool(const ReceivedRecord&)>& matches, const std::string& what,
                uint32_t timeoutMs, std::string* failure);
    // One record to the attached window; returns once it was delivered (or not).
    bool SendToAgent(const OutgoingRecord& record, std::string* failure);
    // No more answers, attach messages or records; the window closes after closeMs.
    void Vanish(uint32_t closeMs);
    // The window thread takes no message for ms (a hung softphone); returns at once.
    void Hang(uint32_t ms);
    // A broken rule found outside a record (a bad discover): reported like a record's.
    void AddViolation(const std::string& violation);

    // The first violation not yet reported, if any (each is reported once).
    bool TakeViolation(std::string* violation);
    int Warnings();

private:
    struct Outgoing {
        uint64_t sequence;
        OutgoingRecord record;
        bool bFromScript; // a send, which waits for the outcome
    };
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void ThreadMain(std::wstring windowClass, std::wstring title);
    void OnCopyData(HWND from, const COPYDATASTRUCT* data);
    void SendPending();
    void ReportLocked(const std::string& violation);

    SimLog& m_log;
    const bool m_bLenient;
    SoftphoneProtocol m_protocol;
    std::thread m_thread;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    HWND m_hwnd = nullptr;
    bool m_bClosed = false;
    bool m_bVanished = false;
    std::deque<HWND> m_discovers;  // discovering windows not yet answered
    HWND m_lastAnswered = nullptr; // the window the last attach answer went to
    // The window that attached. An answer with `keepsRecords` keeps it, so that its records
    // are still taken as its own, but clears m_bAgentAttached: answers and records go to
    // m_agent only while it is set.
    HWND m_agent = nullptr;
    bool m_bAgentAttached = false;
    std::deque<ReceivedRecord> m_received; // not yet taken by an expect
    int m_insideAnswers = 0;               // answers being sent inside a send: no expect takes a record
    int m_nReceived = 0;                   // records received, for the log
    std::vector<std::string> m_violations;
    size_t m_violationsTaken = 0;
    int m_warnings = 0;
    std::deque<Outgoing> m_outgoing;
    uint64_t m_nextSequence = 1;
    uint64_t m_sent = 0;                            // the last sequence number sent or dropped
    std::map<uint64_t, std::string> m_sendFailures; // a send's sequence -> why it failed
};

// One stand-in of a kind per desktop: the agent would attach to whichever answered first.
// A named mutex covers two stand-ins started together, before either has its window; a
// window of the class (the real program's, or a stand-in's) counts too. A stand-in that
// has just ended may still hold both for a moment, so each gets `graceMs`.
class SingleInstance {
public:
    ~SingleInstance();
    // False after an error line in the log naming `program` or the window's owner.
    bool Claim(const wchar_t* mutexName, const wchar_t* windowClass, const char* program, const char* others,
               DWORD graceMs, SimLog& log);

private:
    HANDLE m_hMutex = nullptr;
    bool m_bOwned = false;
};

} // namespace orvin::sim
