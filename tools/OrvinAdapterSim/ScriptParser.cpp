#include "ScriptParser.h"

#include "devicelink/MessageCatalogue.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace orvin::sim {

namespace {

struct CommandSpec {
    CommandKind kind;
    const char* name;
    int minPositional;
    int maxPositional;
    const char* options; // blank-separated option names
};

// Indexed by CommandKind.
const CommandSpec kSpecs[] = {
    {CommandKind::WaitAgent, "wait-agent", 0, 0, "timeout"},
    {CommandKind::Expect, "expect", 2, 2, "info buf1 buf2 buf3 payload ioctl timeout"},
    {CommandKind::ExpectGeneric, "expect-generic", 0, 0, "ioctl value timeout"},
    {CommandKind::Send, "send", 2, 2, "info buf1 buf2 buf3 payload"},
    {CommandKind::AdaptorInfo, "adaptor-info", 0, 0, "lowcost"},
    {CommandKind::Sleep, "sleep", 1, 1, ""},
    {CommandKind::Break, "break", 0, 0, ""},
    {CommandKind::StopService, "stop-service", 1, 1, ""},
    {CommandKind::Raw, "raw", 1, std::numeric_limits<int>::max(), ""},
    {CommandKind::Burst, "burst", 3, 3, "interval"},
    {CommandKind::Measure, "measure", 3, 3, "timeout"},
    {CommandKind::SendGeneric, "send-generic", 0, 0, "internal value"},
    {CommandKind::WaitAvailable, "wait-available", 0, 0, "timeout"},
    {CommandKind::WaitConnected, "wait-connected", 0, 0, "timeout"},
    {CommandKind::Open, "open", 0, 0, ""},
    {CommandKind::Close, "close", 0, 0, ""},
    {CommandKind::RecExpectRegister, "rec-expect-register", 0, 0, "timeout"},
    {CommandKind::RecExpectChannels, "rec-expect-channels", 1, 1, "timeout"},
    {CommandKind::RecExpectUnregister, "rec-expect-unregister", 0, 0, "timeout"},
    {CommandKind::RecEvent, "rec-event", 1, 1, "valid length"},
    {CommandKind::RecAudio, "rec-audio", 1, 1, "chunk pace"},
    {CommandKind::RecRaw, "rec-raw", 1, std::numeric_limits<int>::max(), ""},
    {CommandKind::RecFault, "rec-fault", 1, 1, ""},
    {CommandKind::RecDrain, "rec-drain", 0, 0, "timeout"},
    {CommandKind::RecReport, "rec-report", 0, 0, ""},
    {CommandKind::RecRemove, "rec-remove", 1, 1, ""},
    {CommandKind::RecUnplug, "rec-unplug", 2, 2, ""},
};
static_assert(sizeof kSpecs / sizeof kSpecs[0] == static_cast<size_t>(CommandKind::Count));

const CommandSpec* FindSpec(const std::string& name) {
    for (const CommandSpec& spec : kSpecs) {
        if (name == spec.name) {
            return &spec;
        }
    }
    return nullptr;
}

bool HasOption(const char* list, const std::string& name) {
    size_t length = name.size();
    for (const char* p = list; *p;) {
        const char* end = strchr(p, ' ');
        size_t wordLength = end ? (size_t)(end - p) : strlen(p);
        if (wordLength == length && strncmp(p, name.c_str(), length) == 0) {
            return true;
        }
        p += wordLength;
        while (*p == ' ') {
            ++p;
        }
    }
    return false;
}

bool ParseMs(const std::string& word, uint32_t* ms) {
    int64_t value;
    if (!ParseNumber(word, 0, std::numeric_limits<int32_t>::max(), &value)) {
        return false;
    }
    *ms = (uint32_t)value;
    return true;
}

bool ParseHex(const std::vector<std::string>& words, std::vector<uint8_t>* bytes, std::string* error) {
    std::string digits;
    for (const std::string& word : words) {
        for (char c : word) {
            if (HexDigit(c) < 0) {
                *error = "bad hex digit '" + std::string(1, c) + "' in '" + word + "'";
                return false;
            }
            digits += c;
        }
    }
    if (digits.size() % 2) {
        *error = "odd number of hex digits";
        return false;
    }
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes->push_back((uint8_t)(HexDigit(digits[i]) * 16 + HexDigit(digits[i + 1])));
    }
    return true;
}

bool ParseTypeAndCode(const std::string& typeWord, const std::string& codeWord, ScriptCommand* command,
                      std::string* error) {
    if (!ParseMsgType(typeWord, &command->type)) {
        *error = "unknown message type '" + typeWord + "'";
        return false;
    }
    if (!ParseMsgCode(command->type, codeWord, &command->code)) {
        const char* typeName = GetMsgTypeName(command->type);
        *error = "unknown code '" + codeWord + "' for " +
                 (typeName ? std::string(typeName) : "type " + std::to_string(command->type));
        return false;
    }
    return true;
}

bool ApplyOption(const std::string& name, const std::string& word, ScriptCommand* command,
                 std::string* error) {
    int64_t number;
    auto badNumber = [&] {
        *error = "bad value '" + word + "' for " + name;
        return false;
    };
    if (name == "info" || name == "lowcost") {
        if (!ParseNumber(word, std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max(),
                         &number)) {
            return badNumber();
        }
        (name == "info" ? command->info.emplace() : command->lowCost) = (int32_t)(uint32_t)number;
        return true;
    }
    if (name == "ioctl" || name == "value" || name == "internal") {
        if (!ParseNumber(word, std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max(),
                         &number)) {
            return badNumber();
        }
        (name == "ioctl"   ? command->ioctl
         : name == "value" ? command->value
                           : command->internal) = (uint32_t)number;
        return true;
    }
    if (name == "valid") {
        if (!ParseNumber(word, std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max(),
                         &number)) {
            return badNumber();
        }
        command->recValid = (uint32_t)number;
        return true;
    }
    if (name == "length" || name == "chunk") {
        if (!ParseNumber(word, name == "chunk" ? 2 : 0, name == "chunk" ? kMaxRecChunk : kMaxRecPayloadLength,
                         &number)) {
            *error = "bad value '" + word + "' for " + name + " (" + (name == "chunk" ? "2" : "0") + " to " +
                     std::to_string(name == "chunk" ? kMaxRecChunk : kMaxRecPayloadLength) + " bytes)";
            return false;
        }
        (name == "chunk" ? command->chunk : command->recLength) = (uint32_t)number;
        return true;
    }
    if (name == "pace") {
        if (word != "fast" && word != "realtime") {
            *error = "bad value '" + word + "' for pace (fast or realtime)";
            return false;
        }
        command->realtime = word == "realtime";
        return true;
    }
    if (name == "timeout" || name == "interval") {
        uint32_t ms;
        if (!ParseMs(word, &ms)) {
            return badNumber();
        }
        (name == "timeout" ? command->timeoutMs : command->intervalMs) = ms;
        return true;
    }
    // Text options.
    std::string text;
    if (!DecodeText(word, &text, error)) {
        return false;
    }
    size_t limit = name == "payload" ? kTextPayloadSize : kTextBufferSize;
    if (text.size() > limit) {
        *error =
            name + " takes at most " + std::to_string(limit) + " bytes, not " + std::to_string(text.size());
        return false;
    }
    if (name == "payload") {
        command->payload = text;
    } else {
        command->buffer[name[3] - '1'] = text;
    }
    return true;
}

} // namespace

const char* CommandName(CommandKind kind) {
    size_t index = static_cast<size_t>(kind);
    return index < static_cast<size_t>(CommandKind::Count) ? kSpecs[index].name : "?";
}

std::string FormatScriptError(const ScriptError& error) {
    return "line " + std::to_string(error.line) + ": " + error.message;
}

// A type or code given as a number: any 32-bit value, signed or not.
bool ParseWireNumber(const std::string& word, int32_t* value) {
    int64_t number;
    if (!ParseNumber(word, std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max(),
                     &number)) {
        return false;
    }
    *value = (int32_t)(uint32_t)number;
    return true;
}

bool ParseMsgType(const std::string& word, int32_t* type) {
    return FindMsgType(word.c_str(), type) || FindMsgType(("MSG_TYPE_" + word).c_str(), type) ||
           ParseWireNumber(word, type);
}

bool ParseMsgCode(int32_t type, const std::string& word, int32_t* code) {
    return FindMsgCode(type, word.c_str(), code) || ParseWireNumber(word, code);
}

bool ParseScriptLine(const std::string& text, int line, uint32_t allowed,
                     std::optional<ScriptCommand>* command, std::string* error) {
    command->reset();
    std::vector<std::string> words;
    std::string source;
    if (!SplitWords(text, &words, &source, error)) {
        return false;
    }
    if (words.empty()) {
        return true;
    }
    const CommandSpec* spec = FindSpec(words[0]);
    if (!spec) {
        *error = "unknown command '" + words[0] + "'";
        return false;
    }
    if (!(allowed & CommandBit(spec->kind))) {
        *error = "command '" + words[0] + "' is not available in this program";
        return false;
    }
    ScriptCommand result;
    result.kind = spec->kind;
    result.line = line;
    result.source = source;

    const std::string& name = words[0];
    std::vector<std::string> positional;
    std::vector<std::string> seen;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        size_t equals = word.find('=');
        bool isOption = spec->kind != CommandKind::Raw && spec->kind != CommandKind::RecRaw &&
                        equals != std::string::npos && equals > 0 && word[0] != '"' && word[0] != '\'';
        if (!isOption) {
            positional.push_back(word);
            continue;
        }
        std::string option = word.substr(0, equals);
        if (!HasOption(spec->options, option)) {
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
        std::string optionError;
        if (!ApplyOption(option, word.substr(equals + 1), &result, &optionError)) {
            *error = name + ": " + optionError;
            return false;
        }
    }
    if ((int)positional.size() < spec->minPositional) {
        switch (spec->kind) {
        case CommandKind::Expect:
        case CommandKind::Send:
            *error = name + ": needs TYPE and CODE";
            break;
        case CommandKind::Burst:
        case CommandKind::Measure:
            *error = name + ": needs COUNT, TYPE and CODE";
            break;
        case CommandKind::Raw:
        case CommandKind::RecRaw:
            *error = name + ": needs at least one byte in hex";
            break;
        case CommandKind::RecExpectChannels:
            *error = name + ": needs the channels (VCLCTRL or VCLCTRL,VCLOG)";
            break;
        case CommandKind::RecEvent:
            *error = name + ": needs the call event (a number)";
            break;
        case CommandKind::RecAudio:
            *error = name + ": needs a WAV file";
            break;
        case CommandKind::RecFault:
            *error = name + ": needs a mode (none, silent, fail, long, overclaim or transient)";
            break;
        case CommandKind::RecUnplug:
            *error = name + ": needs the error (a number) and a time in milliseconds";
            break;
        default:
            *error = name + ": needs a time in milliseconds";
            break;
        }
        return false;
    }
    if ((int)positional.size() > spec->maxPositional) {
        *error = name + ": unexpected '" + positional[spec->maxPositional] + "'";
        return false;
    }

    auto given = [&](const char* option) {
        return std::find(seen.begin(), seen.end(), option) != seen.end();
    };
    switch (spec->kind) {
    case CommandKind::WaitAgent:
        if (!given("timeout")) {
            result.timeoutMs = kDefaultWaitAgentMs;
        }
        break;
    case CommandKind::Expect:
    case CommandKind::ExpectGeneric:
        if (!given("timeout")) {
            result.timeoutMs = kDefaultExpectMs;
        }
        break;
    case CommandKind::WaitAvailable:
    case CommandKind::WaitConnected:
        if (!given("timeout")) {
            result.timeoutMs = kDefaultWaitAvailableMs;
        }
        break;
    case CommandKind::AdaptorInfo:
        if (!given("lowcost")) {
            *error = name + ": needs lowcost=N";
            return false;
        }
        break;
    case CommandKind::Sleep:
    case CommandKind::StopService:
        if (!ParseMs(positional[0], &result.ms)) {
            *error = name + ": bad time '" + positional[0] + "'";
            return false;
        }
        break;
    case CommandKind::Raw:
    case CommandKind::RecRaw:
        if (!ParseHex(positional, &result.raw, error)) {
            *error = name + ": " + *error;
            return false;
        }
        break;
    case CommandKind::RecExpectRegister:
    case CommandKind::RecExpectUnregister:
    case CommandKind::RecDrain:
        if (!given("timeout")) {
            result.timeoutMs = kDefaultRecExpectMs;
        }
        break;
    case CommandKind::RecExpectChannels:
        if (positional[0] != "VCLCTRL" && positional[0] != "VCLCTRL,VCLOG") {
            *error = name + ": unknown channels '" + positional[0] + "' (VCLCTRL or VCLCTRL,VCLOG)";
            return false;
        }
        result.word = positional[0];
        if (!given("timeout")) {
            result.timeoutMs = kDefaultRecExpectMs;
        }
        break;
    case CommandKind::RecEvent: {
        int64_t event;
        if (!ParseNumber(positional[0], std::numeric_limits<int32_t>::min(),
                         std::numeric_limits<uint32_t>::max(), &event)) {
            *error = name + ": bad call event '" + positional[0] + "'";
            return false;
        }
        result.recEvent = (uint32_t)event;
        break;
    }
    case CommandKind::RecAudio:
        if (!DecodeText(positional[0], &result.path, error)) {
            *error = name + ": " + *error;
            return false;
        }
        if ((result.chunk & 1) != 0) {
            *error = name + ": chunk must be a whole number of 16-bit samples";
            return false;
        }
        break;
    case CommandKind::RecFault:
        if (positional[0] != "none" && positional[0] != "silent" && positional[0] != "fail" &&
            positional[0] != "long" && positional[0] != "overclaim" && positional[0] != "transient") {
            *error = name + ": unknown mode '" + positional[0] +
                     "' (none, silent, fail, long, overclaim or transient)";
            return false;
        }
        result.word = positional[0];
        break;
    case CommandKind::RecRemove:
        if (!ParseMs(positional[0], &result.ms)) {
            *error = name + ": bad time '" + positional[0] + "'";
            return false;
        }
        break;
    case CommandKind::RecUnplug: {
        int64_t recError;
        if (!ParseNumber(positional[0], 1, std::numeric_limits<uint32_t>::max() - 1, &recError)) {
            *error = name + ": bad error '" + positional[0] + "' (a Win32 error, not 0)";
            return false;
        }
        result.recError = (uint32_t)recError;
        if (!ParseMs(positional[1], &result.ms)) {
            *error = name + ": bad time '" + positional[1] + "'";
            return false;
        }
        break;
    }
    case CommandKind::Burst:
    case CommandKind::Measure: {
        int64_t count;
        if (!ParseNumber(positional[0], 1, 1000000, &count)) {
            *error = name + ": bad count '" + positional[0] + "'";
            return false;
        }
        result.count = (uint32_t)count;
        positional.erase(positional.begin());
        if (spec->kind == CommandKind::Measure && !given("timeout")) {
            result.timeoutMs = kDefaultMeasureMs;
        }
        break;
    }
    default:
        break;
    }
    if (spec->kind == CommandKind::Expect || spec->kind == CommandKind::Send ||
        spec->kind == CommandKind::Burst || spec->kind == CommandKind::Measure) {
        std::string typeError;
        if (!ParseTypeAndCode(positional[0], positional[1], &result, &typeError)) {
            *error = name + ": " + typeError;
            return false;
        }
    }
    *command = std::move(result);
    return true;
}

bool ParseScript(const std::string& text, uint32_t allowed, std::vector<ScriptCommand>* commands,
                 std::vector<ScriptError>* errors) {
    bool ok = true;
    int line = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        ++line;
        std::optional<ScriptCommand> command;
        std::string error;
        if (!ParseScriptLine(text.substr(start, end - start), line, allowed, &command, &error)) {
            errors->push_back({line, error});
            ok = false;
        } else if (command) {
            commands->push_back(std::move(*command));
        }
        start = end + 1;
    }
    return ok;
}

} // namespace orvin::sim
