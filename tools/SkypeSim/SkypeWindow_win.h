// The Skype stand-in's window: a top-level window of Skype's main window class that
// takes the agent's discover broadcast, answers it with the attach message the script
// asks for, takes the agent's commands (WM_COPYDATA) and sends notifications the same
// way. It serves as Skype's main window and as its API window at once. With another
// profile (SimProfile.h) it plays a softphone of Skype's kind: its class, its messages,
// its attach statuses and the rules of its commands.
//
// Threads: the window and its message loop run on a thread of their own, started by
// Start and ended by Stop; the script runs on the caller's thread and reaches the window
// through the public operations, which wait (with time-outs) on what the window thread
// records. m_mutex guards every field below it; the window thread never holds it across
// a SendMessage.
#pragma once

#include "SimCommon/SimLog.h"
#include "SimProfile.h"
#include "SkypeChecks.h"
#include "SkypeScript.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvin::skypesim {

class SkypeWindow {
public:
    SkypeWindow(orvin::sim::SimLog& log, bool lenient, const SimProfile& profile = kSkypeSimProfile)
        : m_log(log), m_bLenient(lenient), m_profile(profile) {}
    ~SkypeWindow() { Stop(); }

    bool Start(std::string* error);
    void Stop();

    // attach STATUS: the profile's "available" status is broadcast at once. Any other answers the oldest
    // discover not yet answered; with none, the window answered last (a pending
    // authorisation granted or refused later, an attached agent told that the API is not
    // available); with no such window, the next discover within timeoutMs.
    bool Attach(uint32_t status, uint32_t timeoutMs, std::string* failure);
    // The next command that matches; the ones before it are passed over.
    bool ExpectCommand(const Pattern& pattern, uint32_t timeoutMs, std::string* failure);
    // One notification to the attached window; returns once it was delivered.
    bool Notify(const std::string& text, bool zero, std::string* failure);
    // A standing reply from now on (the first answer defined that matches a command wins).
    // An answer-inside is sent from within the command's WM_COPYDATA, before the agent's
    // SendMessage returns; the others once that handler has returned.
    void AddAnswer(const SkypeCommand& answer);
    // No more answers, attach messages or notifications; the window closes after closeMs.
    void Vanish(uint32_t closeMs);
    // The window thread takes no message for ms (a hung Skype); returns at once.
    void Hang(uint32_t ms);

    // The first violation not yet reported, if any (each is reported once).
    bool TakeViolation(std::string* violation);
    int Warnings();

private:
    struct Outgoing {
        uint64_t sequence;
        std::string bytes;
        bool bFromScript; // a notify, which waits for the outcome
        bool bInside;     // an answer-inside, sent while the agent's command is handled
    };
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void ThreadMain();
    void OnDiscover(HWND from);
    void OnCopyData(HWND from, const COPYDATASTRUCT* data);
    void SendPending();

    orvin::sim::SimLog& m_log;
    const bool m_bLenient;
    const SimProfile& m_profile;
    std::thread m_thread;
    HANDLE m_started = nullptr;
    UINT m_discoverMessage = 0;
    UINT m_attachMessage = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    HWND m_hwnd = nullptr;
    bool m_bClosed = false;
    bool m_bVanished = false;
    std::deque<HWND> m_discovers;  // discovering windows not yet answered
    HWND m_lastAnswered = nullptr; // the window the last attach message went to
    // The window that attached (status 0). Attach status "not available" keeps it, so that the commands
    // it still sends then (ending its call, giving back the audio devices) are taken, but
    // clears m_bAgentAttached: answers and notifications go to m_agent only while it is set.
    HWND m_agent = nullptr;
    bool m_bAgentAttached = false;
    std::deque<std::string> m_commands; // received texts not yet taken by an expect
    int m_insideAnswers = 0;            // answer-insides being sent: no expect takes a command
    int m_received = 0;                 // commands received, for the log
    std::vector<std::string> m_violations;
    size_t m_violationsTaken = 0;
    int m_warnings = 0;
    std::vector<SkypeCommand> m_answers;
    std::deque<Outgoing> m_outgoing;
    uint64_t m_nextSequence = 1;
    uint64_t m_sent = 0;                              // the last sequence number sent or dropped
    std::map<uint64_t, std::string> m_notifyFailures; // a notify's sequence -> why it failed
};

} // namespace orvin::skypesim
