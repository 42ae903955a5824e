// SkypeSim.exe: a stand-in for Skype's desktop API as the agent uses it. A top-level
// window of Skype's main window class answers the agent's discover broadcast with the
// attach message of the status the script asks for, takes the agent's commands
// (WM_COPYDATA, UTF-8, one per message) and sends notifications the same way, by script
// and by standing answers. It also checks every command the agent sends (SkypeChecks.h),
// so a test catches an agent fault even where no expect-command names it.
#include "SimCommon/SimLog.h"
#include "SimCommon/SimProgram.h"
#include "SimCommon/SoftphoneWindow_win.h"
#include "SkypeScript.h"
#include "SkypeWindow_win.h"

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

using namespace orvin::skypesim;
using orvin::sim::SimLog;
using Options = orvin::sim::SimOptions;

namespace {

enum ExitStatus {
    kExitOk = orvin::sim::kSimExitOk,
    kExitScriptFailed = orvin::sim::kSimExitFailed,      // an expectation was not met, a command could not be
                                                         // done, or the agent broke the protocol
    kExitBadInput = orvin::sim::kSimExitBadInput,        // bad options, or faults in the script
    kExitOtherSkype = orvin::sim::kSimExitOtherInstance, // a window of Skype's class exists already
};

// How long a starting stand-in waits for one that is ending.
constexpr DWORD kOtherSkypeGraceMs = 3000;

const char kHelp[] = R"(SkypeSim - stand-in for Skype's desktop API, driven by a script.

usage: SkypeSim.exe [options] [SCRIPT]
       SkypeSim.exe [options] --interactive

Opens a top-level window of class "tSkMainForm.UnicodeClass" (Skype's main window and
API window at once), answers the "SkypeControlAPIDiscover" broadcast with
"SkypeControlAPIAttach" (first parameter this window, second the status), takes commands
as WM_COPYDATA (UTF-8, one per message) and sends notifications the same way to the
window that attached. Runs SCRIPT and exits when it ends.

Every command the agent sends is checked: it must come after the attach handshake
(the agent's window was answered with status 0), from the window that attached, with
copy-data word 0, carry its terminating zero (the length counts the text and the zero,
and no other byte is zero), hold at most 255 bytes of text and be well-formed UTF-8.
Each fault is an error naming the command, and fails the command that runs (or the
script at its end).

Options:
  --script FILE    the script (or give it as the last argument)
  --interactive    read the commands from standard input instead, running each at once
  --log FILE       one line per command received (RX), notification sent (TX), discover,
                   attach message and script step
  --quiet          no log lines on standard output
  --log-qpc        stamp each log line also with the performance counter, [SECONDS @COUNT]
                   (one clock for all processes: a message timed across logs)
  --lenient        log the agent's faults as warnings instead of failing
  --check          check the script and exit (status 0 or 2)
  --help           this text

Script: one command per line; '#' outside quotes starts a comment.
  attach STATUS [timeout=MS]      answer the oldest discover not yet answered; with none,
                                  the window answered last (to grant or refuse a pending
                                  authorisation later, or to tell an attached agent the API
                                  is not available); with no such window, wait for a
                                  discover (default 10000 ms). STATUS available is
                                  broadcast to every top-level window at once, and the
                                  agent must attach again. After unavailable the attached
                                  window's commands are still taken (it ends its call and
                                  gives back the audio devices then), but nothing is sent
                                  to it any more.
  expect-command PATTERN [timeout=MS]
                                  the next command that matches; the ones before it are
                                  logged and passed over (default 5000 ms)
  notify TEXT [zero=0]            one notification to the attached window (zero=0: without
                                  the terminating zero)
  answer PATTERN => NOTIFICATION [| NOTIFICATION ...]
                                  from now on, answer every command that matches with these
                                  notifications, in order (the first answer given that
                                  matches wins; the command is still there for
                                  expect-command). They are sent once the command's
                                  WM_COPYDATA has been handled, as Skype does.
  answer-inside PATTERN => NOTIFICATION [| NOTIFICATION ...]
                                  the same, but sent from within the command's
                                  WM_COPYDATA, before the agent's SendMessage returns: the
                                  agent takes the notification in the middle of sending
                                  (expect-command takes the command once they are sent)
  sleep MS
  vanish [close=MS]               no more answers, attach messages or notifications (Skype
                                  hangs); the window closes after MS ms (default at once)
  hang MS                         the window takes no message at all for MS ms (a hung
                                  Skype: the agent's SendMessage waits); the script goes
                                  on at once

Values:
  STATUS   success (0), pending (1), refused (2), unavailable (3), available (0x8001), or
           any number
  TEXT     the words that follow, joined by single blanks; a word may be "quoted" with
           \" \\ \n \r \t \0 \xHH; quote a text with '#', '=', '|', runs of blanks or a
           trailing blank
  PATTERN  a TEXT in which * stands for any run of bytes (the shortest that lets the rest
           match) and ? for one byte; "\*" and "\?" in quotes are the characters. Case
           counts; the whole command must match.
  NOTIFICATION
           a TEXT in which $1..$9 stand for what the first..ninth * of the PATTERN took,
           $0 for the whole command and $$ for a dollar sign:
             answer get user * speeddial => USER $1 SPEEDDIAL 12
  MS       milliseconds

Exit status: 0 when the script ran to its end with every expectation met and the agent
kept to the protocol; 1 when a command failed or the agent broke the protocol (the line
number and what went wrong go to standard error and the log); 2 for bad options or script
faults (all reported with their line numbers before anything runs); 3 when a window of
Skype's class exists already (a Skype or another SkypeSim) and stays for 3 s.
)";

// One command; false with *failure when it could not do what it says, or when the agent
// broke the protocol while it ran or before.
bool Run(SkypeWindow& window, const SkypeCommand& command, std::string* failure) {
    bool ok = true;
    switch (command.kind) {
    case SkypeCommandKind::Attach:
        ok = window.Attach(command.status, command.timeoutMs, failure);
        break;
    case SkypeCommandKind::ExpectCommand:
        ok = window.ExpectCommand(command.pattern, command.timeoutMs, failure);
        break;
    case SkypeCommandKind::Notify:
        ok = window.Notify(command.text, command.zero, failure);
        break;
    case SkypeCommandKind::Answer:
    case SkypeCommandKind::AnswerInside:
        window.AddAnswer(command);
        break;
    case SkypeCommandKind::Hang:
        window.Hang(command.ms);
        break;
    case SkypeCommandKind::Sleep:
        Sleep(command.ms);
        break;
    case SkypeCommandKind::Vanish:
        window.Vanish(command.ms);
        break;
    default:
        *failure = "not a command of this program";
        return false;
    }
    std::string violation;
    if (ok && window.TakeViolation(&violation)) {
        *failure = violation;
        return false;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!orvin::sim::ParseSimOptions("SkypeSim", argc, argv, &options, &help)) {
        return kExitBadInput;
    }
    if (help) {
        fputs(kHelp, stdout);
        return kExitOk;
    }

    std::vector<SkypeCommand> commands;
    if (!options.interactive) {
        auto parseLine = [&](const std::string& text, int line, std::string* error) {
            std::optional<SkypeCommand> command;
            if (!ParseSkypeScriptLine(text, line, kSkypeSimCommands, &command, error)) {
                return false;
            }
            if (command) {
                commands.push_back(std::move(*command));
            }
            return true;
        };
        if (!orvin::sim::LoadScript("SkypeSim", options, parseLine)) {
            return kExitBadInput;
        }
    }
    if (options.checkOnly) {
        return kExitOk;
    }

    SimLog log("SkypeSim");
    if (!orvin::sim::OpenSimLog("SkypeSim", options, &log)) {
        return kExitBadInput;
    }
    orvin::sim::SingleInstance single;
    if (!single.Claim(L"OrvinSkypeSim.SingleInstance", kSkypeWindowClass, "SkypeSim",
                      "another Skype or SkypeSim", kOtherSkypeGraceMs, log)) {
        return kExitOtherSkype;
    }

    SkypeWindow window(log, options.lenient);
    std::string error;
    if (!window.Start(&error)) {
        log.Error("%s", error.c_str());
        return kExitScriptFailed;
    }
    log.Line("window of class tSkMainForm.UnicodeClass open");

    auto run = [&](const SkypeCommand& command, std::string* failure) {
        return Run(window, command, failure);
    };
    auto parse = [](const std::string& text, int line, std::optional<SkypeCommand>* command,
                    std::string* error) {
        return ParseSkypeScriptLine(text, line, kSkypeSimCommands, command, error);
    };
    int status = options.interactive ? orvin::sim::RunInteractiveCommands<SkypeCommand>(log, parse, run)
                                     : orvin::sim::RunScriptCommands(log, commands, run);

    window.Stop();
    // What the agent sent after the last command counts too.
    std::string violation;
    if (window.TakeViolation(&violation) && status == kExitOk) {
        log.Error("after the script: %s", violation.c_str());
        status = kExitScriptFailed;
    }
    if (window.Warnings()) {
        log.Line("%d fault(s) against the protocol passed over (--lenient)", window.Warnings());
    }
    log.Line("exit %d", status);
    return status;
}
