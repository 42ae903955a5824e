// QQSim.exe: a stand-in for QQ's window-message API as the agent uses it. A top-level
// window takes the agent's "WM_QQAPI_REGISTER" broadcast, answers it with
// "WM_QQAPI_REGISTER_RESP" when the script attaches, takes the agent's messages
// (WM_COPYDATA: the event as the data word, tag-length-value items as the data) and sends
// messages back the same way. Every message the agent sends is checked, item by item
// (QQScript.h), so a test catches an agent fault even where no expect names it.
#include "QQScript.h"
#include "SimCommon/SimLog.h"
#include "SimCommon/SimProgram.h"
#include "SimCommon/SoftphoneWindow_win.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace orvin::qqsim;
using namespace orvin::sim;

namespace {

const wchar_t kWindowClass[] = L"OrvinQQSim";
constexpr DWORD kOtherInstanceGraceMs = 3000;
constexpr LPARAM kDiscoverParameter = 100;
constexpr WPARAM kRegisteredParameter = 2;

const char kHelp[] = R"(QQSim - stand-in for QQ's window-message API, driven by a script.

usage: QQSim.exe [options] [SCRIPT]
       QQSim.exe [options] --interactive

Opens a top-level window of class "OrvinQQSim". The agent discovers QQ by sending the
registered message "WM_QQAPI_REGISTER" to every top-level window with its window and
100; `attach` answers with "WM_QQAPI_REGISTER_RESP" carrying 2 and this window, and
`available` broadcasts "WM_QQAPI_AVAILABLE". Messages go both ways as WM_COPYDATA: the
event as the data word, and as the data tag-length-value items (a 1-byte tag, a 32-bit
little-endian length, the value).

Every message the agent sends is checked: it must come after the attach handshake, from
the window that attached, hold whole items and nothing else, and be one the agent sends,
with the items that event carries:
  10  5:textz (the device's name) then 6:u32 (its id), or 6:u32:0 alone
  12  7:byte:145 (answer) or 7:byte:146 (end)
  13  one item of tag 3 (fewer than 3 digits) or tag 1: the digits 0-9, no NUL
  19  8:byte (a QQ call status 1..10) then 9:u32 (the call id)
Each fault is an error naming the message, and fails the command that runs (or the
script at its end).

Options:
  --script FILE    the script (or give it as the last argument)
  --interactive    read the commands from standard input instead, running each at once
  --log FILE       one line per message received (RX) and sent (TX), discover, handshake
                   message and script step
  --quiet          no log lines on standard output
  --log-qpc        stamp each log line also with the performance counter, [SECONDS @COUNT]
                   (one clock for all processes: a message timed across logs)
  --lenient        log the agent's faults as warnings instead of failing
  --check          check the script and exit (status 0 or 2)
  --help           this text

Script: one command per line; '#' outside quotes starts a comment.
  attach [timeout=MS]       answer the oldest discover not yet answered; with none, the
                            window answered last; with no such window, wait for a discover
                            (default 10000 ms)
  available                 broadcast "WM_QQAPI_AVAILABLE": the agent discovers again
  expect EVENT [ITEM ...] [timeout=MS]
                            the next message of that event whose items are exactly these
                            (any items when none are given); the ones before it are logged
                            and passed over (default 5000 ms)
  send EVENT [ITEM ...]     one message to the attached window
  send-raw EVENT HEX        one message whose data are these bytes
  sleep MS
  hang MS                   the window takes no message at all for MS ms (a hung QQ: the
                            agent's sends time out); the script goes on at once
  vanish [close=MS]         no more answers or messages (QQ hangs); the window closes
                            after MS ms (default at once)

ITEM: TAG:byte:N, TAG:u32:N, TAG:text:TEXT (without NUL), TAG:textz:TEXT (with its NUL),
TAG:hex:HEX, and for expect TAG:any. TEXT is a word or "quoted" with \" \\ \n \r \t \0
\xHH. Events QQ sends: 17 status change, 18 shutdown, 19 call status (8:byte:STATUS,
the handle as 9:u32, then the caller's texts), 20 error.
  send 19 8:byte:2 9:u32:77 10:textz:alice      a call rings, from alice

Exit status: 0 when the script ran to its end with every expectation met and the agent
kept to the protocol; 1 when a command failed or the agent broke the protocol (the line
number and what went wrong go to standard error and the log); 2 for bad options or script
faults (all reported with their line numbers before anything runs); 3 when another QQSim
has its window and keeps it for 3 s.
)";

class QQWindow {
public:
    QQWindow(SimLog& log, bool lenient) : m_log(log), m_window(log, lenient) {}

    bool Start(std::string* error) {
        m_registerMessage = RegisterWindowMessageW(L"WM_QQAPI_REGISTER");
        m_responseMessage = RegisterWindowMessageW(L"WM_QQAPI_REGISTER_RESP");
        m_availableMessage = RegisterWindowMessageW(L"WM_QQAPI_AVAILABLE");
        SoftphoneProtocol protocol;
        protocol.noun = "message";
        protocol.onMessage = [this](UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == m_availableMessage || message == m_responseMessage) {
                return true; // our own broadcast, or another QQ's answer
            }
            if (message != m_registerMessage) {
                return false;
            }
            HWND from = reinterpret_cast<HWND>(wParam);
            if (lParam != kDiscoverParameter) {
                m_window.AddViolation("a discover from " + HandleText(from) + " with " +
                                      std::to_string((long long)lParam) + ": it carries 100");
            }
            if (!IsWindow(from)) {
                m_window.AddViolation("a discover whose first parameter " + HandleText(from) +
                                      " is no window");
                return true;
            }
            m_window.AddDiscover(from);
            return true;
        };
        protocol.show = [](const ReceivedRecord& received) {
            return ShowQQMessage(received.data, received.bytes);
        };
        protocol.showOutgoing = [](const OutgoingRecord& record, bool) {
            return ShowQQMessage(record.data, record.bytes);
        };
        protocol.check = [](const ReceivedRecord& received) {
            return CheckQQMessage(
                {received.data, received.bytes, received.attached, received.fromAttachedWindow});
        };
        return m_window.Start(kWindowClass, L"QQ", std::move(protocol), error);
    }
    void Stop() { m_window.Stop(); }

    bool Run(const QQCommand& command, std::string* failure) {
        bool ok = true;
        switch (command.kind) {
        case QQCommandKind::Attach: {
            HWND target = nullptr;
            ok = m_window.TakeAttachTarget(command.timeoutMs, true, false, &target, failure);
            if (ok) {
                m_log.Line("attach to %s", HandleText(target).c_str());
                if (!PostMessageW(target, m_responseMessage, kRegisteredParameter,
                                  (LPARAM)m_window.Window())) {
                    *failure = "the response could not be posted to " + HandleText(target) + ": " +
                               std::to_string(GetLastError());
                    ok = false;
                }
            }
            break;
        }
        case QQCommandKind::Available:
            ok = m_window.ResetHandshake(failure);
            if (ok) {
                m_log.Line("available: broadcast");
                ok = PostMessageW(HWND_BROADCAST, m_availableMessage, (WPARAM)m_window.Window(), 0) != 0;
                if (!ok) {
                    *failure = "the broadcast failed: " + std::to_string(GetLastError());
                }
            }
            break;
        case QQCommandKind::Expect: {
            std::string what = "message of event " + std::to_string(command.event);
            if (!command.anyItems) {
                what += " with " +
                        ShowQQMessage(command.event, MakeQQData(command))
                            .substr(std::string("event=").size() + std::to_string(command.event).size() + 1);
            }
            ok = m_window.Expect(
                [&](const ReceivedRecord& received) {
                    return MatchesExpect(command, received.data, received.bytes);
                },
                what, command.timeoutMs, failure);
            break;
        }
        case QQCommandKind::Send:
        case QQCommandKind::SendRaw:
            ok = m_window.SendToAgent({command.event, MakeQQData(command)}, failure);
            break;
        case QQCommandKind::Sleep:
            Sleep(command.ms);
            break;
        case QQCommandKind::Hang:
            m_window.Hang(command.ms);
            break;
        case QQCommandKind::Vanish:
            m_window.Vanish(command.ms);
            break;
        }
        std::string violation;
        if (ok && m_window.TakeViolation(&violation)) {
            *failure = violation;
            return false;
        }
        return ok;
    }

    bool TakeViolation(std::string* violation) { return m_window.TakeViolation(violation); }
    int Warnings() { return m_window.Warnings(); }

private:
    SimLog& m_log;
    SoftphoneWindow m_window;
    UINT m_registerMessage = 0;
    UINT m_responseMessage = 0;
    UINT m_availableMessage = 0;
};

} // namespace

int main(int argc, char** argv) {
    SimOptions options;
    bool help = false;
    if (!ParseSimOptions("QQSim", argc, argv, &options, &help)) {
        return kSimExitBadInput;
    }
    if (help) {
        fputs(kHelp, stdout);
        return kSimExitOk;
    }
    std::vector<QQCommand> commands;
    if (!options.interactive) {
        auto parseLine = [&](const std::string& text, int line, std::string* error) {
            std::optional<QQCommand> command;
            if (!ParseQQLine(text, line, &command, error)) {
                return false;
            }
            if (command) {
                commands.push_back(*command);
            }
            return true;
        };
        if (!LoadScript("QQSim", options, parseLine)) {
            return kSimExitBadInput;
        }
    }
    if (options.checkOnly) {
        return kSimExitOk;
    }

    SimLog log("QQSim");
    if (!OpenSimLog("QQSim", options, &log)) {
        return kSimExitBadInput;
    }
    SingleInstance single;
    if (!single.Claim(L"OrvinQQSim.SingleInstance", kWindowClass, "QQSim", "another QQSim",
                      kOtherInstanceGraceMs, log)) {
        return kSimExitOtherInstance;
    }
    QQWindow window(log, options.lenient);
    std::string error;
    if (!window.Start(&error)) {
        log.Error("%s", error.c_str());
        return kSimExitFailed;
    }
    log.Line("window of class OrvinQQSim open");

    auto run = [&](const QQCommand& command, std::string* failure) { return window.Run(command, failure); };
    int status = options.interactive ? RunInteractiveCommands<QQCommand>(log, ParseQQLine, run)
                                     : RunScriptCommands(log, commands, run);
    window.Stop();
    // What the agent sent after the last command counts too.
    std::string violation;
    if (window.TakeViolation(&violation) && status == kSimExitOk) {
        log.Error("after the script: %s", violation.c_str());
        status = kSimExitFailed;
    }
    if (window.Warnings()) {
        log.Line("%d fault(s) against the protocol passed over (--lenient)", window.Warnings());
    }
    log.Line("exit %d", status);
    return status;
}
