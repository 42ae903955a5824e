#include "SkypeChecks.h"

namespace orvin::skypesim {

size_t FindBadUtf8(const uint8_t* bytes, size_t size) {
    size_t i = 0;
    while (i < size) {
        uint8_t lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t code;
        uint32_t least;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2, code = lead & 0x1f, least = 0x80;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3, code = lead & 0x0f, least = 0x800;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4, code = lead & 0x07, least = 0x10000;
        } else {
            return i;
        }
        if (i + length > size) {
            return i;
        }
        for (size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xc0) != 0x80) {
                return i;
            }
            code = code << 6 | (bytes[i + k] & 0x3f);
        }
        if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return i;
        }
        i += length;
    }
    return size;
}

std::string CommandText(const std::string& bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

std::string ShowText(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    for (unsigned char c : text) {
        if (c == '\\') {
            shown += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            shown += (char)c;
        } else {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 15];
        }
    }
    return shown;
}

std::vector<std::string> CheckCommand(const ReceivedCommand& command, const CommandRules& rules) {
    std::vector<std::string> violations;
    if (!command.attached) {
        violations.push_back("a command before the attach handshake completed");
    } else if (!command.fromAttachedWindow) {
        violations.push_back("a command from a window other than the one that attached");
    }
    if (command.data != 0) {
        violations.push_back("copy-data word " + std::to_string(command.data) + ", not 0");
    }
    const std::string& bytes = command.bytes;
    size_t firstZero = bytes.find('\0');
    if (bytes.empty() || bytes.back() != '\0') {
        violations.push_back("no terminating zero (" + std::to_string(bytes.size()) + " bytes counted)");
    } else if (firstZero != bytes.size() - 1) {
        violations.push_back("a zero byte at offset " + std::to_string(firstZero) + " of " +
                             std::to_string(bytes.size()) + " counted bytes");
    }
    std::string text = CommandText(bytes);
    if (text.empty() && !rules.emptyAllowed) {
        violations.push_back("an empty command");
    }
    if (rules.maxTextBytes && text.size() > rules.maxTextBytes) {
        violations.push_back("a command of " + std::to_string(text.size()) + " bytes (at most " +
                             std::to_string(rules.maxTextBytes) + ")");
    }
    if (rules.utf8) {
        size_t bad = FindBadUtf8(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        if (bad != text.size()) {
            violations.push_back("not well-formed UTF-8 at byte " + std::to_string(bad));
        }
    }
    return violations;
}

} // namespace orvin::skypesim
