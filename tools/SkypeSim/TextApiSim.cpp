// The program of the Skype stand-in, for every softphone of Skype's kind (SimProfile.h):
// options, the script run or the interactive session, the one-stand-in-at-a-time rule and
// the exit status. SkypeSim.exe, TessaroSim.exe and ThinkItSim.exe each call it with their
// profile.
#include "TextApiSim.h"

#include "SimCommon/SimLog.h"
#include "SkypeScript.h"
#include "SkypeWindow_win.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace orvin::skypesim {

using orvin::sim::SimLog;

namespace {

enum ExitStatus {
    kExitOk = 0,
    kExitScriptFailed = 1,   // an expectation was not met, a command could not be done, or the
                             // agent broke the protocol
    kExitBadInput = 2,       // bad options, or faults in the script
    kExitOtherSoftphone = 3, // a window of the softphone's class exists already
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

bool ReadWholeFile(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::stringstream content;
    content << in.rdbuf();
    *text = content.str();
    return true;
}

struct Options {
    std::string scriptPath;
    std::string logPath;
    bool interactive = false;
    bool quiet = false;
    bool logCounter = false;
    bool checkOnly = false;
    bool lenient = false;
};

bool ParseOptions(int argc, char** argv, const char* program, Options* options, bool* help) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                fprintf(stderr, "%s: %s needs a value\n", program, arg.c_str());
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            *help = true;
            return true;
        } else if (arg == "--script") {
            if (!value(&options->scriptPath)) {
                return false;
            }
        } else if (arg == "--log") {
            if (!value(&options->logPath)) {
                return false;
            }
        } else if (arg == "--interactive") {
            options->interactive = true;
        } else if (arg == "--quiet") {
            options->quiet = true;
        } else if (arg == "--log-qpc") {
            options->logCounter = true;
        } else if (arg == "--lenient") {
            options->lenient = true;
        } else if (arg == "--check") {
            options->checkOnly = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "%s: unknown option %s (see --help)\n", program, arg.c_str());
            return false;
        } else if (options->scriptPath.empty()) {
            options->scriptPath = arg;
        } else {
            fprintf(stderr, "%s: more than one script given\n", program);
            return false;
        }
    }
    if (options->interactive == !options->scriptPath.empty()) {
        fprintf(stderr, "%s: give a script or --interactive (see --help)\n", program);
        return false;
    }
    return true;
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

// Runs each line from standard input as it comes. Faults are reported and the session
// goes on; the exit status tells whether every command succeeded.
int RunInteractive(SkypeWindow& window, SimLog& log, const AttachStatusNames& statuses) {
    int status = kExitOk;
    std::string text;
    for (int line = 1; std::getline(std::cin, text); ++line) {
        std::optional<SkypeCommand> command;
        std::string error;
        if (!ParseSkypeScriptLine(text, line, kSkypeSimCommands, &command, &error, statuses)) {
            log.Error("line %d: %s", line, error.c_str());
            status = kExitScriptFailed;
            continue;
        }
        if (!command) {
            continue;
        }
        std::string failure;
        if (!Run(window, *command, &failure)) {
            log.Error("line %d: %s: %s", line, command->source.c_str(), failure.c_str());
            status = kExitScriptFailed;
        } else {
            log.Line("line %d done: %s", line, command->source.c_str());
        }
    }
    return status;
}

int RunScript(SkypeWindow& window, SimLog& log, const std::vector<SkypeCommand>& commands) {
    for (const SkypeCommand& command : commands) {
        std::string failure;
        if (!Run(window, command, &failure)) {
            log.Error("line %d: %s: %s", command.line, command.source.c_str(), failure.c_str());
            return kExitScriptFailed;
        }
        log.Line("line %d done: %s", command.line, command.source.c_str());
    }
    log.Line("script done: %u commands", (unsigned)commands.size());
    return kExitOk;
}

} // namespace

int RunTextApiSim(int argc, char** argv, const SimProfile& profile) {
    const char* program = profile.program;
    Options options;
    bool help = false;
    if (!ParseOptions(argc, argv, program, &options, &help)) {
        return kExitBadInput;
    }
    if (help) {
        fputs(HelpText(profile).c_str(), stdout);
        return kExitOk;
    }

    std::vector<SkypeCommand> commands;
    if (!options.interactive) {
        std::string text;
        if (!ReadWholeFile(options.scriptPath, &text)) {
            fprintf(stderr, "%s: can not read the script %s\n", program, options.scriptPath.c_str());
            return kExitBadInput;
        }
        std::vector<SkypeScriptError> errors;
        if (!ParseSkypeScript(text, kSkypeSimCommands, &commands, &errors, *profile.statuses)) {
            for (const SkypeScriptError& error : errors) {
                fprintf(stderr, "%s: %s: %s\n", program, options.scriptPath.c_str(),
                        FormatSkypeScriptError(error).c_str());
            }
            return kExitBadInput;
        }
    }
    if (options.checkOnly) {
        return kExitOk;
    }

    SimLog log(program);
    log.SetQuiet(options.quiet);
    log.SetCounterStamps(options.logCounter);
    if (!options.logPath.empty() && !log.OpenFile(options.logPath)) {
        fprintf(stderr, "%s: can not write the log %s\n", program, options.logPath.c_str());
        return kExitBadInput;
    }
    if (options.logCounter) {
        log.Line("performance counter frequency %lld", log.Frequency());
    }
    // One softphone per desktop: the agent would attach to whichever answered first. The mutex
    // covers two stand-ins started together, before either has its window. A stand-in
    // that has just ended may still hold both for a moment (the system notes a process's
    // end a little after its parent sees it), so each gets a short grace.
    HANDLE single = CreateMutexW(nullptr, TRUE, Widen(profile.singleInstance).c_str());
    if (single && GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD wait = WaitForSingleObject(single, kOtherSoftphoneGraceMs);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            log.Error("another %s runs already", program);
            CloseHandle(single);
            return kExitOtherSoftphone;
        }
    }
    const std::wstring windowClass = Widen(profile.windowClass);
    HWND other = FindWindowW(windowClass.c_str(), nullptr);
    for (DWORD waited = 0; other && waited < kOtherSoftphoneGraceMs; waited += 50) {
        Sleep(50);
        other = FindWindowW(windowClass.c_str(), nullptr);
    }
    if (other) {
        log.Error("a window of class %s exists already (%p): another %s or %s", profile.windowClass,
                  (void*)other, profile.softphone, program);
        if (single) {
            ReleaseMutex(single);
            CloseHandle(single);
        }
        return kExitOtherSoftphone;
    }

    SkypeWindow window(log, options.lenient, profile);
    std::string error;
    if (!window.Start(&error)) {
        log.Error("%s", error.c_str());
        return kExitScriptFailed;
    }
    log.Line("window of class %s open", profile.windowClass);

    int status = options.interactive ? RunInteractive(window, log, *profile.statuses)
                                     : RunScript(window, log, commands);

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
    if (single) {
        ReleaseMutex(single);
        CloseHandle(single);
    }
    return status;
}

} // namespace orvin::skypesim
