// The frame the script-driven softphone stand-ins share: their command line (a script or
// --interactive, --log, --log-qpc, --quiet, --lenient, --check, --help), reading and
// parsing a script with every fault reported by its line number before anything runs,
// the options of a script command (NAME=VALUE words), and the two ways of running the
// commands, each with the same exit statuses:
//   0 every command did what it says and the agent kept to the protocol
//   1 a command failed or the agent broke the protocol (its line goes to standard error)
//   2 bad options or a bad script
//   3 the stand-in's window exists already (another instance, or the real program)
#pragma once

#include "SimLog.h"

#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvin::sim {

enum SimExitStatus {
    kSimExitOk = 0,
    kSimExitFailed = 1,
    kSimExitBadInput = 2,
    kSimExitOtherInstance = 3,
};

struct SimOptions {
    std::string scriptPath;
    std::string logPath;
    bool interactive = false;
    bool quiet = false;
    bool logCounter = false;
    bool checkOnly = false;
    bool lenient = false;
};

// False, after saying why on standard error as `program: ...`, for bad usage. *help is set
// for --help (then nothing else is checked).
bool ParseSimOptions(const char* program, int argc, char** argv, SimOptions* options, bool* help);

bool ReadWholeFile(const std::string& path, std::string* text);

struct SimScriptError {
    int line = 0;
    std::string message;
};

// Hands each line of a script (lines end with LF or CR LF) to `parseLine` with its number
// from 1; collects every refusal. True when none was refused.
bool ParseScriptLines(
    const std::string& text,
    const std::function<bool(const std::string& line, int number, std::string* error)>& parseLine,
    std::vector<SimScriptError>* errors);

// Reads and parses the script of `options`: false after every fault went to standard error
// as `program: PATH: line N: ...`.
bool LoadScript(
    const char* program, const SimOptions& options,
    const std::function<bool(const std::string& line, int number, std::string* error)>& parseLine);

// The log as the options ask: its file, quiet, counter stamps (and the counter's frequency
// as its first line). False, after saying so on standard error, when the file can not be
// written.
bool OpenSimLog(const char* program, const SimOptions& options, SimLog* log);

// Separates a command's words after its name into positional words and NAME=VALUE
// options. A quoted word, a word without '=' or one that begins with '=' is positional;
// with `allPositional` every word is. False with *error for an option not in `allowed`
// (blank-separated names) or one given twice.
bool SeparateOptions(const std::string& command, const std::vector<std::string>& words, const char* allowed,
                     bool allPositional, std::vector<std::string>* positional,
                     std::vector<std::pair<std::string, std::string>>* options, std::string* error);

// Runs a parsed script to its first failure. Command has `line` and `source`; run(command,
// &failure) does it.
template <typename Command, typename Run>
int RunScriptCommands(SimLog& log, const std::vector<Command>& commands, Run run) {
    for (const Command& command : commands) {
        std::string failure;
        if (!run(command, &failure)) {
            log.Error("line %d: %s: %s", command.line, command.source.c_str(), failure.c_str());
            return kSimExitFailed;
        }
        log.Line("line %d done: %s", command.line, command.source.c_str());
    }
    log.Line("script done: %u commands", (unsigned)commands.size());
    return kSimExitOk;
}

// Runs each line of standard input as it comes. Faults are reported and the session goes
// on; the exit status tells whether every command succeeded. parse(text, line, &command,
// &error) leaves the optional empty for a blank or comment line.
template <typename Command, typename Parse, typename Run>
int RunInteractiveCommands(SimLog& log, Parse parse, Run run) {
    int status = kSimExitOk;
    std::string text;
    for (int line = 1; std::getline(std::cin, text); ++line) {
        std::optional<Command> command;
        std::string error;
        if (!parse(text, line, &command, &error)) {
            log.Error("line %d: %s", line, error.c_str());
            status = kSimExitFailed;
            continue;
        }
        if (!command) {
            continue;
        }
        std::string failure;
        if (!run(*command, &failure)) {
            log.Error("line %d: %s: %s", line, command->source.c_str(), failure.c_str());
            status = kSimExitFailed;
        } else {
            log.Line("line %d done: %s", line, command->source.c_str());
        }
    }
    return status;
}

} // namespace orvin::sim
