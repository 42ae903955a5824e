#include "EyeBeamScript.h"

#include "SimCommon/ScriptText.h"
#include "SimCommon/SimProgram.h"
#include "softphone/eyebeam/EyebeamRecord.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace orvin::eyebeamsim {

using orvin::sim::ParseNumber;

namespace {

struct Spec {
    EyeBeamCommandKind kind;
    const char* name;
    int positional; // how many positional words it takes
    const char* options;
};

const Spec kSpecs[] = {
    {EyeBeamCommandKind::Attach, "attach", 0, "timeout"},
    {EyeBeamCommandKind::Available, "available", 0, ""},
    {EyeBeamCommandKind::Detach, "detach", 0, ""},
    {EyeBeamCommandKind::Expect, "expect", 2, "info timeout"},
    {EyeBeamCommandKind::Send, "send", 2, "info size"},
    {EyeBeamCommandKind::Sleep, "sleep", 1, ""},
    {EyeBeamCommandKind::Hang, "hang", 1, ""},
    {EyeBeamCommandKind::Vanish, "vanish", 0, "close"},
};

bool ParseMs(const std::string& word, uint32_t* ms) {
    int64_t value;
    if (!ParseNumber(word, 0, std::numeric_limits<int32_t>::max(), &value)) {
        return false;
    }
    *ms = (uint32_t)value;
    return true;
}

bool ParseInt32(const std::string& word, int32_t* value) {
    int64_t number;
    if (!ParseNumber(word, std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max(),
                     &number)) {
        return false;
    }
    *value = (int32_t)(uint32_t)number;
    return true;
}

int32_t Field(const std::string& bytes, size_t offset) {
    int32_t value = 0;
    eyebeam::ReadField(bytes.data(), bytes.size(), offset, &value);
    return value;
}

bool IsKey(int32_t info) {
    return (info >= '0' && info <= '9') || info == '*' || info == '#' || (info >= 'A' && info <= 'D');
}

} // namespace

bool ParseEyeBeamLine(const std::string& text, int line, std::optional<EyeBeamCommand>* command,
                      std::string* error) {
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
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    if (!orvin::sim::SeparateOptions(name, std::vector<std::string>(words.begin() + 1, words.end()),
                                     spec->options, false, &positional, &options, error)) {
        return false;
    }
    if ((int)positional.size() != spec->positional) {
        *error =
            (int)positional.size() > spec->positional
                ? name + ": unexpected '" + positional[spec->positional] + "'"
                : name + (spec->positional == 1 ? ": needs a time in milliseconds" : ": needs TYPE and CODE");
        return false;
    }
    EyeBeamCommand result;
    result.kind = spec->kind;
    result.line = line;
    result.source = source;
    result.size = (uint32_t)eyebeam::kRecordSize;
    result.timeoutMs = spec->kind == EyeBeamCommandKind::Attach ? kDefaultAttachMs : kDefaultExpectMs;
    if (spec->positional == 1 && !ParseMs(positional[0], &result.ms)) {
        *error = name + ": bad time '" + positional[0] + "'";
        return false;
    }
    if (spec->positional == 2) {
        if (!ParseInt32(positional[0], &result.type) || !ParseInt32(positional[1], &result.code)) {
            *error = name + ": TYPE and CODE are numbers, not '" + positional[0] + " " + positional[1] + "'";
            return false;
        }
    }
    for (const auto& [option, value] : options) {
        bool ok = true;
        if (option == "timeout") {
            ok = ParseMs(value, &result.timeoutMs);
        } else if (option == "close") {
            ok = ParseMs(value, &result.ms);
        } else if (option == "info") {
            int32_t info = 0;
            ok = ParseInt32(value, &info);
            result.info = info;
        } else if (option == "size") {
            int64_t size = 0;
            ok = ParseNumber(value, 0, kMaxRecordBytes, &size);
            result.size = (uint32_t)size;
        }
        if (!ok) {
            *error = name + ": bad value '" + value + "' for " + option;
            return false;
        }
    }
    *command = result;
    return true;
}

std::string MakeEyeBeamRecord(const EyeBeamCommand& send) {
    uint8_t full[eyebeam::kRecordSize];
    eyebeam::MakeRecord(full, send.type, send.code, send.info.value_or(0));
    std::string bytes(reinterpret_cast<const char*>(full), sizeof full);
    bytes.resize(send.size, '\0');
    return bytes;
}

std::vector<std::string> CheckEyeBeamRecord(const EyeBeamRecordReceived& record) {
    std::vector<std::string> faults;
    if (!record.attached) {
        faults.push_back("before the attach handshake");
    } else if (!record.fromAttachedWindow) {
        faults.push_back("not from the window that attached");
    }
    if (record.data != 0) {
        faults.push_back("data word " + std::to_string(record.data) + ": it must be 0");
    }
    if (record.bytes.size() != eyebeam::kRecordSize) {
        faults.push_back(std::to_string(record.bytes.size()) + " bytes: a record is 620");
    }
    for (size_t i = eyebeam::kRecordInfoOffset + 4; i < record.bytes.size(); ++i) {
        if (record.bytes[i] != 0) {
            char text[64];
            snprintf(text, sizeof text, "byte %u is 0x%02x: all after Info must be 0", (unsigned)i,
                     (unsigned)(uint8_t)record.bytes[i]);
            faults.push_back(text);
            break;
        }
    }
    if (record.bytes.size() < eyebeam::kRecordInfoOffset + 4) {
        return faults;
    }
    const int32_t type = Field(record.bytes, eyebeam::kRecordTypeOffset);
    const int32_t code = Field(record.bytes, eyebeam::kRecordCodeOffset);
    const int32_t info = Field(record.bytes, eyebeam::kRecordInfoOffset);
    if (type == 0) {
        if (code < 0 || code > 14) {
            faults.push_back("call event code " + std::to_string(code) + " is no call status (0..14)");
        } else if (info != 0) {
            faults.push_back("a call status carries Info 0, not " + std::to_string(info));
        }
    } else if (type == 1 && code == 1) {
        if (!IsKey(info)) {
            faults.push_back("key " + std::to_string(info) + " is none of 0-9, *, #, A-D");
        }
    } else if (type == 1 && code == 13) {
        if (info != eyebeam::kKeypadDial && info != eyebeam::kKeypadHangUp) {
            faults.push_back("keypad event " + std::to_string(info) +
                             " is neither 16 (dial) nor 17 (hang up)");
        }
    } else {
        faults.push_back("type " + std::to_string(type) + " code " + std::to_string(code) +
                         " is no record the agent sends");
    }
    return faults;
}

bool MatchesExpect(const EyeBeamCommand& expect, const std::string& bytes) {
    if (bytes.size() < eyebeam::kRecordInfoOffset + 4) {
        return false;
    }
    return Field(bytes, eyebeam::kRecordTypeOffset) == expect.type &&
           Field(bytes, eyebeam::kRecordCodeOffset) == expect.code &&
           (!expect.info || Field(bytes, eyebeam::kRecordInfoOffset) == *expect.info);
}

std::string ShowEyeBeamRecord(const std::string& bytes) {
    char text[96];
    int32_t type = 0, code = 0, info = 0;
    const bool hasType = eyebeam::ReadField(bytes.data(), bytes.size(), eyebeam::kRecordTypeOffset, &type);
    const bool hasCode = eyebeam::ReadField(bytes.data(), bytes.size(), eyebeam::kRecordCodeOffset, &code);
    const bool hasInfo = eyebeam::ReadField(bytes.data(), bytes.size(), eyebeam::kRecordInfoOffset, &info);
    std::string shown;
    if (hasType) {
        snprintf(text, sizeof text, "type=%d", type);
        shown += text;
    }
    if (hasCode) {
        snprintf(text, sizeof text, " code=%d", code);
        shown += text;
    }
    if (hasInfo) {
        snprintf(text, sizeof text, " info=%d", info);
        shown += text;
        if (info > 0x20 && info < 0x7F) {
            snprintf(text, sizeof text, " ('%c')", (char)info);
            shown += text;
        }
    }
    if (bytes.size() != eyebeam::kRecordSize) {
        snprintf(text, sizeof text, "%s(%u bytes)", shown.empty() ? "" : " ", (unsigned)bytes.size());
        shown += text;
    }
    return shown;
}

} // namespace orvin::eyebeamsim
