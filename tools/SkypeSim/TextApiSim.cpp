// The program of the Skype stand-in, for every softphone of Skype's kind (SimProfile.h):
// options, the script run or the interactive session, the one-stand-in-at-a-time rule and
// the exit status. SkypeSim.exe, TessaroSim.exe and ThinkItSim.exe each call it with their
// profile. A top-level window of the softphone's class answers the agent's discover
// broadcast with the attach message of the status the script asks for, takes the agent's
// commands (WM_COPYDATA, one per message) and sends notifications the same way, by script
// and by standing answers. It also checks every command the agent sends (SkypeChecks.h),
// so a test catches an agent fault even where no expect-command names it.
#include "TextApiSim.h"

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

namespace orvin::skypesim {

using orvin::sim::SimLog;
using Options = orvin::sim::SimOptions;

namespace {

enum ExitStatus {
    kExitOk = orvin::sim::kSimExitOk,
    kExitScriptFailed = orvin::sim::kSimExitFailed, // an expectation was not met, a command could not be
                                                    // done, or the agent broke the protocol
    kExitBadInput = orvin::sim::kSimExitBadInput,   // bad options, or faults in the script
    kExitOtherSoftphone =
        orvin::sim::kSimExitOtherInstance, // a window of the softphone's class exists already
};

// How long a starting stand-in waits for one that is ending.
constexpr DWORD kOtherSoftphoneGraceMs = 3000;

const char kHelpTemplate[] = R"({PROGRAM} - stand-in for {SOFTPHONE}'s desktop API, driven by a script.

usage: {PROGRAM}.exe [options] [SCRIPT]
       {PROGRAM}.exe [options] --interactive

Opens a top-level window of class "{CLASS}" ({SOFTPHONE}'s main window and
API window at once), answers the "{DISCOVER}" broadcast with
"{ATTACH}" (first parameter this window, second the status), takes commands
as WM_COPYDATA ({ENCODING}) and sends notifications the same way to the
window that attached. Runs SCRIPT and exits when it ends.

Every command the agent sends is checked: it must come after the attach handshake
(the agent's window was answered with status 0), from the window that attached, with
copy-data word 0, carry its terminating zero (the length counts the text and the zero,
and no other byte is zero), {TEXTRULES}.
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
                                  WM_COPYDATA has been handled, as {SOFTPHONE} does.
  answer-inside PATTERN => NOTIFICATION [| NOTIFICATION ...]
                                  the same, but sent from within the command's
                                  WM_COPYDATA, before the agent's SendMessage returns: the
                                  agent takes the notification in the middle of sending
                                  (expect-command takes the command once they are sent)
  sleep MS
  vanish [close=MS]               no more answers, attach messages or notifications (the
                                  softphone hangs); the window closes after MS ms (default
                                  at once)
  hang MS                         the window takes no message at all for MS ms (a hung
                                  softphone: the agent's SendMessage waits); the script
                                  goes on at once

Values:
  STATUS   {STATUSES}
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
{SOFTPHONE}'s class exists already (a {SOFTPHONE} or another {PROGRAM}) and stays for 3 s.
)";

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
    for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
        text->replace(at, from.size(), to);
    }
}

std::string HelpText(const SimProfile& profile) {
    std::string statuses;
    for (size_t i = 0; i < profile.statuses->count; ++i) {
        char number[16];
        snprintf(number, sizeof number, profile.statuses->entries[i].status > 9 ? "0x%x" : "%u",
                 (unsigned)profile.statuses->entries[i].status);
        statuses += std::string(profile.statuses->entries[i].name) + " (" + number + "), ";
    }
    statuses += "or any number";
    std::string rules;
    if (profile.rules->maxTextBytes) {
        rules = "hold at most " + std::to_string(profile.rules->maxTextBytes) + " bytes of text";
    }
    if (profile.rules->utf8) {
        rules += std::string(rules.empty() ? "" : " and ") + "be well-formed UTF-8";
    }
    if (!profile.rules->emptyAllowed) {
        rules += std::string(rules.empty() ? "" : " and ") + "not be empty";
    }
    if (!profile.rules->maxTextBytes && !profile.rules->utf8) {
        rules += " (it may be of any length, with any bytes but zero)";
    }
    std::string text = kHelpTemplate;
    ReplaceAll(&text, "{PROGRAM}", profile.program);
    ReplaceAll(&text, "{SOFTPHONE}", profile.softphone);
    ReplaceAll(&text, "{CLASS}", profile.windowClass);
    ReplaceAll(&text, "{DISCOVER}", profile.discoverMessage);
    ReplaceAll(&text, "{ATTACH}", profile.attachMessage);
    ReplaceAll(&text, "{ENCODING}", profile.encoding);
    ReplaceAll(&text, "{TEXTRULES}", rules);
    ReplaceAll(&text, "{STATUSES}", statuses);
    return text;
}

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

int RunTextApiSim(int argc, char** argv, const SimProfile& profile) {
    const char* program = profile.program;
    Options options;
    bool help = false;
    if (!orvin::sim::ParseSimOptions(program, argc, argv, &options, &help)) {
        return kExitBadInput;
    }
    if (help) {
        fputs(HelpText(profile).c_str(), stdout);
        return kExitOk;
    }

    std::vector<SkypeCommand> commands;
    if (!options.interactive) {
        auto parseLine = [&](const std::string& text, int line, std::string* error) {
            std::optional<SkypeCommand> command;
            if (!ParseSkypeScriptLine(text, line, kSkypeSimCommands, &command, error, *profile.statuses)) {
                return false;
            }
            if (command) {
                commands.push_back(std::move(*command));
            }
            return true;
        };
        if (!orvin::sim::LoadScript(program, options, parseLine)) {
            return kExitBadInput;
        }
    }
    if (options.checkOnly) {
        return kExitOk;
    }

    SimLog log(program);
    if (!orvin::sim::OpenSimLog(program, options, &log)) {
        return kExitBadInput;
    }
    orvin::sim::SingleInstance single;
    const std::string others = std::string("another ") + profile.softphone + " or " + program;
    if (!single.Claim(Widen(profile.singleInstance).c_str(), Widen(profile.windowClass).c_str(), program,
                      others.c_str(), kOtherSoftphoneGraceMs, log)) {
        return kExitOtherSoftphone;
    }

    SkypeWindow window(log, options.lenient, profile);
    std::string error;
    if (!window.Start(&error)) {
        log.Error("%s", error.c_str());
        return kExitScriptFailed;
    }
    log.Line("window of class %s open", profile.windowClass);

    auto run = [&](const SkypeCommand& command, std::string* failure) {
        return Run(window, command, failure);
    };
    auto parse = [&profile](const std::string& text, int line, std::optional<SkypeCommand>* command,
                            std::string* error) {
        return ParseSkypeScriptLine(text, line, kSkypeSimCommands, command, error, *profile.statuses);
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

} // namespace orvin::skypesim
