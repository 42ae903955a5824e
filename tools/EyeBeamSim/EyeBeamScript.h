// The EyeBeam stand-in's script language, and its checks of the records the agent sends.
//
// One command per line; '#' outside quotes starts a comment; options are NAME=VALUE.
// Numbers are those of the adapter stand-in (ScriptText.h): decimal, 0x hex, or a
// character in single quotes ('5').
//
//   attach [timeout=MS]            answer the oldest discover not yet answered (the agent's
//                                  register broadcast) with the register message, 1 and this
//                                  window; with none, the window answered last; with no
//                                  such window, wait for a discover (default 10000 ms)
//   available                      broadcast "API available": the agents discover again
//   detach                         the register message with 0 to the attached window:
//                                  EyeBeam says goodbye
//   expect TYPE CODE [info=N] [timeout=MS]
//                                  the next record that matches; the ones before it are
//                                  passed over (default 5000 ms)
//   send TYPE EVENT [info=N] [size=N]
//                                  one record to the attached window: 620 bytes unless
//                                  size says otherwise (cut short, or zeros added)
//   sleep MS
//   hang MS                        the window takes no message at all for MS ms (a hung
//                                  EyeBeam: the agent's sends time out); returns at once
//   vanish [close=MS]              no more answers or records; the window closes after MS
//
// Every record the agent sends must come after the handshake, from the window that
// attached, with data word 0, be exactly 620 bytes with nothing but zeros after Info, and
// be one the agent sends: type 0 with a call status (0..14) and Info 0; type 1 code 1
// (a key: 0-9, *, #, A-D); type 1 code 13 with Info 16 (dial) or 17 (hang up).
//
// Nothing here does I/O: a whole script is checked, every fault with its line number,
// before anything runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvin::eyebeamsim {

enum class EyeBeamCommandKind { Attach, Available, Detach, Expect, Send, Sleep, Hang, Vanish };

constexpr uint32_t kDefaultAttachMs = 10000;
constexpr uint32_t kDefaultExpectMs = 5000;
constexpr uint32_t kMaxRecordBytes = 4096;

struct EyeBeamCommand {
    EyeBeamCommandKind kind = EyeBeamCommandKind::Sleep;
    int line = 0;
    std::string source; // the line as written, comment removed and trimmed

    int32_t type = 0;            // expect, send
    int32_t code = 0;            // expect, send (the event)
    std::optional<int32_t> info; // expect: matched when given; send: 0 when not
    uint32_t size = 0;           // send: the record's length
    uint32_t timeoutMs = 0;
    uint32_t ms = 0; // sleep, hang; vanish: until the window closes
};

// Parses one line: true with *command set, true with it empty for a blank or comment
// line, false with *error.
bool ParseEyeBeamLine(const std::string& text, int line, std::optional<EyeBeamCommand>* command,
                      std::string* error);

// The record a send command describes.
std::string MakeEyeBeamRecord(const EyeBeamCommand& send);

// What the agent sent, as the stand-in received it.
struct EyeBeamRecordReceived {
    uint32_t data = 0;
    std::string bytes;
    bool attached = false;
    bool fromAttachedWindow = false;
};

// The rules the record breaks, each in words; empty when it keeps them all.
std::vector<std::string> CheckEyeBeamRecord(const EyeBeamRecordReceived& record);

// Whether a record meets an expect.
bool MatchesExpect(const EyeBeamCommand& expect, const std::string& bytes);

// A record for the log: "type=T code=C info=I", with its length when it is not 620.
std::string ShowEyeBeamRecord(const std::string& bytes);

} // namespace orvin::eyebeamsim
