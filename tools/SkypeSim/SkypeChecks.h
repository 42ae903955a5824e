// What the Skype stand-in checks in every command the agent sends it (one WM_COPYDATA
// each), against the agent's side of Skype's window-message API:
//   - the command comes after the attach handshake: the stand-in has answered that
//     window's discover with attach status 0;
//   - it comes from the window that attached (the copy-data's sender parameter);
//   - the copy-data's data word is 0;
//   - the text carries its terminating zero: the length counts the text's bytes and the
//     zero, the last byte is that zero and no other byte is zero;
//   - the text is at most 255 bytes, so 256 with its zero;
//   - the text is well-formed UTF-8 (shortest forms, no surrogates, nothing above U+10FFFF).
// The softphones whose commands come in the system's ANSI code page (Tessaro, ThinkIt)
// take texts of any length and any bytes but zero; they never get an empty command.
// Each broken rule is one violation, described in words; the stand-in reports each as an
// error (or a warning with --lenient). Nothing here does I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvin::skypesim {

constexpr size_t kMaxCommandTextBytes = 255;

// The rules of the text itself, which differ between the softphones.
struct CommandRules {
    bool utf8;           // well-formed UTF-8
    size_t maxTextBytes; // 0: any length
    bool emptyAllowed;   // an empty text (the zero alone) is a command
};
constexpr CommandRules kSkypeCommandRules = {true, kMaxCommandTextBytes, true};
constexpr CommandRules kAnsiCommandRules = {false, 0, false};

struct ReceivedCommand {
    uint32_t data = 0;     // the copy-data's data word
    std::string bytes;     // all the bytes the copy-data counted, zero included
    bool attached = false; // the handshake with some window has completed
    bool fromAttachedWindow = false;
};

// The violations of one command; empty when it keeps every rule.
std::vector<std::string> CheckCommand(const ReceivedCommand& command,
                                      const CommandRules& rules = kSkypeCommandRules);

// The offset of the first byte that is not part of well-formed UTF-8, or size when all are.
size_t FindBadUtf8(const uint8_t* bytes, size_t size);

// The command's text: its bytes up to the first zero (all of them when there is none).
std::string CommandText(const std::string& bytes);

// A text for a log line: printable ASCII as it is, a backslash doubled, every other byte
// as \xHH.
std::string ShowText(const std::string& text);

} // namespace orvin::skypesim
