#include "ScriptText.h"

#include <cstring>

namespace orvin::sim {

// Splits a line into words. Quotes keep blanks and '#' inside a word; the quotes stay in
// the word and are taken off when the value is decoded. A '#' outside quotes ends the line.
bool SplitWords(const std::string& text, std::vector<std::string>* words, std::string* source,
                std::string* error) {
    std::string word;
    bool inWord = false;
    size_t end = text.size();
    size_t i = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '#') {
            end = i;
            break;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inWord) {
                words->push_back(word);
                word.clear();
                inWord = false;
            }
            continue;
        }
        inWord = true;
        if (c == '"' || c == '\'') {
            char quote = c;
            word += c;
            size_t j = i + 1;
            for (; j < text.size() && text[j] != quote; ++j) {
                if (text[j] == '\\' && j + 1 < text.size()) {
                    word += text[j++];
                }
                word += text[j];
            }
            if (j >= text.size()) {
                *error = "unterminated quoted text";
                return false;
            }
            word += quote;
            i = j;
            continue;
        }
        word += c;
    }
    if (inWord) {
        words->push_back(word);
    }
    // The line as written, less comment and surrounding blanks.
    size_t first = text.find_first_not_of(" \t\r\n");
    size_t last = end ? text.find_last_not_of(" \t\r\n", end - 1) : std::string::npos;
    *source = (first == std::string::npos || last == std::string::npos || first > last || first >= end)
                  ? std::string()
                  : text.substr(first, last - first + 1);
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One escape after a backslash at text[*i]; advances *i past it.
bool DecodeEscape(const std::string& text, size_t* i, char* out) {
    size_t at = *i + 1;
    if (at >= text.size()) {
        return false;
    }
    char c = text[at];
    switch (c) {
    case 'n':
        *out = '\n';
        break;
    case 'r':
        *out = '\r';
        break;
    case 't':
        *out = '\t';
        break;
    case '0':
        *out = '\0';
        break;
    case '\\':
        *out = '\\';
        break;
    case '"':
        *out = '"';
        break;
    case '\'':
        *out = '\'';
        break;
    case 'x': {
        if (at + 2 >= text.size() || HexDigit(text[at + 1]) < 0 || HexDigit(text[at + 2]) < 0) {
            return false;
        }
        *out = (char)(HexDigit(text[at + 1]) * 16 + HexDigit(text[at + 2]));
        at += 2;
        break;
    }
    default:
        return false;
    }
    *i = at + 1;
    return true;
}

bool DecodeText(const std::string& word, std::string* text, std::string* error) {
    if (word.empty() || word[0] != '"') {
        *text = word;
        return true;
    }
    text->clear();
    size_t i = 1;
    while (i + 1 < word.size()) {
        if (word[i] == '\\') {
            char c;
            if (!DecodeEscape(word, &i, &c)) {
                *error = "bad escape in " + word;
                return false;
            }
            *text += c;
        } else {
            *text += word[i++];
        }
    }
    return true;
}

bool ParseNumber(const std::string& word, int64_t min, int64_t max, int64_t* value) {
    int64_t result = 0;
    if (word.size() >= 3 && word.front() == '\'' && word.back() == '\'') {
        size_t i = 1;
        char c = word[1];
        if (c == '\\') {
            if (!DecodeEscape(word, &i, &c)) {
                return false;
            }
        } else {
            i = 2;
        }
        if (i != word.size() - 1) {
            return false;
        }
        result = (unsigned char)c;
    } else {
        bool negative = !word.empty() && word[0] == '-';
        size_t i = negative ? 1 : 0;
        int base = 10;
        if (word.size() > i + 2 && word[i] == '0' && (word[i + 1] == 'x' || word[i + 1] == 'X')) {
            base = 16;
            i += 2;
        }
        if (i >= word.size()) {
            return false;
        }
        for (; i < word.size(); ++i) {
            int digit = HexDigit(word[i]);
            if (digit < 0 || digit >= base) {
                return false;
            }
            result = result * base + digit;
            if (result > (int64_t)1 << 40) {
                return false;
            }
        }
        if (negative) {
            result = -result;
        }
    }
    if (result < min || result > max) {
        return false;
    }
    *value = result;
    return true;
}

std::string QuoteText(const uint8_t* bytes, size_t size) {
    while (size && bytes[size - 1] == 0) {
        --size;
    }
    bool bare = size > 0;
    for (size_t i = 0; i < size && bare; ++i) {
        uint8_t c = bytes[i];
        bare = c > ' ' && c < 0x7f && !strchr("\"'#\\=", c);
    }
    if (bare) {
        return std::string(reinterpret_cast<const char*>(bytes), size);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string text = "\"";
    for (size_t i = 0; i < size; ++i) {
        uint8_t c = bytes[i];
        switch (c) {
        case '"':
            text += "\\\"";
            break;
        case '\\':
            text += "\\\\";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\r':
            text += "\\r";
            break;
        case '\t':
            text += "\\t";
            break;
        default:
            if (c >= ' ' && c < 0x7f) {
                text += (char)c;
            } else {
                text += "\\x";
                text += kHex[c >> 4];
                text += kHex[c & 15];
            }
        }
    }
    return text + "\"";
}

std::vector<std::string> SplitScriptPieces(const std::string& script) {
    std::vector<std::string> pieces;
    size_t at = 0;
    while (at <= script.size()) {
        size_t end = script.find(';', at);
        std::string piece = script.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (piece.find_first_not_of(" \t\r\n") != std::string::npos) {
            pieces.push_back(piece);
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return pieces;
}

} // namespace orvin::sim
