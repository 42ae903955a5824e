// The texts of the user-interface translation, apart from any system call: the built-in
// English table, the language key a system's language and ANSI code page give, the first
// line a translation file must begin with, and the reading of a translation file's text
// into key/value pairs.
//
// A translation file is text in the code page its language key names. Its first line is
// "English1252=" and the language key; every other line is an English text, "=", and its
// translation. A translation beginning with ";" (or an empty one) means "no translation":
// the English text stays. The file is read line by line and each line split at its first
// "=", so a broken line costs only that line: the pairs after it keep their places.
//
// Everything here is plain data and pure functions; any thread may use them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvin {

struct BuiltInText {
    int number;
    const char* english;
};

// The built-in table, in its fixed order (the order gives each entry its index).
extern const BuiltInText kBuiltInTexts[];
extern const size_t kBuiltInTextCount;

// What NumberOfText answers for a text that is not in the table.
constexpr int kNoTextNumber = 156;

constexpr const char* kTranslationFileName = "zuvoip.lng";
constexpr const char* kTranslationCabinetName = "zuvoiplng.cab";
constexpr const char* kFirstLinePrefix = "English1252=";

// The first line is compared as read with at most this many characters.
constexpr size_t kFirstLineLimit = 63;
// A key or a translation must fit, with its terminator, the 512-byte buffer the texts are
// fetched through; a longer line is refused.
constexpr size_t kTranslationTextLimit = 511;
// A translation file is a few kilobytes; anything beyond this is not one.
constexpr size_t kTranslationFileLimit = 1024 * 1024;

// The key for a language's English name and an ANSI code page: "Chinese (PRC)" and 936
// give "Chinese936", "German" and 1252 give "German1252". Returns false, with the key
// empty, when no translation applies: English with 1252, an empty name, or a name that
// cannot be a file name (the key names a cabinet member and a file).
bool MakeLanguageKey(const char* englishName, unsigned codePage, std::string& key);

// "English1252=" followed by the key.
std::string ExpectedFirstLine(const std::string& languageKey);

// The first line of a file's opening bytes (`length` of them), line end removed, when it
// ends within kFirstLineLimit characters; false for a longer or missing line.
bool FirstLineOf(const char* bytes, size_t length, std::string& line);

// ASCII letters compared without regard to case; every other byte exactly.
bool EqualIgnoringCase(const std::string& a, const std::string& b);

struct TranslationPairs {
    std::vector<std::string> keys;
    std::vector<std::string> values;
    // Per pair: false when the file gives no translation (";" or empty), so the value is a
    // copy of the key.
    std::vector<bool> translated;
    // Lines refused, 1-based, with the reason, for the trace.
    struct Refused {
        int line;
        const char* reason;
    };
    std::vector<Refused> refused;
};

// Reads a translation file's text (`length` bytes, no terminator needed) into pairs. Lines
// end at carriage return or line feed; empty lines are skipped. A line without "=", with
// an empty key, with a zero byte, or with a key or translation longer than
// kTranslationTextLimit is refused and its place skipped. The first line forms a pair like
// any other.
TranslationPairs ParseTranslationText(const char* text, size_t length);

} // namespace orvin
