// The agent's trace log: one process-wide facility that takes printf-style lines from
// every part of the agent and sends them to the sink chosen in the registry
// (HKLM\Software\Velcora\Quendo):
//   DebugType 0  nothing
//             1  the debug-output driver "WINDDX0"      (DriverChannel command 12)
//             2  the system debugger (OutputDebugString)
//             3  the file DebugFile, flushed after every line (by a thread of its own,
//                so that a line never waits for the disk)
//             4  the WDM helper driver "ZUWDMHLP"      (DriverChannel command 0xF007)
// Every line is tagged "{OrvinAgent} " and cut to 511 characters of message. The two
// driver sinks reach their devices through DriverChannel, which takes a device's stand-in
// pipe only behind its switch for tests (DriverChannel.h).
//
// Threads: any thread may trace. The settings are read once, on first use (with the WDM
// helper sink, again at every line until its device opens); a line is formatted in the
// caller's own buffers and goes out in one system call, under a small lock so that lines
// written at the same moment never interleave.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace orvin {

enum TraceSink : uint32_t {
    kTraceNone = 0,
    kTraceDebugDriver = 1,
    kTraceDebugger = 2,
    kTraceFile = 3,
    kTraceWdmHelper = 4,
};

constexpr uint32_t kTraceCmdDebugDriverLine = 12;
constexpr uint32_t kTraceCmdWdmHelperLine = 0xF007;
constexpr int kTraceMessageLimit = 512; // bytes, terminator included

// Reads the settings and opens the sink. Idempotent.
void TraceStart();
// This process never traces, whatever the settings say: for the product's other programs,
// whose code shares the agent's but must not take over (and start afresh) its trace file.
// Call it before the first line.
void TraceKeepOff();
// Closes the sink; the next line or TraceStart reads the settings again.
void TraceStop();
// Starts the facility if needed and returns DebugLevel (0 when missing).
uint32_t TraceGetDebugLevel();
// The sink in use (kTraceNone when tracing is off).
uint32_t TraceGetSinkType();
// The gate every call site compares with its line's level. 0 for the whole run.
int32_t TraceGetLevel();

// The writer: starts the facility if needed, then writes one line as formatted.
void TraceWrite(const char* format, ...) __attribute__((format(printf, 1, 2)));
void TraceWriteV(const char* format, va_list args);
// The everyday entry: formats the text and writes it followed by a line feed.
void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace orvin

// Lines of level 0 are always written; lines of a higher level only when the trace level
// reaches them, which it never does in the agent.
#define TRACE(...) ::orvin::TraceLine(__VA_ARGS__)
#define TRACE_LEVEL(level, ...)                                                                              \
    do {                                                                                                     \
        if (::orvin::TraceGetLevel() >= (level))                                                             \
            ::orvin::TraceLine(__VA_ARGS__);                                                                 \
    } while (0)
