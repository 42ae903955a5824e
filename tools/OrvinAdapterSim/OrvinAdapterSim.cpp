// OrvinAdapterSim.exe: a stand-in for the adapter's background service. It serves the
// pipes the agent opens (the I/O manager's and the enumeration's) the way the service
// does, and plays a script against the agent: wait for it, expect its messages, send it
// adapter events, break the connection, stop and restart the service, time the agent's
// requests. It also checks everything the agent sends against the wire description, so
// a test catches an agent fault even where no expect names it.
//
// It also plays the adapter's recorder driver on the pipe "ovrecagentDevice0", which the
// agent's call recorder uses where the driver's device does not exist: registrations,
// channel choice and the queued call events and audio a script asks for.
//
// Endpoints live in their own classes (IomanEndpoint, HwenumEndpoint, RecorderEndpoint).
#include "HwenumEndpoint_win.h"
#include "IomanEndpoint_win.h"
#include "RecorderEndpoint_win.h"
#include "ScriptParser.h"
#include "ScriptRunner_win.h"
#include "SimCommon/SimLog.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace orvin::sim;

namespace {

enum ExitStatus {
    kExitOk = 0,
    kExitScriptFailed = 1, // an expectation was not met, a command could not be done, or the
                           // agent broke the wire description
    kExitBadInput = 2,     // bad options, or faults in the script
    kExitCannotServe = 3,  // a pipe is served already, or could not be created
};

constexpr int kMaxAdapters = 5;

const char kHelp[] = R"(OrvinAdapterSim - stand-in for the adapter's service, driven by a script.

usage: OrvinAdapterSim.exe [options] [SCRIPT]
       OrvinAdapterSim.exe [options] --interactive

Serves \\.\pipe\VCORE\IOMAN (adapter events and requests, one agent at a time; a new
agent may connect after a break), \\.\pipe\VCORE\HWENUM (adapter count and software
keys) and, for the recorder driver, the message-mode pipe \\.\pipe\ovrecagentDevice0
(one client at a time), runs SCRIPT, and exits when the script ends.

Everything the agent sends on IOMAN is checked against the wire description: the
first 4 bytes of a connection are the adapter index (0 to 4) with nothing before them;
every message has Id 0x03E80000 + that index, Kind 2 or 3 and Size 28 to 640; a kind-2
request is the 28-byte header alone with Param 2 and 3 zero; a kind-3 IMM flags only
0x01..0x10 in Param 3, carries exactly the data its flags announce (buffers 32 bytes
each, payload 512, extra value 4), and flags no buffer that is all zero. Each fault is
an error naming the connection, the message number and its byte offset, and fails the
command that runs (or the script at its end); a Size outside 28..640 also drops the
connection, since the stream can not be framed again.

Every request to the recorder driver is checked too: control code 0x222000; header
bytes 8..11 zero, the result sent as -1, the data length as sent, parameters 1..3 zero,
parameter 0 the registration (0 to register); register 0xF004 with 148 bytes (1, 1, 0,
0, "VCLCTRL" in a zero-filled 128-byte name area, 4 bytes), unregister 0xF005 without
data, choose channels 0xF006 with 144 bytes (1, count, 0, 0, "VCLCTRL" or "VCLCTRL" and
"VCLOG" at 8, zeros after), read 0xF003 with 32000 bytes; no other command.

Options:
  --script FILE        the script (or give it as the last argument)
  --interactive        read the commands from standard input instead, running each at once
  --log FILE           one line per message received (RX) or sent (TX), per connection
                       change and per enumeration request
  --quiet              no log lines on standard output (measure still prints its figures)
  --log-qpc            stamp each log line also with the performance counter, [SECONDS @COUNT]
                       (one clock for all processes: a message timed across logs)
  --lenient            log the agent's faults against the wire description as warnings
                       instead of failing (for tests that send bad bytes on purpose)
  --adapters N         adapters the enumeration reports (0 to 5; default 1)
  --keyI TEXT          software key of adapter I (--key0 .. --key4); default
                       SOFTWARE\Velcora\Quendo\AdapterI
  --enum-delay MS      answer every enumeration request only after MS milliseconds
  --enum-key-delay MS  the same for key requests only (the count comes at once)
  --rec-queue BYTES    the recorder driver's queue (default 262144 bytes): realtime audio
                       that finds it full is lost, fast audio waits for room
  --check              check the script and exit (status 0 or 2)
  --help               this text

Script: one command per line; '#' outside quotes starts a comment.
  wait-agent [timeout=MS]           until an agent has connected and sent its adapter
                                    index: a new connection, after the one the last
                                    wait-agent saw (default 10000 ms)
  expect TYPE CODE [info=N] [buf1=TEXT] [buf2=TEXT] [buf3=TEXT] [payload=TEXT]
         [ioctl=N] [timeout=MS]     the next IMM message from the agent that matches (the
                                    options given must match; ioctl is the extra value);
                                    others are logged and passed over (default 5000 ms)
  expect-generic [ioctl=N] [value=N] [timeout=MS]
                                    the same for a message without IMM (kind 2)
  send TYPE CODE [info=N] [buf1=TEXT] [buf2=TEXT] [buf3=TEXT] [payload=TEXT]
                                    an IMM message (kind 3, Id (index<<16)|1000)
  adaptor-info lowcost=N            an adaptor-information message (kind 1)
  burst COUNT TYPE CODE [interval=MS]
                                    COUNT IMM messages, info = 0, 1, 2 ..., buf1 = the
                                    performance counter at the write (for latency figures)
  measure COUNT TYPE CODE [timeout=MS]
                                    the agent's requests timed: COUNT IMM messages of TYPE
                                    and CODE with info = 0, 1, 2 ... in order and buf1 = the
                                    sender's performance counter before its SendEvent (in
                                    decimal); each is timed as its bytes are read, others
                                    are passed over; prints to standard output
                                      measure: count=N median_ms=X p99_ms=X min_ms=X
                                      max_ms=X in_order=1
                                    (p99 by nearest rank); a gap or a change of order fails
                                    (timeout: for each event, default 5000 ms)
  raw HEX                           bytes written to the agent as they are ("raw 1c 00 00 00")
  sleep MS
  break                             close the agent's IOMAN pipe instance; serve a new one
  stop-service MS                   no service for MS ms: neither IOMAN nor HWENUM pipe
                                    exists, connected clients are dropped; then serve again

Recorder driver (records go to the client that registered, on the channels it chose):
  rec-expect-register [timeout=MS]  until a client has registered (a registration newer
                                    than the one the last rec-expect-register saw;
                                    default 10000 ms)
  rec-expect-channels VCLCTRL|VCLCTRL,VCLOG [timeout=MS]
                                    until the registered client has chosen these channels
  rec-expect-unregister [timeout=MS]
                                    until no registration is left (given back, or its
                                    client gone)
  rec-event N [valid=N] [length=N]  a VCLCTRL record with call event N (1 start recording,
                                    2 stop recording, 3/5 call started, 4/6 call ended);
                                    valid: the word at offset 8 (1); length: the payload
                                    length (4), the event cut or padded with zeros
  rec-audio FILE [chunk=BYTES] [pace=fast|realtime]
                                    the samples of FILE (PCM, mono, 16 bits, 9600 per
                                    second) as VCLOG records of chunk bytes (default 960,
                                    50 ms); fast: as quickly as the client reads them;
                                    realtime: 19200 bytes a second, lost when the queue
                                    is full
  rec-raw HEX                       bytes handed out alone by the next read
  rec-fault none|silent|fail|long|overclaim|transient
                                    the driver's answers from now on: as they should be;
                                    nothing returned; result STATUS_UNSUCCESSFUL; more
                                    bytes than the buffer holds; a read claiming 40000
                                    bytes returned; the device call failing with
                                    ERROR_IO_DEVICE (1117), the handle still alive
  rec-drain [timeout=MS]            until the client has read every queued record
  rec-report                        prints on standard output: recorder: records_queued=N
                                    records_read=N dropped_unsubscribed=N dropped_overflow=N
                                    audio_bytes_queued=N audio_bytes_read=N reads=N
                                    max_queue_bytes=N
  rec-remove MS                     the driver is gone for MS ms (its client's handle breaks)
  rec-unplug ERROR MS               the driver is pulled out under its client's open handle:
                                    every request on that handle fails with the Win32 ERROR
                                    from now on (5, ERROR_ACCESS_DENIED, while a removed
                                    device's deletion is pending), and no client opens it
                                    again before MS ms have passed and that handle is closed;
                                    the script goes on at once

Values:
  TYPE   a type name (MSG_TYPE_HW_EVENT, or HW_EVENT) or number
  CODE   a code name of that type (NOTIFY_HOOK_STATE) or number
  N      decimal, -decimal, 0x hex, or a character in single quotes: info='#'
  TEXT   a bare word, or "quoted text" with \" \\ \n \r \t \0 \xHH; at most 32 bytes
         (payload 512); matched and sent zero-padded
  MS     milliseconds

Exit status: 0 when the script ran to its end with every expectation met and the agent
kept to the wire description; 1 when a command failed or the agent broke the wire
description (the line number, what arrived instead or what was wrong go to standard
error and the log); 2 for bad options or script faults (all reported with their line
numbers before anything runs); 3 when the pipes can not be served (another service or
stand-in serves them).
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
    bool interactive = false;
    bool quiet = false;
    bool logCounter = false;
    bool checkOnly = false;
    bool lenient = false;
    int adapters = 1;
    std::string keys[kMaxAdapters];
    DWORD enumDelayMs = 0;
    DWORD enumKeyDelayMs = 0;
    size_t recQueue = RecorderEndpoint::kDefaultQueueLimit;
};

bool ParseOptions(int argc, char** argv, Options* options, bool* help) {
    for (int i = 0; i < kMaxAdapters; ++i) {
        options->keys[i] = "SOFTWARE\\Velcora\\Quendo\\Adapter" + std::to_string(i);
    }
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                fprintf(stderr, "OrvinAdapterSim: %s needs a value\n", arg.c_str());
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto number = [&](int64_t max, int64_t* out) {
            std::string text;
            if (!value(&text)) {
                return false;
            }
            if (!ParseNumber(text, 0, max, out)) {
                fprintf(stderr, "OrvinAdapterSim: bad value '%s' for %s\n", text.c_str(), arg.c_str());
                return false;
            }
            return true;
        };
        int64_t n;
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
        } else if (arg == "--adapters") {
            if (!number(kMaxAdapters, &n)) {
                return false;
            }
            options->adapters = (int)n;
        } else if (arg.size() == 6 && arg.compare(0, 5, "--key") == 0 && arg[5] >= '0' &&
                   arg[5] < '0' + kMaxAdapters) {
            if (!value(&options->keys[arg[5] - '0'])) {
                return false;
            }
        } else if (arg == "--enum-delay" || arg == "--enum-key-delay") {
            if (!number(600000, &n)) {
                return false;
            }
            (arg == "--enum-delay" ? options->enumDelayMs : options->enumKeyDelayMs) = (DWORD)n;
        } else if (arg == "--rec-queue") {
            if (!number(64 * 1024 * 1024, &n)) {
                return false;
            }
            if (n < 32000) {
                fprintf(stderr, "OrvinAdapterSim: --rec-queue takes at least 32000 bytes\n");
                return false;
            }
            options->recQueue = (size_t)n;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fprintf(stderr, "OrvinAdapterSim: unknown option %s (see --help)\n", arg.c_str());
            return false;
        } else if (options->scriptPath.empty()) {
            options->scriptPath = arg;
        } else {
            fprintf(stderr, "OrvinAdapterSim: more than one script given\n");
            return false;
        }
    }
    if (options->interactive == !options->scriptPath.empty()) {
        fprintf(stderr, "OrvinAdapterSim: give a script or --interactive (see --help)\n");
        return false;
    }
    return true;
}

// Runs each line from standard input as it comes. Faults are reported and the session
// goes on; the exit status tells whether every command succeeded.
int RunInteractive(ScriptRunner& runner, SimLog& log) {
    int status = kExitOk;
    std::string text;
    for (int line = 1; std::getline(std::cin, text); ++line) {
        std::optional<ScriptCommand> command;
        std::string error;
        if (!ParseScriptLine(text, line, kSimCommands, &command, &error)) {
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

int RunScript(ScriptRunner& runner, SimLog& log, const std::vector<ScriptCommand>& commands) {
    for (const ScriptCommand& command : commands) {
        std::string failure;
        if (!runner.Run(command, &failure)) {
            log.Error("line %d: %s: %s", command.line, command.source.c_str(), failure.c_str());
            return kExitScriptFailed;
        }
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

    std::vector<ScriptCommand> commands;
    if (!options.interactive) {
        std::string text;
        if (!ReadWholeFile(options.scriptPath, &text)) {
            fprintf(stderr, "OrvinAdapterSim: can not read the script %s\n", options.scriptPath.c_str());
            return kExitBadInput;
        }
        std::vector<ScriptError> errors;
        if (!ParseScript(text, kSimCommands, &commands, &errors)) {
            for (const ScriptError& error : errors) {
                fprintf(stderr, "OrvinAdapterSim: %s: %s\n", options.scriptPath.c_str(),
                        FormatScriptError(error).c_str());
            }
            return kExitBadInput;
        }
    }
    if (options.checkOnly) {
        return kExitOk;
    }

    SimLog log("OrvinAdapterSim");
    log.SetQuiet(options.quiet);
    log.SetCounterStamps(options.logCounter);
    if (!options.logPath.empty() && !log.OpenFile(options.logPath)) {
        fprintf(stderr, "OrvinAdapterSim: can not write the log %s\n", options.logPath.c_str());
        return kExitBadInput;
    }
    if (options.logCounter) {
        log.Line("performance counter frequency %lld", log.Frequency());
    }

    EnumConfig enumConfig;
    enumConfig.keys.assign(options.keys, options.keys + options.adapters);
    enumConfig.delayMs = options.enumDelayMs;
    enumConfig.keyDelayMs = options.enumKeyDelayMs;
    HwenumEndpoint hwenum(log, enumConfig);
    IomanEndpoint ioman(log, options.lenient);
    RecorderEndpoint recorder(log, options.lenient, options.recQueue);
    std::string error;
    // IOMAN first: it allows one instance only, which also tells of a second stand-in
    // where the system does not honour FILE_FLAG_FIRST_PIPE_INSTANCE (Wine).
    if (!ioman.Start(&error) || !hwenum.Start(&error) || !recorder.Start(&error)) {
        log.Error("%s", error.c_str());
        return kExitCannotServe;
    }
    log.Line("serving \\\\.\\pipe\\%s and \\\\.\\pipe\\%s (%d adapters), and \\\\.\\pipe\\%s", kIomanPipeName,
             kHwenumPipeName, options.adapters, kRecorderPipeName);

    ScriptRunner runner(ioman, hwenum, recorder, log);
    int status = options.interactive ? RunInteractive(runner, log) : RunScript(runner, log, commands);

    ioman.Stop();
    hwenum.Stop();
    recorder.Stop();
    // What the agent sent after the last command counts too.
    std::string failure;
    if (!runner.CheckConformance(&failure) && status == kExitOk) {
        log.Error("after the script: %s", failure.c_str());
        status = kExitScriptFailed;
    }
    if (ioman.Warnings() || recorder.Warnings()) {
        log.Line("%d fault(s) against the wire description passed over (--lenient)",
                 ioman.Warnings() + recorder.Warnings());
    }
    log.Line("exit %d", status);
    return status;
}
