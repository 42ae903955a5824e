// EyeBeamSim.exe: a stand-in for EyeBeam's window-message API as the agent uses it. A
// top-level window takes the agent's "m_WM_EYEBEAM_API_REGISTER" broadcast, answers it
// with the same message (its window, 1) when the script attaches, takes the agent's
// 620-byte records (WM_COPYDATA) and sends records back the same way. Every record the
// agent sends is checked (EyeBeamScript.h), so a test catches an agent fault even where
// no expect names it.
#include "EyeBeamScript.h"
#include "SimCommon/SimLog.h"
#include "SimCommon/SimProgram.h"
#include "SimCommon/SoftphoneWindow_win.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace orvin::eyebeamsim;
using namespace orvin::sim;

namespace {

const wchar_t kWindowClass[] = L"OrvinEyeBeamSim";
constexpr DWORD kOtherInstanceGraceMs = 3000;

const char kHelp[] = R"(EyeBeamSim - stand-in for EyeBeam's window-message API, driven by a script.

usage: EyeBeamSim.exe [options] [SCRIPT]
       EyeBeamSim.exe [options] --interactive

Opens a top-level window of class "OrvinEyeBeamSim". The agent discovers EyeBeam by
sending the registered message "m_WM_EYEBEAM_API_REGISTER" to every top-level window
with its window and 0; `attach` answers with the same message carrying this window and
1, `detach` with 0, and `available` broadcasts "m_WM_EYEBEAM_API_AVAILABLE". Records go
both ways as WM_COPYDATA: 620 bytes shaped like the adapter's IMM message, a 32-bit
little-endian type at 0, code (event) at 4, info at 8.

Every record the agent sends is checked: it must come after the attach handshake, from
the window that attached, with copy-data word 0, be exactly 620 bytes with only zeros
after Info, and be one the agent sends: type 0 with a call status 0..14 and Info 0, type
1 code 1 with a key (0-9 * # A-D), type 1 code 13 with Info 16 (dial) or 17 (hang up).
Each fault is an error naming the record, and fails the command that runs (or the
script at its end).

Options:
  --script FILE    the script (or give it as the last argument)
  --interactive    read the commands from standard input instead, running each at once
  --log FILE       one line per record received (RX) and sent (TX), discover, handshake
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
  available                 broadcast "API available": the agent discovers again
  detach                    tell the attached window goodbye (register message with 0)
  expect TYPE CODE [info=N] [timeout=MS]
                            the next record that matches; the ones before it are logged
                            and passed over (default 5000 ms)
  send TYPE EVENT [info=N] [size=N]
                            one record to the attached window (620 bytes unless size says
                            otherwise: cut short, or zeros added)
  sleep MS
  hang MS                   the window takes no message at all for MS ms (a hung EyeBeam:
                            the agent's sends time out); the script goes on at once
  vanish [close=MS]         no more answers or records (EyeBeam hangs); the window closes
                            after MS ms (default at once)

Numbers: decimal, 0x hex, or a character in single quotes ('5').

Exit status: 0 when the script ran to its end with every expectation met and the agent
kept to the protocol; 1 when a command failed or the agent broke the protocol (the line
number and what went wrong go to standard error and the log); 2 for bad options or script
faults (all reported with their line numbers before anything runs); 3 when another
EyeBeamSim has its window and keeps it for 3 s.
)";

class EyeBeamWindow {
public:
    EyeBeamWindow(SimLog& log, bool lenient) : m_log(log), m_window(log, lenient) {}

    bool Start(std::string* error) {
        m_registerMessage = RegisterWindowMessageW(L"m_WM_EYEBEAM_API_REGISTER");
        m_availableMessage = RegisterWindowMessageW(L"m_WM_EYEBEAM_API_AVAILABLE");
        SoftphoneProtocol protocol;
        protocol.noun = "record";
        protocol.onMessage = [this](UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == m_availableMessage) {
                return true; // our own broadcast
            }
            if (message != m_registerMessage) {
                return false;
            }
            HWND from = reinterpret_cast<HWND>(wParam);
            if (from == m_window.Window()) {
                return true;
            }
            if (lParam == 0) {
                m_window.AddDiscover(from);
            } else {
                m_window.AddViolation("a register message from " + HandleText(from) + " with " +
                                      std::to_string((long long)lParam) + ": a discover carries 0");
            }
            return true;
        };
        protocol.show = [](const ReceivedRecord& received) { return ShowEyeBeamRecord(received.bytes); };
        protocol.showOutgoing = [](const OutgoingRecord& record, bool) {
            return ShowEyeBeamRecord(record.bytes);
        };
        protocol.check = [](const ReceivedRecord& received) {
            return CheckEyeBeamRecord(
                {received.data, received.bytes, received.attached, received.fromAttachedWindow});
        };
        return m_window.Start(kWindowClass, L"EyeBeam", std::move(protocol), error);
    }
    void Stop() { m_window.Stop(); }

    bool Run(const EyeBeamCommand& command, std::string* failure) {
        bool ok = true;
        switch (command.kind) {
        case EyeBeamCommandKind::Attach: {
            HWND target = nullptr;
            ok = m_window.TakeAttachTarget(command.timeoutMs, true, false, &target, failure);
            if (ok) {
                m_log.Line("attach to %s", HandleText(target).c_str());
                ok = Post(target, 1, failure);
            }
            break;
        }
        case EyeBeamCommandKind::Available:
            ok = m_window.ResetHandshake(failure);
            if (ok) {
                m_log.Line("available: broadcast");
                ok = PostMessageW(HWND_BROADCAST, m_availableMessage, (WPARAM)m_window.Window(), 0) != 0;
                if (!ok) {
                    *failure = "the broadcast failed: " + std::to_string(GetLastError());
                }
            }
            break;
        case EyeBeamCommandKind::Detach: {
            HWND agent = m_window.Agent();
            if (!agent) {
                *failure = "no window attached";
                return false;
            }
            m_window.ForgetAgent();
            m_log.Line("detach from %s", HandleText(agent).c_str());
            ok = Post(agent, 0, failure);
            break;
        }
        case EyeBeamCommandKind::Expect: {
            char what[96];
            snprintf(what, sizeof what, "record type=%d code=%d", command.type, command.code);
            std::string described = what;
            if (command.info) {
                described += " info=" + std::to_string(*command.info);
            }
            ok = m_window.Expect(
                [&](const ReceivedRecord& received) { return MatchesExpect(command, received.bytes); },
                described, command.timeoutMs, failure);
            break;
        }
        case EyeBeamCommandKind::Send:
            ok = m_window.SendToAgent({0, MakeEyeBeamRecord(command)}, failure);
            break;
        case EyeBeamCommandKind::Sleep:
            Sleep(command.ms);
            break;
        case EyeBeamCommandKind::Hang:
            m_window.Hang(command.ms);
            break;
        case EyeBeamCommandKind::Vanish:
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
    bool Post(HWND target, LPARAM attached, std::string* failure) {
        if (PostMessageW(target, m_registerMessage, (WPARAM)m_window.Window(), attached)) {
            return true;
        }
        *failure = "the register message could not be posted to " + HandleText(target) + ": " +
                   std::to_string(GetLastError());
        return false;
    }

    SimLog& m_log;
    SoftphoneWindow m_window;
    UINT m_registerMessage = 0;
    UINT m_availableMessage = 0;
};

} // namespace

int main(int argc, char** argv) {
    SimOptions options;
    bool help = false;
    if (!ParseSimOptions("EyeBeamSim", argc, argv, &options, &help)) {
        return kSimExitBadInput;
    }
    if (help) {
        fputs(kHelp, stdout);
        return kSimExitOk;
    }
    std::vector<EyeBeamCommand> commands;
    if (!options.interactive) {
        auto parseLine = [&](const std::string& text, int line, std::string* error) {
            std::optional<EyeBeamCommand> command;
            if (!ParseEyeBeamLine(text, line, &command, error)) {
                return false;
            }
            if (command) {
                commands.push_back(*command);
            }
            return true;
        };
        if (!LoadScript("EyeBeamSim", options, parseLine)) {
            return kSimExitBadInput;
        }
    }
    if (options.checkOnly) {
        return kSimExitOk;
    }

    SimLog log("EyeBeamSim");
    if (!OpenSimLog("EyeBeamSim", options, &log)) {
        return kSimExitBadInput;
    }
    SingleInstance single;
    if (!single.Claim(L"OrvinEyeBeamSim.SingleInstance", kWindowClass, "EyeBeamSim", "another EyeBeamSim",
                      kOtherInstanceGraceMs, log)) {
        return kSimExitOtherInstance;
    }
    EyeBeamWindow window(log, options.lenient);
    std::string error;
    if (!window.Start(&error)) {
        log.Error("%s", error.c_str());
        return kSimExitFailed;
    }
    log.Line("window of class OrvinEyeBeamSim open");

    auto run = [&](const EyeBeamCommand& command, std::string* failure) {
        return window.Run(command, failure);
    };
    int status = options.interactive ? RunInteractiveCommands<EyeBeamCommand>(log, ParseEyeBeamLine, run)
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
