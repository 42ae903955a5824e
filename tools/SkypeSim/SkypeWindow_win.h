// The Skype stand-in's window: a top-level window of Skype's main window class that
// takes the agent's discover broadcast, answers it with the attach message the script
// asks for, takes the agent's commands (WM_COPYDATA) and sends notifications the same
// way. It serves as Skype's main window and as its API window at once. With another
// profile (SimProfile.h) it plays a softphone of Skype's kind: its class, its messages,
// its attach statuses and the rules of its commands. The window itself
// (its thread, the handshake's bookkeeping, the records both ways, vanishing) is the
// stand-ins' shared SoftphoneWindow; this adds Skype's messages, its checks and answers.
//
// Threads: as SoftphoneWindow's. m_answersMutex guards the answers, which the window
// thread reads.
#pragma once

#include "SimCommon/SimLog.h"
#include "SimCommon/SoftphoneWindow_win.h"
#include "SimProfile.h"
#include "SkypeChecks.h"
#include "SkypeScript.h"

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace orvin::skypesim {

class SkypeWindow {
public:
    SkypeWindow(orvin::sim::SimLog& log, bool lenient, const SimProfile& profile = kSkypeSimProfile)
        : m_log(log), m_profile(profile), m_window(log, lenient) {}
    ~SkypeWindow() { Stop(); }

    bool Start(std::string* error);
    void Stop() { m_window.Stop(); }

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
    void Vanish(uint32_t closeMs) { m_window.Vanish(closeMs); }
    // The window thread takes no message for ms (a hung Skype); returns at once.
    void Hang(uint32_t ms) { m_window.Hang(ms); }

    // The first violation not yet reported, if any (each is reported once).
    bool TakeViolation(std::string* violation) { return m_window.TakeViolation(violation); }
    int Warnings() { return m_window.Warnings(); }

private:
    int Reply(const orvin::sim::ReceivedRecord& received, std::vector<orvin::sim::OutgoingRecord>* replies);

    orvin::sim::SimLog& m_log;
    const SimProfile& m_profile;
    orvin::sim::SoftphoneWindow m_window;
    UINT m_discoverMessage = 0;
    UINT m_attachMessage = 0;
    std::mutex m_answersMutex;
    std::vector<SkypeCommand> m_answers;
};

} // namespace orvin::skypesim
