// The command language of the Skype stand-in (and of the test peer that plays the
// agent's side of Skype's window-message API): one command per line, '#' outside quotes
// starts a comment, words are separated by blanks, options are NAME=VALUE. Words, quoted
// texts and numbers are those of the adapter stand-in (ScriptText.h).
//
// TEXT arguments: the command's words (options aside) joined by single blanks, each word
// bare or quoted; so `notify CALL 12 STATUS RINGING` and `notify "CALL 12 STATUS RINGING"`
// are the same. A text with a '#', a run of blanks, a trailing blank or a word of the form
// NAME=VALUE is written quoted.
//
// PATTERN arguments: a TEXT in which '*' stands for any run of bytes (the shortest that
// lets the rest match) and '?' for one byte; in a quoted word "\*" and "\?" are the
// characters themselves. Matching is exact otherwise: case counts, and the whole text
// must match.
//
// Replies (`answer`, `answer-inside`): in each NOTIFICATION, $1 to $9 stand for what the first to ninth
// '*' of the COMMAND matched, $0 for the whole command, $$ for a dollar sign.
//
// Parsing does no I/O and needs no window: a whole script is checked, and every fault
// reported with its line number, before any command runs.
#pragma once

#include "SimCommon/ScriptText.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvin::skypesim {

enum class SkypeCommandKind : uint32_t {
    // The stand-in's side (Skype).
    Attach,        // attach STATUS [timeout=MS]
    ExpectCommand, // expect-command PATTERN [timeout=MS]
    Notify,        // notify TEXT [zero=0|1]
    Answer,        // answer PATTERN => NOTIFICATION [| NOTIFICATION ...]
    AnswerInside,  // answer-inside PATTERN => NOTIFICATION [| NOTIFICATION ...]
    Sleep,         // sleep MS
    Vanish,        // vanish [close=MS]
    Hang,          // hang MS
    // The test peer's side (the agent).
    Discover,           // discover [timeout=MS]
    Send,               // send TEXT [zero=0|1] [data=N] [from=attached|other]
    ExpectNotification, // expect-notification PATTERN [timeout=MS]
    WaitGone,           // wait-gone [timeout=MS]
    WaitAttached,       // wait-attached [timeout=MS]
    Count
};

constexpr uint32_t SkypeCommandBit(SkypeCommandKind kind) {
    return 1u << static_cast<uint32_t>(kind);
}

constexpr uint32_t kSkypeSimCommands =
    SkypeCommandBit(SkypeCommandKind::Attach) | SkypeCommandBit(SkypeCommandKind::ExpectCommand) |
    SkypeCommandBit(SkypeCommandKind::Notify) | SkypeCommandBit(SkypeCommandKind::Answer) |
    SkypeCommandBit(SkypeCommandKind::AnswerInside) | SkypeCommandBit(SkypeCommandKind::Sleep) |
    SkypeCommandBit(SkypeCommandKind::Vanish) | SkypeCommandBit(SkypeCommandKind::Hang);
constexpr uint32_t kSkypePeerCommands =
    SkypeCommandBit(SkypeCommandKind::Discover) | SkypeCommandBit(SkypeCommandKind::Send) |
    SkypeCommandBit(SkypeCommandKind::ExpectNotification) | SkypeCommandBit(SkypeCommandKind::WaitGone) |
    SkypeCommandBit(SkypeCommandKind::WaitAttached) | SkypeCommandBit(SkypeCommandKind::Sleep);

// Attach statuses, as the second parameter of the attach message.
constexpr uint32_t kAttachSuccess = 0;
constexpr uint32_t kAttachPendingAuthorization = 1;
constexpr uint32_t kAttachRefused = 2;
constexpr uint32_t kAttachNotAvailable = 3;
constexpr uint32_t kAttachApiAvailable = 0x8001;

// A softphone's attach statuses by name: the names a script may use, and which statuses
// mean "attached", "not available" (the attached window may still send its last commands)
// and "available again" (broadcast: every agent discovers anew). Skype's are above; a
// softphone of the same kind may number them otherwise.
struct AttachStatusNames {
    struct Entry {
        const char* name;
        uint32_t status;
    };
    const Entry* entries;
    size_t count;
    uint32_t success;
    uint32_t notAvailable;
    uint32_t available;
};
extern const AttachStatusNames kSkypeAttachStatuses;

constexpr uint32_t kDefaultAttachMs = 10000;
constexpr uint32_t kDefaultExpectMs = 5000;
constexpr uint32_t kDefaultWaitGoneMs = 10000;
constexpr size_t kMaxScriptText = 4096;

// A PATTERN: one element per byte of the text.
struct Pattern {
    enum class Element : uint8_t { Literal, Any, AnyRun };
    std::string bytes; // the literal bytes (unused where the element is a wildcard)
    std::vector<Element> elements;
    int runs = 0; // how many '*'

    // True when the whole of text matches; then (*captures)[k] is what the k-th '*' took.
    bool Match(const std::string& text, std::vector<std::string>* captures = nullptr) const;
    // The pattern as written (wildcards as '*' and '?', literal ones escaped).
    std::string Written() const;
};

// A NOTIFICATION of an `answer`: literal pieces and references to what a '*' matched.
struct Reply {
    struct Piece {
        std::string literal; // used when capture < 0
        int capture = -1;    // 0 the whole command, 1..9 the k-th '*'
    };
    std::vector<Piece> pieces;

    std::string Expand(const std::string& command, const std::vector<std::string>& captures) const;
};

struct SkypeCommand {
    SkypeCommandKind kind = SkypeCommandKind::Sleep;
    int line = 0;
    std::string source; // the line as written, comment removed and trimmed

    uint32_t status = 0;        // attach
    Pattern pattern;            // expect-command, answer, expect-notification
    std::string text;           // notify, send
    std::vector<Reply> replies; // answer, answer-inside
    bool inside = false;        // answer-inside: sent before the agent's SendMessage returns
    bool zero = true;           // notify, send: the terminating zero goes with the text
    uint32_t data = 0;          // send: the copy-data's data word
    bool fromOther = false;     // send: from the peer's second window
    uint32_t timeoutMs = 0;     // the waiting commands
    uint32_t ms = 0;            // sleep; vanish: until the window closes; hang
};

struct SkypeScriptError {
    int line = 0;
    std::string message;
};

// "line N: message".
std::string FormatSkypeScriptError(const SkypeScriptError& error);

// Parses one line. True with *command set for a command, true with *command empty for a
// blank or comment line, false with *error set for a fault. `allowed` is a mask of
// SkypeCommandBit values; `statuses` names the attach statuses.
bool ParseSkypeScriptLine(const std::string& text, int line, uint32_t allowed,
                          std::optional<SkypeCommand>* command, std::string* error,
                          const AttachStatusNames& statuses = kSkypeAttachStatuses);

// Parses a whole script (lines separated by LF or CR LF). Every fault is collected; true
// when there was none.
bool ParseSkypeScript(const std::string& text, uint32_t allowed, std::vector<SkypeCommand>* commands,
                      std::vector<SkypeScriptError>* errors,
                      const AttachStatusNames& statuses = kSkypeAttachStatuses);

// An attach status by name (Skype's: success, pending, refused, unavailable, available) or
// number.
bool ParseAttachStatus(const std::string& word, uint32_t* status,
                       const AttachStatusNames& statuses = kSkypeAttachStatuses);
// The name of an attach status, or its number in decimal.
std::string AttachStatusName(uint32_t status, const AttachStatusNames& statuses = kSkypeAttachStatuses);
// The names, as "a, b or a number".
std::string AttachStatusChoices(const AttachStatusNames& statuses);

const char* SkypeCommandName(SkypeCommandKind kind);

} // namespace orvin::skypesim
