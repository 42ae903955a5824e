// The command language of the adapter-service stand-in (and of the I/O manager probe
// that plays the agent's side in tests): one command per line, `#` outside quotes starts
// a comment, words are separated by blanks, options are NAME=VALUE.
//
// Values:
//   numbers   decimal, negative decimal, 0x hex, or a character in single quotes ('#')
//   TEXT      a bare word, or "a quoted string" with \" \\ \n \r \t \0 and \xHH escapes;
//             buf1..buf3 take at most 32 bytes, payload at most 512
//   TYPE      a message type by its catalogue name (MSG_TYPE_HW_EVENT, or HW_EVENT
//             without the prefix) or its number
//   CODE      a code by its name within that type (NOTIFY_HOOK_STATE) or its number
//
// Parsing does no I/O and needs no pipe: a whole script is checked, and every fault
// reported with its line number, before any command runs.
#pragma once

#include "SimCommon/ScriptText.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvin::sim {

enum class CommandKind : uint32_t {
    // The stand-in's side.
    WaitAgent,     // wait-agent [timeout=MS]: a new greeting since the last wait-agent
    Expect,        // expect TYPE CODE [info=N] [buf1..3=TEXT] [payload=TEXT] [ioctl=N] [timeout=MS]
    ExpectGeneric, // expect-generic [ioctl=N] [value=N] [timeout=MS]
    Send,          // send TYPE CODE [info=N] [buf1..3=TEXT] [payload=TEXT]
    AdaptorInfo,   // adaptor-info lowcost=N
    Sleep,         // sleep MS
    Break,         // break
    StopService,   // stop-service MS
    Raw,           // raw HEX
    Burst,         // burst COUNT TYPE CODE [interval=MS]
    Measure,       // measure COUNT TYPE CODE [timeout=MS]
    // The probe's side (the agent's end of the pipe).
    SendGeneric,   // send-generic [internal=N] [value=N]
    WaitAvailable, // wait-available [timeout=MS]
    WaitConnected, // wait-connected [timeout=MS]
    Open,          // open
    Close,         // close
    // The recorder driver's side (the stand-in).
    RecExpectRegister,   // rec-expect-register [timeout=MS]
    RecExpectChannels,   // rec-expect-channels CHANNELS [timeout=MS]
    RecExpectUnregister, // rec-expect-unregister [timeout=MS]
    RecEvent,            // rec-event N [valid=N] [length=N]
    RecAudio,            // rec-audio FILE [chunk=BYTES] [pace=fast|realtime]
    RecRaw,              // rec-raw HEX
    RecFault,            // rec-fault none|silent|fail|long|overclaim|transient
    RecDrain,            // rec-drain [timeout=MS]
    RecReport,           // rec-report
    RecRemove,           // rec-remove MS
    RecUnplug,           // rec-unplug ERROR MS
    Count
};
static_assert(static_cast<uint32_t>(CommandKind::Count) <= 32, "command masks are 32 bits");

constexpr uint32_t CommandBit(CommandKind kind) {
    return 1u << static_cast<uint32_t>(kind);
}

// What each program accepts.
constexpr uint32_t kSimCommands =
    CommandBit(CommandKind::WaitAgent) | CommandBit(CommandKind::Expect) |
    CommandBit(CommandKind::ExpectGeneric) | CommandBit(CommandKind::Send) |
    CommandBit(CommandKind::AdaptorInfo) | CommandBit(CommandKind::Sleep) | CommandBit(CommandKind::Break) |
    CommandBit(CommandKind::StopService) | CommandBit(CommandKind::Raw) | CommandBit(CommandKind::Burst) |
    CommandBit(CommandKind::Measure) | CommandBit(CommandKind::RecExpectRegister) |
    CommandBit(CommandKind::RecExpectChannels) | CommandBit(CommandKind::RecExpectUnregister) |
    CommandBit(CommandKind::RecEvent) | CommandBit(CommandKind::RecAudio) | CommandBit(CommandKind::RecRaw) |
    CommandBit(CommandKind::RecFault) | CommandBit(CommandKind::RecDrain) |
    CommandBit(CommandKind::RecReport) | CommandBit(CommandKind::RecRemove) |
    CommandBit(CommandKind::RecUnplug);
constexpr uint32_t kProbeCommands =
    CommandBit(CommandKind::Expect) | CommandBit(CommandKind::Send) | CommandBit(CommandKind::SendGeneric) |
    CommandBit(CommandKind::Burst) | CommandBit(CommandKind::Sleep) | CommandBit(CommandKind::WaitAvailable) |
    CommandBit(CommandKind::WaitConnected) | CommandBit(CommandKind::Open) | CommandBit(CommandKind::Close);

constexpr uint32_t kDefaultWaitAgentMs = 10000;
constexpr uint32_t kDefaultExpectMs = 5000;
constexpr uint32_t kDefaultMeasureMs = 5000; // for each event
constexpr uint32_t kDefaultWaitAvailableMs = 10000;
constexpr size_t kTextBufferSize = 32;
constexpr size_t kTextPayloadSize = 512;
constexpr uint32_t kDefaultRecExpectMs = 10000;
constexpr uint32_t kDefaultRecChunk = 960;    // 50 ms of the driver's audio
constexpr uint32_t kMaxRecChunk = 32000 - 40; // one record fits one read
constexpr uint32_t kMaxRecPayloadLength = 31960;

struct ScriptCommand {
    CommandKind kind = CommandKind::Sleep;
    int line = 0;
    std::string source; // the line as written, comment removed and trimmed

    // Message fields (send, expect, burst, measure).
    int32_t type = 0;
    int32_t code = 0;
    std::optional<int32_t> info;
    std::optional<std::string> buffer[3]; // buf1, buf2, buf3
    std::optional<std::string> payload;
    std::optional<uint32_t> ioctl;    // expect: the extra value; expect-generic: Param 0
    std::optional<uint32_t> value;    // expect-generic: Param 1; send-generic: the value
    std::optional<uint32_t> internal; // send-generic: the internal request code

    uint32_t timeoutMs = 0;   // the waiting commands
    uint32_t ms = 0;          // sleep, stop-service
    uint32_t count = 0;       // burst, measure
    uint32_t intervalMs = 0;  // burst
    int32_t lowCost = 0;      // adaptor-info
    std::vector<uint8_t> raw; // raw, rec-raw

    // The recorder driver's commands.
    uint32_t recEvent = 0;             // rec-event: the call event
    uint32_t recValid = 1;             // rec-event: the valid word at offset 8
    uint32_t recLength = 4;            // rec-event: the payload length
    std::string path;                  // rec-audio: the WAV file
    uint32_t chunk = kDefaultRecChunk; // rec-audio: payload bytes per record
    bool realtime = false;             // rec-audio: at the audio's own pace
    std::string word;                  // rec-expect-channels: VCLCTRL or VCLCTRL,VCLOG; rec-fault: the mode
    uint32_t recError = 0;             // rec-unplug: the Win32 error the open handle fails with
};

struct ScriptError {
    int line = 0;
    std::string message;
};

// "line N: message".
std::string FormatScriptError(const ScriptError& error);

// Parses one line. Returns true with *command set for a command, true with *command
// empty for a blank or comment line, false with *error set for a fault. `allowed` is a
// mask of CommandBit values.
bool ParseScriptLine(const std::string& text, int line, uint32_t allowed,
                     std::optional<ScriptCommand>* command, std::string* error);

// Parses a whole script (lines separated by LF or CR LF). Every fault is collected; true
// when there was none.
bool ParseScript(const std::string& text, uint32_t allowed, std::vector<ScriptCommand>* commands,
                 std::vector<ScriptError>* errors);

// The catalogue lookups the language uses, for tools that take names elsewhere too.
bool ParseMsgType(const std::string& word, int32_t* type);
bool ParseMsgCode(int32_t type, const std::string& word, int32_t* code);

const char* CommandName(CommandKind kind);

} // namespace orvin::sim
