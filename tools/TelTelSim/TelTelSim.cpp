// TelTelSim.exe: the control program of the stand-in TelTelAPI.DLL. It serves the control
// pipe the library reaches from inside the agent, runs a script that plays TelTel (its
// readiness, its rings and calls through the library's callbacks, the functions' answers)
// and expects the agent's calls, and logs every call the agent makes with its arguments.
// Every call is also checked against the library's description (TelTelChecks.h), so a test
// catches an agent fault even where no expect names it.
#include "LibraryLink_win.h"
#include "SimCommon/SimLog.h"
#include "TelTelScript.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace orvin::teltelsim;
using orvin::sim::SimLog;

namespace {

enum ExitStatus {
    kExitOk = 0,
    kExitScriptFailed = 1, // an expectation was not met, a command could not be done, or the
                           // agent broke the library's rules
    kExitBadInput = 2,     // bad options, or faults in the script
    kExitPipeBusy = 3,     // another stand-in serves the control pipe
};

const char kHelp[] = R"(TelTelSim - control program of the stand-in TelTelAPI.DLL, driven by a script.

usage: TelTelSim.exe [options] [SCRIPT]
       TelTelSim.exe [options] --interactive

The stand-in TelTelAPI.DLL (tools/TelTelSim, loaded by the agent from its own folder,
%WINDIR%\SYSTEM32 or %WINDIR%) exports exactly TelTel's functions and reports every call
the agent makes to this program over the pipe \\.\pipe\NAME (NAME: --pipe, and the
environment variable ORVIN_TELTELSIM_PIPE in the agent's environment; default
OrvinTelTelSim). This program logs each call (RX) with its arguments and what it answered,
checks it, and runs SCRIPT: TelTel's readiness, its callbacks (TX), the functions' answers.
Without this program the library answers as a TelTel that is not ready.

Every call is checked against the library's description: TelTel_Register with a window of
the agent's own process and only once until TelTel_Unregister (with that window); every
other function but TelTel_WndProc only while a window is registered; callbacks that are
code of the agent's process; TelTel_RegisterAudioDevices2 with one readable device name
(at most 259 bytes) three times; no call from inside one of the library's callbacks; a
callback returns within 2000 ms. Each fault is an error naming the call, and fails the
command that runs (or the script at its end).

Options:
  --script FILE    the script (or give it as the last argument)
  --interactive    read the commands from standard input instead, running each at once
  --pipe NAME      the control pipe's name (default OrvinTelTelSim)
  --log FILE       one line per call of the agent (RX), callback run (TX), readiness and
                   answer set (TX), connection and script step
  --quiet          no log lines on standard output
  --log-qpc        stamp each log line also with the performance counter, [SECONDS @COUNT];
                   a call is stamped at the moment the agent made it, a callback at the
                   moment it began (one clock for all processes: a call timed across logs)
  --lenient        log the agent's faults as warnings instead of failing
  --check          check the script and exit (status 0 or 2)
  --help           this text

Script: one command per line; '#' outside quotes starts a comment.
  wait-library [timeout=MS]       a library connects (an agent loaded it and called it): a
                                  new connection after the one the last wait-library saw
                                  (default 10000 ms)
  ready [value=N]                 TelTel_IsTelTelReady answers N (default 1) from now on;
                                  the agent reads its low byte, 1 is ready
  not-ready                       ... answers 0 (so it does at the start)
  result FUNCTION N               FUNCTION answers N from now on (every one answers 1 at the
                                  start)
  ring-start|ring-stop|call-start|call-end [value=N] [thread=library|new]
                                  the library runs that callback with N (default 1), on its
                                  reader thread or on a thread of its own made for it; the
                                  command ends when the callback has returned
  expect FUNCTION [ARG ...] [result=N] [timeout=MS]
                                  the next call of FUNCTION whose arguments match (and that
                                  answered N); the calls before it are logged and passed
                                  over (default 5000 ms).
                                  ARG: * (anything), a number (a number, window or callback of
                                  that value) or a TEXT; arguments not given match anything
  expect-no FUNCTION [FUNCTION ...] for=MS
                                  none of them is called within MS
  post MESSAGE [wparam=N] [lparam=N]
                                  the library posts a window message to the window the
                                  agent registered (it comes back through TelTel_WndProc)
  sleep MS
  wait-gone [timeout=MS]          the library's connection ends (the agent ended)

Values: N a number (decimal, 0x hex, or a character in single quotes); TEXT a bare word or
"quoted" with \" \\ \n \r \t \0 \xHH; MS milliseconds.

Exit status: 0 when the script ran to its end with every expectation met and the agent
kept to the library's rules; 1 when a command failed or the agent broke a rule (the line
number and what went wrong go to standard error and the log); 2 for bad options or script
faults (all reported with their line numbers before anything runs); 3 when another
stand-in serves the control pipe.
)";

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
    std::string pipeName = kDefaultPipeName;
    bool interactive = false;
    bool quiet = false;
    bool logCounter = false;
    bool checkOnly = false;
    bool lenient = false;
};

bool ParseOptions(int argc, char** argv, Options* options, bool* help) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                fprintf(stderr, "TelTelSim: %s needs a value\n", arg.c_str());
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
        } else if (arg == "--pipe") {
            if (!value(&options->pipeName)) {
                return false;
            }
            if (options->pipeName.empty() || options->pipeName.find('\\') != std::string::npos) {
                fprintf(stderr, "TelTelSim: --pipe takes a name without backslashes\n");
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
            fprintf(stderr, "TelTelSim: unknown option %s (see --help)\n", arg.c_str());
            return false;
        } else if (options->scriptPath.empty()) {
            options->scriptPath = arg;
        } else {
            fprintf(stderr, "TelTelSim: more than one script given\n");
            return false;
        }
    }
    if (options->interactive == !options->scriptPath.empty()) {
        fprintf(stderr, "TelTelSim: give a script or --interactive (see --help)\n");
        return false;
    }
    return true;
}

class Runner {
public:
    Runner(LibraryLink& link, SimLog& log) : m_link(link), m_log(log) {}

    // One command; false with *failure when it could not do what it says, or when the
    // agent broke a rule while it ran or before.
    bool Run(const TelTelCommand& command, std::string* failure) {
        bool ok = true;
        switch (command.kind) {
        case TelTelCommandKind::WaitLibrary:
            ok = m_link.WaitConnection(m_nSeen, command.timeoutMs, &m_nSeen);
            if (!ok) {
                *failure = "no library connected within " + std::to_string(command.timeoutMs) + " ms";
            }
            break;
        case TelTelCommandKind::Ready:
            m_link.SetReady(command.value);
            break;
        case TelTelCommandKind::Result:
            m_link.SetResult(command.function, command.value);
            break;
        case TelTelCommandKind::Fire:
            ok = m_link.Fire(command.event, command.value, command.newThread, failure);
            break;
        case TelTelCommandKind::Expect:
            ok = Expect(command, failure);
            break;
        case TelTelCommandKind::ExpectNo:
            ok = ExpectNo(command, failure);
            break;
        case TelTelCommandKind::Post:
            ok = m_link.Post(command.message, command.wParam, command.lParam, failure);
            break;
        case TelTelCommandKind::Sleep:
            Sleep(command.ms);
            break;
        case TelTelCommandKind::WaitGone:
            ok = m_link.WaitGone(command.timeoutMs);
            if (!ok) {
                *failure =
                    "the library is still connected after " + std::to_string(command.timeoutMs) + " ms";
            }
            break;
        }
        std::string violation;
        if (ok && m_link.TakeViolation(&violation)) {
            *failure = "the agent broke the library's rules: " + violation;
            return false;
        }
        return ok;
    }

private:
    bool Expect(const TelTelCommand& command, std::string* failure) {
        const DWORD start = GetTickCount();
        std::vector<std::string> passed;
        for (;;) {
            const DWORD elapsed = GetTickCount() - start;
            CallRecord call;
            if (elapsed >= command.timeoutMs || !m_link.NextCall(command.timeoutMs - elapsed, &call)) {
                break;
            }
            if (command.Matches(call)) {
                return true;
            }
            if (call.function != "TelTel_WndProc" && call.function != "TelTel_IsTelTelReady") {
                passed.push_back(call.Shown());
            }
        }
        *failure = "no such call within " + std::to_string(command.timeoutMs) + " ms";
        if (!passed.empty()) {
            *failure += "; other calls came:";
            for (size_t i = passed.size() > 6 ? passed.size() - 6 : 0; i < passed.size(); ++i) {
                *failure += " " + passed[i] + ";";
            }
        }
        return false;
    }

    bool ExpectNo(const TelTelCommand& command, std::string* failure) {
        const DWORD start = GetTickCount();
        for (;;) {
            const DWORD elapsed = GetTickCount() - start;
            CallRecord call;
            if (elapsed >= command.timeoutMs || !m_link.NextCall(command.timeoutMs - elapsed, &call)) {
                return true;
            }
            if (command.Matches(call)) {
                *failure = "the agent called " + call.Shown();
                return false;
            }
        }
    }

    LibraryLink& m_link;
    SimLog& m_log;
    uint64_t m_nSeen = 0;
};

int RunInteractive(Runner& runner, SimLog& log) {
    int status = kExitOk;
    std::string text;
    for (int line = 1; std::getline(std::cin, text); ++line) {
        std::optional<TelTelCommand> command;
        std::string error;
        if (!ParseTelTelScriptLine(text, line, &command, &error)) {
            log.Error("line %d: %s", line, error.c_str());
            status = kExitScriptFailed;
            continue;
        }
        if (!command) {
            continue;
        }
        std::string failure;
        if (!runner.Run(*command, &failure)) {
            log.Error("line %d: %s: %s", line, command->source.c_str(), failure.c_str());
            status = kExitScriptFailed;
        } else {
            log.Line("line %d done: %s", line, command->source.c_str());
        }
    }
    return status;
}

int RunScript(Runner& runner, SimLog& log, const std::vector<TelTelCommand>& commands) {
    for (const TelTelCommand& command : commands) {
        std::string failure;
        if (!runner.Run(command, &failure)) {
            log.Error("line %d: %s: %s", command.line, command.source.c_str(), failure.c_str());
            return kExitScriptFailed;
        }
        log.Line("line %d done: %s", command.line, command.source.c_str());
    }
    log.Line("script done: %u commands", (unsigned)commands.size());
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!ParseOptions(argc, argv, &options, &help)) {
        return kExitBadInput;
    }
    if (help) {
        fputs(kHelp, stdout);
        return kExitOk;
    }

    std::vector<TelTelCommand> commands;
    if (!options.interactive) {
        std::string text;
        if (!ReadWholeFile(options.scriptPath, &text)) {
            fprintf(stderr, "TelTelSim: can not read the script %s\n", options.scriptPath.c_str());
            return kExitBadInput;
        }
        std::vector<TelTelScriptError> errors;
        if (!ParseTelTelScript(text, &commands, &errors)) {
            for (const TelTelScriptError& error : errors) {
                fprintf(stderr, "TelTelSim: %s: line %d: %s\n", options.scriptPath.c_str(), error.line,
                        error.message.c_str());
            }
            return kExitBadInput;
        }
    }
    if (options.checkOnly) {
        return kExitOk;
    }

    SimLog log("TelTelSim");
    log.SetQuiet(options.quiet);
    log.SetCounterStamps(options.logCounter);
    if (!options.logPath.empty() && !log.OpenFile(options.logPath)) {
        fprintf(stderr, "TelTelSim: can not write the log %s\n", options.logPath.c_str());
        return kExitBadInput;
    }
    if (options.logCounter) {
        log.Line("performance counter frequency %lld", log.Frequency());
    }

    LibraryLink link(log, options.lenient, options.pipeName);
    std::string error;
    bool busy = false;
    if (!link.Start(&error, &busy)) {
        log.Error("%s", error.c_str());
        return busy ? kExitPipeBusy : kExitScriptFailed;
    }
    Runner runner(link, log);
    int status = options.interactive ? RunInteractive(runner, log) : RunScript(runner, log, commands);
    link.Stop();
    // What the agent did after the last command counts too.
    std::string violation;
    if (link.TakeViolation(&violation) && status == kExitOk) {
        log.Error("after the script: the agent broke the library's rules: %s", violation.c_str());
        status = kExitScriptFailed;
    }
    if (link.Warnings()) {
        log.Line("%d fault(s) against the library's rules passed over (--lenient)", link.Warnings());
    }
    log.Line("exit %d", status);
    return status;
}
