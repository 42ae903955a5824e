#include "QQScript.h"

#include "SimCommon/ScriptText.h"
#include "softphone/qq/QQItems.h"

#include <cstring>
#include <limits>

namespace orvin::qqsim {

using orvin::sim::DecodeText;
using orvin::sim::HexDigit;
using orvin::sim::ParseNumber;

namespace {

struct Spec {
    QQCommandKind kind;
    const char* name;
    const char* options;
};

const Spec kSpecs[] = {
    {QQCommandKind::Attach, "attach", "timeout"},
    {QQCommandKind::Available, "available", ""},
    {QQCommandKind::Expect, "expect", "timeout"},
    {QQCommandKind::Send, "send", ""},
    {QQCommandKind::SendRaw, "send-raw", ""},
    {QQCommandKind::Sleep, "sleep", ""},
    {QQCommandKind::Hang, "hang", ""},
    {QQCommandKind::Vanish, "vanish", "close"},
};

bool ParseMs(const std::string& word, uint32_t* ms) {
    int64_t value;
    if (!ParseNumber(word, 0, std::numeric_limits<int32_t>::max(), &value)) {
        return false;
    }
    *ms = (uint32_t)value;
    return true;
}

bool ParseHex(const std::string& text, std::string* bytes) {
    int high = -1;
    for (char c : text) {
        if (c == ' ') {
            if (high >= 0) {
                return false;
            }
            continue;
        }
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        if (high < 0) {
            high = digit;
        } else {
            *bytes += (char)(high * 16 + digit);
            high = -1;
        }
    }
    return high < 0;
}

bool Listed(const char* names, const std::string& name) {
    std::string list = " ";
    list.append(names).append(" ");
    std::string wanted = " ";
    wanted.append(name).append(" ");
    return list.find(wanted) != std::string::npos;
}

// An option word: a lower-case name, then '='.
bool IsOption(const std::string& word) {
    const size_t equals = word.find('=');
    if (equals == std::string::npos || equals == 0) {
        return false;
    }
    for (size_t i = 0; i < equals; ++i) {
        if (word[i] < 'a' || word[i] > 'z') {
            return false;
        }
    }
    return true;
}

bool ParseItem(const std::string& word, bool forExpect, ItemSpec* item, std::string* error) {
    const size_t first = word.find(':');
    int64_t tag;
    if (first == std::string::npos || !ParseNumber(word.substr(0, first), 0, 255, &tag)) {
        *error = "bad item '" + word + "' (TAG:KIND:VALUE)";
        return false;
    }
    item->tag = (uint8_t)tag;
    const size_t second = word.find(':', first + 1);
    const std::string kind =
        word.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const std::string value = second == std::string::npos ? std::string() : word.substr(second + 1);
    if (kind == "any") {
        if (!forExpect || second != std::string::npos) {
            *error =
                forExpect ? "'" + word + "': any takes no value" : "'" + word + "': any is for expect only";
            return false;
        }
        item->kind = ItemSpec::Kind::Any;
        return true;
    }
    if (second == std::string::npos) {
        *error = "bad item '" + word + "': no value";
        return false;
    }
    int64_t number;
    if (kind == "byte" || kind == "u32") {
        const bool isByte = kind == "byte";
        if (!ParseNumber(value, isByte ? 0 : std::numeric_limits<int32_t>::min(),
                         isByte ? 255 : std::numeric_limits<uint32_t>::max(), &number)) {
            *error = "bad number in item '" + word + "'";
            return false;
        }
        item->kind = isByte ? ItemSpec::Kind::Byte : ItemSpec::Kind::Number;
        item->number = (uint32_t)number;
        return true;
    }
    if (kind == "text" || kind == "textz") {
        if (!DecodeText(value, &item->bytes, error)) {
            *error = "item '" + word + "': " + *error;
            return false;
        }
        item->kind = kind == "text" ? ItemSpec::Kind::Text : ItemSpec::Kind::TextZ;
        return true;
    }
    if (kind == "hex") {
        std::string text;
        if (!DecodeText(value, &text, error) || !ParseHex(text, &item->bytes)) {
            *error = "bad hex in item '" + word + "'";
            return false;
        }
        item->kind = ItemSpec::Kind::Hex;
        return true;
    }
    *error = "item '" + word + "': kind byte, u32, text, textz, hex" + (forExpect ? " or any" : "");
    return false;
}

bool IsDigits(const std::string& value) {
    for (char c : value) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

uint32_t Number(const std::string& value) {
    uint32_t number = 0;
    memcpy(&number, value.data(), value.size() < 4 ? value.size() : 4);
    return number;
}

bool Printable(const std::string& text) {
    for (char c : text) {
        if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7F) {
            return false;
        }
    }
    return true;
}

std::string Quoted(const std::string& text) {
    return orvin::sim::QuoteText(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (char c : bytes) {
        text += kDigits[(unsigned char)c >> 4];
        text += kDigits[(unsigned char)c & 15];
    }
    return text;
}

std::string ShowItem(const ParsedItem& item) {
    const std::string tag = std::to_string(item.tag) + ":";
    const bool textTag = item.tag == qq::QQ_TAG_NUMBER || item.tag == qq::QQ_TAG_SHORT_NUMBER ||
                         item.tag == qq::QQ_TAG_DEVICE_NAME;
    const std::string& value = item.value;
    const bool withNul = !value.empty() && value.back() == '\0';
    const std::string text = withNul ? value.substr(0, value.size() - 1) : value;
    // Texts with their NUL are told apart from numbers; a tag that carries text is text.
    if (Printable(text) && !text.empty() && (textTag || withNul)) {
        return tag + (withNul ? "textz:" : "text:") + Quoted(text);
    }
    if (value.size() == 1) {
        return tag + "byte:" + std::to_string((unsigned char)value[0]);
    }
    if (value.size() == 4) {
        return tag + "u32:" + std::to_string(Number(value));
    }
    if (Printable(value) && !value.empty()) {
        return tag + "text:" + Quoted(value);
    }
    return tag + "hex:" + (value.empty() ? "\"\"" : Hex(value));
}

} // namespace

std::string ItemSpec::Value() const {
    switch (kind) {
    case Kind::Byte:
        return std::string(1, (char)number);
    case Kind::Number:
        return std::string(reinterpret_cast<const char*>(&number), 4);
    case Kind::TextZ:
        return bytes + '\0';
    case Kind::Text:
    case Kind::Hex:
        return bytes;
    case Kind::Any:
        break;
    }
    return std::string();
}

bool ParseQQLine(const std::string& text, int line, std::optional<QQCommand>* command, std::string* error) {
    command->reset();
    std::vector<std::string> words;
    std::string source;
    if (!orvin::sim::SplitWords(text, &words, &source, error)) {
        return false;
    }
    if (words.empty()) {
        return true;
    }
    const std::string& name = words[0];
    const Spec* spec = nullptr;
    for (const Spec& each : kSpecs) {
        if (name == each.name) {
            spec = &each;
        }
    }
    if (!spec) {
        *error = "unknown command '" + name + "'";
        return false;
    }
    QQCommand result;
    result.kind = spec->kind;
    result.line = line;
    result.source = source;
    result.timeoutMs = spec->kind == QQCommandKind::Attach ? kDefaultAttachMs : kDefaultExpectMs;
    std::vector<std::string> positional;
    std::vector<std::string> seen;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (!IsOption(word)) {
            positional.push_back(word);
            continue;
        }
        const std::string option = word.substr(0, word.find('='));
        const std::string value = word.substr(option.size() + 1);
        if (!Listed(spec->options, option)) {
            *error = name + ": unknown option '" + option + "'";
            return false;
        }
        for (const std::string& before : seen) {
            if (before == option) {
                *error = name + ": option '" + option + "' given twice";
                return false;
            }
        }
        seen.push_back(option);
        if (!ParseMs(value, option == "timeout" ? &result.timeoutMs : &result.ms)) {
            *error = name + ": bad time '" + value + "' for " + option;
            return false;
        }
    }
    switch (spec->kind) {
    case QQCommandKind::Attach:
    case QQCommandKind::Available:
    case QQCommandKind::Vanish:
        if (!positional.empty()) {
            *error = name + ": unexpected '" + positional[0] + "'";
            return false;
        }
        break;
    case QQCommandKind::Sleep:
    case QQCommandKind::Hang:
        if (positional.size() != 1 || !ParseMs(positional[0], &result.ms)) {
            *error = positional.empty() ? name + ": needs a time in milliseconds"
                                        : name + ": bad time '" + positional[0] + "'";
            return false;
        }
        break;
    case QQCommandKind::Expect:
    case QQCommandKind::Send:
    case QQCommandKind::SendRaw: {
        int64_t event;
        if (positional.empty() ||
            !ParseNumber(positional[0], 0, std::numeric_limits<uint32_t>::max(), &event)) {
            *error = name + (positional.empty() ? ": needs an EVENT" : ": bad event '" + positional[0] + "'");
            return false;
        }
        result.event = (uint32_t)event;
        if (spec->kind == QQCommandKind::SendRaw) {
            std::string hex;
            for (size_t i = 1; i < positional.size(); ++i) {
                std::string part;
                if (!DecodeText(positional[i], &part, error)) {
                    *error = name + ": " + *error;
                    return false;
                }
                hex += part;
            }
            if (!ParseHex(hex, &result.raw)) {
                *error = name + ": bad hex '" + hex + "'";
                return false;
            }
            break;
        }
        result.anyItems = positional.size() == 1;
        for (size_t i = 1; i < positional.size(); ++i) {
            ItemSpec item;
            if (!ParseItem(positional[i], spec->kind == QQCommandKind::Expect, &item, error)) {
                *error = name + ": " + *error;
                return false;
            }
            result.items.push_back(item);
        }
        break;
    }
    }
    if (MakeQQData(result).size() > kMaxMessageBytes) {
        *error = name + ": at most " + std::to_string(kMaxMessageBytes) + " bytes of data";
        return false;
    }
    *command = result;
    return true;
}

std::string MakeQQData(const QQCommand& send) {
    if (send.kind == QQCommandKind::SendRaw) {
        return send.raw;
    }
    std::vector<uint8_t> data;
    for (const ItemSpec& item : send.items) {
        if (item.kind == ItemSpec::Kind::Any) {
            continue;
        }
        const std::string value = item.Value();
        qq::AppendItem(&data, item.tag, value.data(), (uint32_t)value.size());
    }
    return std::string(data.begin(), data.end());
}

bool SplitItems(const std::string& data, std::vector<ParsedItem>* items, std::string* fault) {
    size_t at = 0;
    while (at < data.size()) {
        const size_t left = data.size() - at;
        if (left < qq::kItemHeaderSize) {
            *fault = std::to_string(left) + " bytes after item " + std::to_string(items->size()) +
                     ": no whole item header (5 bytes)";
            return false;
        }
        qq::QQItem header;
        memcpy(&header, data.data() + at, sizeof header);
        at += sizeof header;
        if (header.Length > data.size() - at) {
            *fault = "item " + std::to_string(items->size() + 1) + " (tag " + std::to_string(header.Tag) +
                     ") claims " + std::to_string(header.Length) + " bytes, " +
                     std::to_string(data.size() - at) + " are left";
            return false;
        }
        items->push_back({header.Tag, header.Length, data.substr(at, header.Length)});
        at += header.Length;
    }
    return true;
}

std::vector<std::string> CheckQQMessage(const QQMessageReceived& message) {
    std::vector<std::string> faults;
    if (!message.attached) {
        faults.push_back("before the attach handshake");
    } else if (!message.fromAttachedWindow) {
        faults.push_back("not from the window that attached");
    }
    std::vector<ParsedItem> items;
    std::string fault;
    if (!SplitItems(message.data, &items, &fault)) {
        faults.push_back(fault);
        return faults;
    }
    auto expectTags = [&](std::initializer_list<uint8_t> tags) {
        std::string want, got;
        for (uint8_t tag : tags) {
            want.append(want.empty() ? "" : ",").append(std::to_string(tag));
        }
        for (const ParsedItem& item : items) {
            got.append(got.empty() ? "" : ",").append(std::to_string(item.tag));
        }
        if (want != got) {
            faults.push_back("items of tags [" + got + "]: event " + std::to_string(message.event) +
                             " carries [" + want + "]");
            return false;
        }
        return true;
    };
    auto expectLength = [&](const ParsedItem& item, uint32_t length) {
        if (item.length != length) {
            faults.push_back("item of tag " + std::to_string(item.tag) + " is " +
                             std::to_string(item.length) + " bytes long, not " + std::to_string(length));
            return false;
        }
        return true;
    };
    switch (message.event) {
    case qq::EVENT_QQAPI_SET_AUDIO_DEVICE:
        if (items.size() == 1) {
            if (expectTags({qq::QQ_TAG_DEVICE_ID}) && expectLength(items[0], 4) &&
                Number(items[0].value) != 0) {
                faults.push_back("a device id without a name must be 0 (QQ's own devices)");
            }
        } else if (expectTags({qq::QQ_TAG_DEVICE_NAME, qq::QQ_TAG_DEVICE_ID})) {
            const std::string& name = items[0].value;
            if (name.size() < 2 || name.back() != '\0' || name.find('\0') != name.size() - 1) {
                faults.push_back("the device name must be a text with its NUL at its end, and only there");
            }
            expectLength(items[1], 4);
        }
        break;
    case qq::EVENT_QQAPI_CALL_CONTROL:
        if (expectTags({qq::QQ_TAG_CALL_ACTION}) && expectLength(items[0], 1)) {
            const unsigned action = (unsigned char)items[0].value[0];
            if (action != qq::QQ_CALL_ANSWER && action != qq::QQ_CALL_END) {
                faults.push_back("call action " + std::to_string(action) +
                                 " is neither 145 (answer) nor 146 (end)");
            }
        }
        break;
    case qq::EVENT_QQAPI_CALL_NUMBER:
        if (items.size() != 1 ||
            (items[0].tag != qq::QQ_TAG_NUMBER && items[0].tag != qq::QQ_TAG_SHORT_NUMBER)) {
            faults.push_back("a number to call is one item of tag 1 or 3");
        } else {
            const ParsedItem& number = items[0];
            if (number.value.empty() || !IsDigits(number.value)) {
                faults.push_back("the number must be digits 0-9 only (no NUL): " + ShowItem(number));
            }
            const uint8_t tag = number.value.size() < 3 ? qq::QQ_TAG_SHORT_NUMBER : qq::QQ_TAG_NUMBER;
            if (number.tag != tag) {
                faults.push_back("a number of " + std::to_string(number.value.size()) +
                                 " digits goes with tag " + std::to_string(tag) + ", not " +
                                 std::to_string(number.tag));
            }
        }
        break;
    case qq::EVENT_QQAPI_CALL_STATUS:
        if (expectTags({qq::QQ_TAG_CALL_STATUS, qq::QQ_TAG_CALL_ID}) && expectLength(items[0], 1) &&
            expectLength(items[1], 4)) {
            const unsigned status = (unsigned char)items[0].value[0];
            if (status < qq::QQ_CALL_STATUS_CONNECTING || status > qq::QQ_CALL_STATUS_MUTE) {
                faults.push_back("call status " + std::to_string(status) + " is no QQ call status (1..10)");
            }
        }
        break;
    default:
        faults.push_back("event " + std::to_string(message.event) +
                         " is none the agent sends (10, 12, 13, 19)");
        break;
    }
    return faults;
}

bool MatchesExpect(const QQCommand& expect, uint32_t event, const std::string& data) {
    if (event != expect.event) {
        return false;
    }
    if (expect.anyItems) {
        return true;
    }
    std::vector<ParsedItem> items;
    std::string fault;
    if (!SplitItems(data, &items, &fault) || items.size() != expect.items.size()) {
        return false;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        const ItemSpec& want = expect.items[i];
        if (items[i].tag != want.tag) {
            return false;
        }
        if (want.kind != ItemSpec::Kind::Any && items[i].value != want.Value()) {
            return false;
        }
    }
    return true;
}

std::string ShowQQMessage(uint32_t event, const std::string& data) {
    std::string text = "event=" + std::to_string(event);
    std::vector<ParsedItem> items;
    std::string fault;
    const bool whole = SplitItems(data, &items, &fault);
    for (const ParsedItem& item : items) {
        text.append(" ").append(ShowItem(item));
    }
    if (!whole) {
        text += " (" + fault + ")";
    }
    return text;
}

} // namespace orvin::qqsim
