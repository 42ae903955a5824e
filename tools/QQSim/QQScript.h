// The QQ stand-in's script language, its items, and its checks of what the agent sends.
//
// One command per line; '#' outside quotes starts a comment; options are NAME=VALUE.
// Numbers are those of the adapter stand-in (ScriptText.h).
//
//   attach [timeout=MS]            answer the oldest discover not yet answered (the agent's
//                                  "WM_QQAPI_REGISTER" broadcast) with "WM_QQAPI_REGISTER_RESP"
//                                  (2, this window); with none, the window answered last; with
//                                  no such window, wait for a discover (default 10000 ms)
//   available                      broadcast "WM_QQAPI_AVAILABLE": the agents discover again
//   expect EVENT [ITEM ...] [timeout=MS]
//                                  the next message of that event whose items are exactly
//                                  these (any items when none are given); the ones before it
//                                  are passed over (default 5000 ms)
//   send EVENT [ITEM ...]          one message to the attached window
//   send-raw EVENT HEX             one message whose data are these bytes (hex, blanks
//                                  between bytes allowed when quoted)
//   sleep MS
//   hang MS                        the window takes no message at all for MS ms (a hung QQ:
//                                  the agent's sends time out); returns at once
//   vanish [close=MS]              no more answers or messages; the window closes after MS
//
// ITEM (tag-length-value): TAG:byte:N (1 byte), TAG:u32:N (4 bytes), TAG:text:TEXT (the
// text's bytes), TAG:textz:TEXT (the text and its NUL), TAG:hex:HEX (bytes), TAG:any
// (expect only: any value). TEXT is a bare word or "quoted".
//
// Every message the agent sends must come after the handshake, from the window that
// attached, hold whole items and nothing else, and be one the agent sends:
//   10  5:textz (a name, NUL only at its end) then 6:u32, or 6:u32:0 alone
//   12  7:byte:145 or 7:byte:146
//   13  one item of tag 3 (fewer than 3 digits) or 1 (3 or more): digits 0-9, no NUL
//   19  8:byte (a QQ call status 1..10) then 9:u32
//
// Nothing here does I/O: a whole script is checked, every fault with its line number,
// before anything runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvin::qqsim {

enum class QQCommandKind { Attach, Available, Expect, Send, SendRaw, Sleep, Hang, Vanish };

constexpr uint32_t kDefaultAttachMs = 10000;
constexpr uint32_t kDefaultExpectMs = 5000;
constexpr size_t kMaxMessageBytes = 4096;

struct ItemSpec {
    enum class Kind { Byte, Number, Text, TextZ, Hex, Any };
    uint8_t tag = 0;
    Kind kind = Kind::Any;
    uint32_t number = 0; // byte, u32
    std::string bytes;   // text (without NUL), textz (without NUL), hex

    // The value's bytes (not for Any).
    std::string Value() const;
};

struct QQCommand {
    QQCommandKind kind = QQCommandKind::Sleep;
    int line = 0;
    std::string source;

    uint32_t event = 0;
    bool anyItems = true;        // expect: no items given
    std::vector<ItemSpec> items; // expect, send
    std::string raw;             // send-raw
    uint32_t timeoutMs = 0;
    uint32_t ms = 0;
};

bool ParseQQLine(const std::string& text, int line, std::optional<QQCommand>* command, std::string* error);

// The data of a send or send-raw command.
std::string MakeQQData(const QQCommand& send);

// One item as it came: its tag, the length it claims and the bytes of its value.
struct ParsedItem {
    uint8_t tag = 0;
    uint32_t length = 0;
    std::string value;
};

// Cuts data into items. False with *fault when they are not whole items and nothing else
// (the items before the fault are in *items).
bool SplitItems(const std::string& data, std::vector<ParsedItem>* items, std::string* fault);

// What the agent sent, as the stand-in received it.
struct QQMessageReceived {
    uint32_t event = 0;
    std::string data;
    bool attached = false;
    bool fromAttachedWindow = false;
};

// The rules the message breaks, each in words; empty when it keeps them all.
std::vector<std::string> CheckQQMessage(const QQMessageReceived& message);

// Whether a message meets an expect.
bool MatchesExpect(const QQCommand& expect, uint32_t event, const std::string& data);

// A message for the log, its items in the script's own form: "event=13 1:text:555".
std::string ShowQQMessage(uint32_t event, const std::string& data);

} // namespace orvin::qqsim
