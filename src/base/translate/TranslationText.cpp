#include "base/translate/TranslationText.h"

#include <cstring>

namespace orvin {

const BuiltInText kBuiltInTexts[] = {
    {32, "E&xit"},
    {36, "Press these keys during a call to conference a VoIP and regular calls"},
    {37, "Skype connected"},
    {38, "Skype disconnected"},
    {39, "Adaptor connected"},
    {40, "Adaptor disconnected"},
    {41, "Line and phone cables are reversed!"},
    {42, "Failed to run OrvinMonitor"},
    {47, "Close"},
    {68, "Quit"},
    {52, "Zuzerude DoDE Dozavor"},
    {48, "Copyright"},
    {49, "Version"},
    {50, "About"},
    {51, "&Configure"},
    {66, "Connected"},
    {67, "Disconnected"},
    {83, "Your Skype version is old, please update Skype version"},
    {91, "Active session - power state change request denied!"},
    {142, "Device Not Present"},
};
const size_t kBuiltInTextCount = sizeof kBuiltInTexts / sizeof kBuiltInTexts[0];

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// The key becomes a file name in the Windows directory and a cabinet member's name.
bool UsableAsFileName(const std::string& key) {
    if (key.empty()) {
        return false;
    }
    for (unsigned char c : key) {
        if (c < 0x20 || std::strchr("\\/:*?\"<>|", c)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool MakeLanguageKey(const char* englishName, unsigned codePage, std::string& key) {
    key.clear();
    std::string name = englishName ? englishName : "";
    if (EqualIgnoringCase(name, "English") && codePage == 1252) {
        return false;
    }
    // "Chinese (PRC)" becomes "Chinese": the name up to the first "(", less one blank.
    size_t bracket = name.find('(');
    if (bracket != std::string::npos) {
        if (bracket > 0 && name[bracket - 1] == ' ') {
            --bracket;
        }
        name.resize(bracket);
    }
    // Every Chinese variant shares one name; the code page tells them apart.
    if (name.find("Chinese") != std::string::npos) {
        name = "Chinese";
    }
    if (name.empty()) {
        return false;
    }
    name += std::to_string(codePage);
    if (!UsableAsFileName(name)) {
        return false;
    }
    key = name;
    return true;
}

std::string ExpectedFirstLine(const std::string& languageKey) {
    return kFirstLinePrefix + languageKey;
}

bool FirstLineOf(const char* bytes, size_t length, std::string& line) {
    line.clear();
    if (!bytes) {
        return false;
    }
    size_t end = 0;
    while (end < length && bytes[end] != '\r' && bytes[end] != '\n') {
        if (end == kFirstLineLimit) {
            return false; // longer than any first line we compare
        }
        ++end;
    }
    line.assign(bytes, end);
    return true;
}

TranslationPairs ParseTranslationText(const char* text, size_t length) {
    TranslationPairs pairs;
    if (!text) {
        return pairs;
    }
    size_t pos = 0;
    int lineNumber = 0;
    while (pos < length) {
        // One line: up to the next carriage return or line feed. "\r\n" counts as one
        // line end for the numbering of lines in the trace.
        size_t end = pos;
        while (end < length && text[end] != '\r' && text[end] != '\n') {
            ++end;
        }
        const size_t lineLength = end - pos;
        const char* line = text + pos;
        ++lineNumber;
        if (end < length && text[end] == '\r' && end + 1 < length && text[end + 1] == '\n') {
            ++end;
        }
        pos = end < length ? end + 1 : end;
        if (lineLength == 0) {
            continue;
        }
        if (std::memchr(line, 0, lineLength)) {
            pairs.refused.push_back({lineNumber, "zero byte in line"});
            continue;
        }
        const char* equals = static_cast<const char*>(std::memchr(line, '=', lineLength));
        if (!equals) {
            pairs.refused.push_back({lineNumber, "no \"=\" in line"});
            continue;
        }
        const size_t keyLength = size_t(equals - line);
        const size_t valueLength = lineLength - keyLength - 1;
        if (keyLength == 0) {
            pairs.refused.push_back({lineNumber, "empty English text"});
            continue;
        }
        if (keyLength > kTranslationTextLimit || valueLength > kTranslationTextLimit) {
            pairs.refused.push_back({lineNumber, "line too long"});
            continue;
        }
        std::string key(line, keyLength);
        std::string value(equals + 1, valueLength);
        const bool translated = !value.empty() && value[0] != ';';
        pairs.keys.push_back(key);
        pairs.values.push_back(translated ? value : key);
        pairs.translated.push_back(translated);
    }
    return pairs;
}

} // namespace orvin
