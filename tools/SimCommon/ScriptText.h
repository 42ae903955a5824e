// The lexical layer the stand-ins' script languages share: a line split into words
// (blanks separate them, quotes keep blanks and '#' inside a word, '#' outside quotes
// starts a comment), quoted texts with their escapes, and numbers.
//
//   TEXT    a bare word, or "a quoted string" with \" \\ \n \r \t \0 and \xHH escapes
//   number  decimal, negative decimal, 0x hex, or a character in single quotes ('#')
//
// Nothing here does I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvin::sim {

// Splits a line into words; quoted words keep their quotes (DecodeText takes them off).
// *source is the line as written, less comment and surrounding blanks. False, with
// *error, for a quote that is not closed.
bool SplitWords(const std::string& text, std::vector<std::string>* words, std::string* source,
                std::string* error);

// The value of a hexadecimal digit, or -1.
int HexDigit(char c);

// One escape after the backslash at text[*i]; advances *i past it. False for an escape
// the language does not know.
bool DecodeEscape(const std::string& text, size_t* i, char* out);

// A TEXT word's value: a bare word as it is, a quoted one with its escapes decoded.
bool DecodeText(const std::string& word, std::string* text, std::string* error);

// A number within [min, max].
bool ParseNumber(const std::string& word, int64_t min, int64_t max, int64_t* value);

// A TEXT value written back in the language's own form: bare when it can be, otherwise
// quoted with escapes. Trailing zero bytes are dropped.
std::string QuoteText(const uint8_t* bytes, size_t size);

// The commands of a one-line script "cmd;cmd;...": its pieces between semicolons, blank
// ones passed over.
std::vector<std::string> SplitScriptPieces(const std::string& script);

} // namespace orvin::sim
