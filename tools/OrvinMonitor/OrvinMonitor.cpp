// OrvinMonitor.exe: a stand-in for the adapter software's monitor program, the agent's
// configuration front end. The agent starts it as "\"PATH\"" or "\"PATH\" -hide"; what
// the agent relies on is its side of the application channel (MonitorWindow_win.h). The
// stand-in announces its window with a broadcast at start, answers every engine's
// announcement, logs every channel message it receives, and sends commands from its
// command line, a script or standard input.
//
// Single-threaded: the window, the commands and the waits all run on the main thread,
// which keeps the window's messages flowing while it waits. Only the reader of standard
// input (--interactive) has a thread of its own; it hands whole lines over.
#include "MonitorLog.h"
#include "MonitorWindow_win.h"
#include "SimCommon/InputLines.h"
#include "SimCommon/ScriptText.h"
#include "WinText.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace orvin::monitor;

namespace {

using orvin::sim::InputLines;

enum ExitStatus {
    kExitOk = 0,
    kExitFailed = 1,   // a command could not be done (a wait timed out, a send failed)
    kExitBadUsage = 2, // bad options or commands
};

constexpr DWORD kDefaultWaitMs = 10000;    // wait-engine without a time
constexpr DWORD kMaxMs = 24 * 3600 * 1000; // any time given

const char kHelp[] = R"(OrvinMonitor - stand-in for the monitor program, on the application channel.

usage: OrvinMonitor.exe [-hide] [--log FILE] [--engine-process NAME] [COMMAND OPTIONS]
                        [--script "CMD;CMD..."] [--interactive] [--exit-after MS]

Creates a hidden top-level window, registers "WM_APP_MESSAGE_CHANNEL" and announces the
window (broadcast, lParam 1). Logs every channel message received (one line each, also
to --log FILE), answers an engine's announcement (lParam 0) with its own, and runs the
commands in the order given. Without commands it serves until its window is closed.

Options:
  -hide                  accepted (the agent's start with hide); the window is hidden anyway
  --log FILE             the log also to FILE (default: the ORVIN_MONITOR_LOG variable)
  --engine-process NAME  only announcements from windows of a process with this image
                         name (PowerProbe.exe, OrvinAgent.exe) are answered and make the
                         engine known; others are logged only
  --registry-changed     command registry-changed
  --shutdown-agent       command shutdown-agent
  --wait-engine MS       command wait-engine MS
  --script "CMD;CMD"     these commands (default: the ORVIN_MONITOR_SCRIPT variable, when
                         no other command is given)
  --interactive          commands from standard input, one a line, each at once
  --exit-after MS        after the commands, serve MS more milliseconds, then exit
  --help                 this text

Commands:
  registry-changed       lParam 2 (MonitorNotifyRegistryChanges) to the known engine
                         window, or broadcast when none is known
  shutdown-agent         lParam 8 (MonitorNotifyAgentShutdown), the same way
  send N                 lParam N, the same way (commands the agent does not know)
  announce               the monitor's announcement again (broadcast, lParam 1)
  wait-engine [MS]       until an engine has announced itself (default 10000 ms)
  sleep MS               serve MS milliseconds
  quit                   stop here

Exit status: 0 when every command worked, 1 when one failed (the first failure ends a
command line or script; --interactive goes on), 2 for bad usage.
)";

bool ParseNumber(const std::string& text, long long min, long long max, long long* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    long long value = strtoll(text.c_str(), &end, 0);
    if (*end != '\0' || value < min || value > max) {
        return false;
    }
    *out = value;
    return true;
}

struct Command {
    std::string source;
    std::string name;
    long long value = 0; // the time of a wait or sleep, the lParam of send
};

bool ParseCommand(const std::string& text, Command* command, std::string* error) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < text.size()) {
        size_t begin = text.find_first_not_of(" \t\r\n", at);
        if (begin == std::string::npos) {
            break;
        }
        size_t end = text.find_first_of(" \t\r\n", begin);
        words.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        at = end == std::string::npos ? text.size() : end;
    }
    if (words.empty()) {
        *error = "empty command";
        return false;
    }
    size_t first = text.find_first_not_of(" \t\r\n");
    command->source = text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
    command->name = words[0];
    const std::string& name = words[0];
    bool noArgument =
        name == "registry-changed" || name == "shutdown-agent" || name == "announce" || name == "quit";
    bool optionalTime = name == "wait-engine";
    bool time = name == "sleep";
    bool number = name == "send";
    if (!noArgument && !optionalTime && !time && !number) {
        *error = "unknown command '" + name + "'";
        return false;
    }
    size_t arguments = words.size() - 1;
    if ((noArgument && arguments != 0) || (optionalTime && arguments > 1) ||
        ((time || number) && arguments != 1)) {
        *error = "wrong number of arguments: " + command->source;
        return false;
    }
    command->value = optionalTime ? kDefaultWaitMs : 0;
    if (arguments == 1) {
        long long min = number ? LLONG_MIN : 0;
        long long max = number ? LLONG_MAX : kMaxMs;
        if (!ParseNumber(words[1], min, max, &command->value)) {
            *error = "bad number '" + words[1] + "' in: " + command->source;
            return false;
        }
    }
    return true;
}

// "cmd;cmd;..." into commands; empty pieces are passed over.
bool ParseScript(const std::string& script, std::vector<Command>* commands, std::string* error) {
    for (const std::string& piece : orvin::sim::SplitScriptPieces(script)) {
        Command command;
        if (!ParseCommand(piece, &command, error)) {
            return false;
        }
        commands->push_back(command);
    }
    return true;
}


// Runs one command; false when it failed (logged).
bool RunCommand(MonitorWindow& monitor, MonitorLog& log, const Command& command, bool* quit) {
    bool ok = true;
    if (command.name == "registry-changed") {
        ok = monitor.SendCommand(kRegistryChanges);
    } else if (command.name == "shutdown-agent") {
        ok = monitor.SendCommand(kAgentShutdown);
    } else if (command.name == "send") {
        ok = monitor.SendCommand((LPARAM)command.value);
    } else if (command.name == "announce") {
        monitor.Announce();
    } else if (command.name == "wait-engine") {
        ok = monitor.WaitEngine((DWORD)command.value);
        if (!ok) {
            log.Error("%s: no engine announced itself within %lld ms", command.source.c_str(), command.value);
            return false;
        }
    } else if (command.name == "sleep") {
        monitor.Pump((DWORD)command.value, [] { return false; });
    } else if (command.name == "quit") {
        *quit = true;
    }
    if (ok) {
        log.Line("done: %s", command.source.c_str());
    } else {
        log.Error("failed: %s", command.source.c_str());
    }
    return ok;
}

int RunInteractive(MonitorWindow& monitor, MonitorLog& log) {
    InputLines input;
    input.Start();
    int status = kExitOk;
    bool quit = false;
    while (!quit && !monitor.Closed()) {
        std::string line;
        InputLines::Next next = input.Take(&line);
        if (next == InputLines::Next::End) {
            break;
        }
        if (next == InputLines::Next::None) {
            HANDLE event = input.Event();
            monitor.Pump(
                INFINITE, [event] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }, event);
            continue;
        }
        if (line.find_first_not_of(" \t\r\n") == std::string::npos ||
            line[line.find_first_not_of(" \t")] == '#') {
            continue;
        }
        Command command;
        std::string error;
        if (!ParseCommand(line, &command, &error)) {
            log.Error("%s", error.c_str());
            status = kExitBadUsage;
            continue;
        }
        if (!RunCommand(monitor, log, command, &quit) && status == kExitOk) {
            status = kExitFailed;
        }
    }
    return status;
}

struct Options {
    bool hide = false;
    bool interactive = false;
    bool exitAfterGiven = false;
    DWORD exitAfterMs = 0;
    std::string logPath;
    std::string engineProcess;
    std::vector<Command> commands;
};

bool ParseOptions(const std::vector<std::string>& args, Options* options, bool* help) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                fprintf(stderr, "OrvinMonitor: %s needs a value\n", arg.c_str());
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto command = [&](const std::string& text) {
            Command parsed;
            std::string error;
            if (!ParseCommand(text, &parsed, &error)) {
                fprintf(stderr, "OrvinMonitor: %s\n", error.c_str());
                return false;
            }
            options->commands.push_back(parsed);
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            *help = true;
            return true;
        } else if (arg == "-hide" || arg == "--hide") {
            options->hide = true;
        } else if (arg == "--log") {
            if (!value(&options->logPath)) {
                return false;
            }
        } else if (arg == "--engine-process") {
            if (!value(&options->engineProcess)) {
                return false;
            }
        } else if (arg == "--interactive") {
            options->interactive = true;
        } else if (arg == "--registry-changed") {
            options->commands.push_back({"registry-changed", "registry-changed", 0});
        } else if (arg == "--shutdown-agent") {
            options->commands.push_back({"shutdown-agent", "shutdown-agent", 0});
        } else if (arg == "--wait-engine") {
            if (!value(&text) || !command("wait-engine " + text)) {
                return false;
            }
        } else if (arg == "--script") {
            std::string error;
            if (!value(&text)) {
                return false;
            }
            if (!ParseScript(text, &options->commands, &error)) {
                fprintf(stderr, "OrvinMonitor: --script: %s\n", error.c_str());
                return false;
            }
        } else if (arg == "--exit-after") {
            long long ms = 0;
            if (!value(&text) || !ParseNumber(text, 0, kMaxMs, &ms)) {
                fprintf(stderr, "OrvinMonitor: --exit-after needs a time in milliseconds\n");
                return false;
            }
            options->exitAfterGiven = true;
            options->exitAfterMs = (DWORD)ms;
        } else {
            fprintf(stderr, "OrvinMonitor: unknown option %s (see --help)\n", arg.c_str());
            return false;
        }
    }
    if (options->interactive && !options->commands.empty()) {
        fprintf(stderr, "OrvinMonitor: --interactive takes its commands from standard input only\n");
        return false;
    }
    return true;
}

} // namespace

int main() {
    Options options;
    bool help = false;
    if (!ParseOptions(Arguments(), &options, &help)) {
        return kExitBadUsage;
    }
    if (help) {
        fputs(kHelp, stdout);
        return kExitOk;
    }
    // A monitor started by the agent gets no options beyond -hide: the environment the
    // agent passes on may give it a log and commands.
    if (options.logPath.empty()) {
        options.logPath = Environment(L"ORVIN_MONITOR_LOG");
    }
    if (options.commands.empty() && !options.interactive) {
        std::string error;
        if (!ParseScript(Environment(L"ORVIN_MONITOR_SCRIPT"), &options.commands, &error)) {
            fprintf(stderr, "OrvinMonitor: ORVIN_MONITOR_SCRIPT: %s\n", error.c_str());
            return kExitBadUsage;
        }
    }

    MonitorLog log;
    if (!options.logPath.empty() && !log.OpenFile(options.logPath)) {
        fprintf(stderr, "OrvinMonitor: can not write the log %s\n", options.logPath.c_str());
        return kExitBadUsage;
    }
    MonitorWindow monitor(log, options.engineProcess);
    if (!monitor.Create(options.hide)) {
        return kExitFailed;
    }
    monitor.Announce();

    int status = kExitOk;
    bool quit = false;
    if (options.interactive) {
        status = RunInteractive(monitor, log);
    } else {
        for (const Command& command : options.commands) {
            if (quit || monitor.Closed()) {
                break;
            }
            if (!RunCommand(monitor, log, command, &quit)) {
                status = kExitFailed;
                break;
            }
        }
        // Nothing to do: serve like the real monitor until the window is closed.
        if (options.commands.empty() && !options.exitAfterGiven) {
            log.Line("serving until the window is closed");
            monitor.Pump(INFINITE, [] { return false; });
        }
    }
    if (options.exitAfterGiven && !quit && !monitor.Closed()) {
        monitor.Pump(options.exitAfterMs, [] { return false; });
    }
    monitor.Destroy();
    log.Line("exit %d", status);
    return status;
}
