#include "SkypeScript.h"

#include "SimCommon/SimProgram.h"

#include <algorithm>
#include <limits>

namespace orvin::skypesim {

using orvin::sim::DecodeEscape;
using orvin::sim::DecodeText;
using orvin::sim::ParseNumber;
using orvin::sim::SplitWords;

namespace {

enum class Argument { None, Ms, Status, Text, Pattern, Answer };

struct CommandSpec {
    SkypeCommandKind kind;
    const char* name;
    Argument argument;
    const char* options; // blank-separated option names
};

// Indexed by SkypeCommandKind.
const CommandSpec kSpecs[] = {
    {SkypeCommandKind::Attach, "attach", Argument::Status, "timeout"},
    {SkypeCommandKind::ExpectCommand, "expect-command", Argument::Pattern, "timeout"},
    {SkypeCommandKind::Notify, "notify", Argument::Text, "zero"},
    {SkypeCommandKind::Answer, "answer", Argument::Answer, ""},
    {SkypeCommandKind::AnswerInside, "answer-inside", Argument::Answer, ""},
    {SkypeCommandKind::Sleep, "sleep", Argument::Ms, ""},
    {SkypeCommandKind::Vanish, "vanish", Argument::None, "close"},
    {SkypeCommandKind::Hang, "hang", Argument::Ms, ""},
    {SkypeCommandKind::Discover, "discover", Argument::None, "timeout"},
    {SkypeCommandKind::Send, "send", Argument::Text, "zero data from"},
    {SkypeCommandKind::ExpectNotification, "expect-notification", Argument::Pattern, "timeout"},
    {SkypeCommandKind::WaitGone, "wait-gone", Argument::None, "timeout"},
    {SkypeCommandKind::WaitAttached, "wait-attached", Argument::None, "timeout"},
};
static_assert(sizeof kSpecs / sizeof kSpecs[0] == static_cast<size_t>(SkypeCommandKind::Count));

const CommandSpec* FindSpec(const std::string& name) {
    for (const CommandSpec& spec : kSpecs) {
        if (name == spec.name) {
            return &spec;
        }
    }
    return nullptr;
}

bool IsQuoted(const std::string& word) {
    return !word.empty() && (word[0] == '"' || word[0] == '\'');
}

bool ParseMs(const std::string& word, uint32_t* ms) {
    int64_t value;
    if (!ParseNumber(word, 0, std::numeric_limits<int32_t>::max(), &value)) {
        return false;
    }
    *ms = (uint32_t)value;
    return true;
}

// Words joined by single blanks, each decoded.
bool JoinText(const std::vector<std::string>& words, std::string* text, std::string* error) {
    text->clear();
    for (size_t i = 0; i < words.size(); ++i) {
        std::string part;
        if (!DecodeText(words[i], &part, error)) {
            return false;
        }
        if (i) {
            *text += ' ';
        }
        *text += part;
    }
    if (text->size() > kMaxScriptText) {
        *error = "a text takes at most " + std::to_string(kMaxScriptText) + " bytes";
        return false;
    }
    return true;
}

void AddLiteral(Pattern* pattern, char c) {
    pattern->bytes += c;
    pattern->elements.push_back(Pattern::Element::Literal);
}

void AddWildcard(Pattern* pattern, char c) {
    pattern->bytes += c;
    pattern->elements.push_back(c == '*' ? Pattern::Element::AnyRun : Pattern::Element::Any);
    if (c == '*') {
        ++pattern->runs;
    }
}

// One word of a PATTERN: bare words take '*' and '?' as wildcards; quoted ones too, and
// decode escapes, "\*" and "\?" giving the characters themselves.
bool AddPatternWord(const std::string& word, Pattern* pattern, std::string* error) {
    if (!IsQuoted(word)) {
        for (char c : word) {
            c == '*' || c == '?' ? AddWildcard(pattern, c) : AddLiteral(pattern, c);
        }
        return true;
    }
    if (word[0] == '\'') {
        // A single-quoted word is a character in the language, not a text.
        *error = "quote texts with \" in " + word;
        return false;
    }
    size_t i = 1;
    while (i + 1 < word.size()) {
        char c = word[i];
        if (c == '\\' && (word[i + 1] == '*' || word[i + 1] == '?')) {
            AddLiteral(pattern, word[i + 1]);
            i += 2;
        } else if (c == '\\') {
            char decoded;
            if (!DecodeEscape(word, &i, &decoded)) {
                *error = "bad escape in " + word;
                return false;
            }
            AddLiteral(pattern, decoded);
        } else {
            c == '*' || c == '?' ? AddWildcard(pattern, c) : AddLiteral(pattern, c);
            ++i;
        }
    }
    return true;
}

bool ParsePattern(const std::vector<std::string>& words, Pattern* pattern, std::string* error) {
    *pattern = Pattern{};
    for (size_t i = 0; i < words.size(); ++i) {
        if (i) {
            AddLiteral(pattern, ' ');
        }
        if (!AddPatternWord(words[i], pattern, error)) {
            return false;
        }
    }
    if (pattern->bytes.size() > kMaxScriptText) {
        *error = "a pattern takes at most " + std::to_string(kMaxScriptText) + " bytes";
        return false;
    }
    return true;
}

bool ParseReply(const std::vector<std::string>& words, int runs, Reply* reply, std::string* error) {
    std::string text;
    if (!JoinText(words, &text, error)) {
        return false;
    }
    std::string literal;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '$') {
            literal += text[i];
            continue;
        }
        char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (next == '$') {
            literal += '$';
            ++i;
            continue;
        }
        if (next < '0' || next > '9') {
            *error = "'$' must be followed by a digit or '$' in: " + text;
            return false;
        }
        int capture = next - '0';
        if (capture > runs) {
            *error = "$" + std::to_string(capture) + " names a '*' the command does not have";
            return false;
        }
        if (!literal.empty()) {
            reply->pieces.push_back({literal, -1});
            literal.clear();
        }
        reply->pieces.push_back({std::string(), capture});
        ++i;
    }
    if (!literal.empty()) {
        reply->pieces.push_back({literal, -1});
    }
    return true;
}

bool ParseAnswer(const std::string& name, const std::vector<std::string>& words, SkypeCommand* command,
                 std::string* error) {
    auto arrow = std::find(words.begin(), words.end(), "=>");
    if (arrow == words.end()) {
        *error = name + ": needs COMMAND => NOTIFICATION";
        return false;
    }
    std::vector<std::string> left(words.begin(), arrow);
    if (left.empty()) {
        *error = name + ": needs a COMMAND before =>";
        return false;
    }
    if (!ParsePattern(left, &command->pattern, error)) {
        *error = name + ": " + *error;
        return false;
    }
    std::vector<std::string> group;
    auto flush = [&]() {
        if (group.empty()) {
            *error = name + ": an empty NOTIFICATION (after => or around |)";
            return false;
        }
        Reply reply;
        if (!ParseReply(group, command->pattern.runs, &reply, error)) {
            *error = name + ": " + *error;
            return false;
        }
        command->replies.push_back(std::move(reply));
        group.clear();
        return true;
    };
    for (auto it = arrow + 1; it != words.end(); ++it) {
        if (*it == "|") {
            if (!flush()) {
                return false;
            }
        } else {
            group.push_back(*it);
        }
    }
    return flush();
}

bool ApplyOption(const std::string& name, const std::string& value, SkypeCommand* command,
                 std::string* error) {
    int64_t number;
    if (name == "timeout" || name == "close") {
        if (!ParseMs(value, name == "timeout" ? &command->timeoutMs : &command->ms)) {
            *error = "bad time '" + value + "' for " + name;
            return false;
        }
        return true;
    }
    if (name == "zero") {
        if (!ParseNumber(value, 0, 1, &number)) {
            *error = "zero takes 0 or 1, not '" + value + "'";
            return false;
        }
        command->zero = number != 0;
        return true;
    }
    if (name == "data") {
        if (!ParseNumber(value, 0, std::numeric_limits<uint32_t>::max(), &number)) {
            *error = "bad value '" + value + "' for data";
            return false;
        }
        command->data = (uint32_t)number;
        return true;
    }
    // from
    if (value != "attached" && value != "other") {
        *error = "from takes attached or other, not '" + value + "'";
        return false;
    }
    command->fromOther = value == "other";
    return true;
}

} // namespace

bool Pattern::Match(const std::string& text, std::vector<std::string>* captures) const {
    // Shortest runs first: on a mismatch only the last '*' passed grows, which finds a
    // match whenever there is one; what the earlier ones took stays.
    std::vector<size_t> begin(runs), end(runs), runAt(elements.size(), 0);
    for (size_t p = 0, k = 0; p < elements.size(); ++p) {
        if (elements[p] == Element::AnyRun) {
            runAt[p] = k++;
        }
    }
    size_t p = 0, t = 0;
    size_t starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < elements.size() && elements[p] == Element::AnyRun) {
            begin[runAt[p]] = end[runAt[p]] = t;
            starP = p++;
            starT = t;
        } else if (p < elements.size() && (elements[p] == Element::Any || bytes[p] == text[t])) {
            ++p;
            ++t;
        } else if (starP != std::string::npos) {
            end[runAt[starP]] = ++starT;
            p = starP + 1;
            t = starT;
        } else {
            return false;
        }
    }
    for (; p < elements.size() && elements[p] == Element::AnyRun; ++p) {
        begin[runAt[p]] = end[runAt[p]] = t;
    }
    if (p != elements.size()) {
        return false;
    }
    if (captures) {
        captures->clear();
        for (int k = 0; k < runs; ++k) {
            captures->push_back(text.substr(begin[k], end[k] - begin[k]));
        }
    }
    return true;
}

std::string Pattern::Written() const {
    std::string text;
    for (size_t i = 0; i < elements.size(); ++i) {
        if (elements[i] == Element::Literal && (bytes[i] == '*' || bytes[i] == '?')) {
            text += '\\';
        }
        text += bytes[i];
    }
    return text;
}

std::string Reply::Expand(const std::string& command, const std::vector<std::string>& captures) const {
    std::string text;
    for (const Piece& piece : pieces) {
        if (piece.capture < 0) {
            text += piece.literal;
        } else if (piece.capture == 0) {
            text += command;
        } else if ((size_t)piece.capture <= captures.size()) {
            text += captures[piece.capture - 1];
        }
    }
    return text;
}

const char* SkypeCommandName(SkypeCommandKind kind) {
    size_t index = static_cast<size_t>(kind);
    return index < static_cast<size_t>(SkypeCommandKind::Count) ? kSpecs[index].name : "?";
}

std::string FormatSkypeScriptError(const SkypeScriptError& error) {
    return "line " + std::to_string(error.line) + ": " + error.message;
}

namespace {

const AttachStatusNames::Entry kSkypeAttachNames[] = {{"success", kAttachSuccess},
                                                      {"pending", kAttachPendingAuthorization},
                                                      {"refused", kAttachRefused},
                                                      {"unavailable", kAttachNotAvailable},
                                                      {"available", kAttachApiAvailable}};

} // namespace

const AttachStatusNames kSkypeAttachStatuses = {kSkypeAttachNames,
                                                sizeof kSkypeAttachNames / sizeof kSkypeAttachNames[0],
                                                kAttachSuccess, kAttachNotAvailable, kAttachApiAvailable};

bool ParseAttachStatus(const std::string& word, uint32_t* status, const AttachStatusNames& statuses) {
    for (size_t i = 0; i < statuses.count; ++i) {
        if (word == statuses.entries[i].name) {
            *status = statuses.entries[i].status;
            return true;
        }
    }
    int64_t number;
    if (!ParseNumber(word, 0, std::numeric_limits<uint32_t>::max(), &number)) {
        return false;
    }
    *status = (uint32_t)number;
    return true;
}

std::string AttachStatusName(uint32_t status, const AttachStatusNames& statuses) {
    for (size_t i = 0; i < statuses.count; ++i) {
        if (statuses.entries[i].status == status) {
            return statuses.entries[i].name;
        }
    }
    return std::to_string(status);
}

std::string AttachStatusChoices(const AttachStatusNames& statuses) {
    std::string text;
    for (size_t i = 0; i < statuses.count; ++i) {
        text += statuses.entries[i].name;
        text += ", ";
    }
    if (!text.empty()) {
        text.resize(text.size() - 2);
        text += " ";
    }
    return text + "or a number";
}

bool ParseSkypeScriptLine(const std::string& text, int line, uint32_t allowed,
                          std::optional<SkypeCommand>* command, std::string* error,
                          const AttachStatusNames& statuses) {
    command->reset();
    std::vector<std::string> words;
    std::string source;
    if (!SplitWords(text, &words, &source, error)) {
        return false;
    }
    if (words.empty()) {
        return true;
    }
    const std::string& name = words[0];
    const CommandSpec* spec = FindSpec(name);
    if (!spec) {
        *error = "unknown command '" + name + "'";
        return false;
    }
    if (!(allowed & SkypeCommandBit(spec->kind))) {
        *error = "command '" + name + "' is not available in this program";
        return false;
    }
    SkypeCommand result;
    result.kind = spec->kind;
    result.line = line;
    result.source = source;

    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;
    if (!orvin::sim::SeparateOptions(name, std::vector<std::string>(words.begin() + 1, words.end()),
                                     spec->options, spec->argument == Argument::Answer, &positional, &options,
                                     error)) {
        return false;
    }
    bool timeoutGiven = false;
    for (const auto& [option, value] : options) {
        std::string optionError;
        if (!ApplyOption(option, value, &result, &optionError)) {
            *error = name + ": " + optionError;
            return false;
        }
        timeoutGiven = timeoutGiven || option == "timeout";
    }

    std::string argumentError;
    switch (spec->argument) {
    case Argument::None:
        if (!positional.empty()) {
            *error = name + ": unexpected '" + positional[0] + "'";
            return false;
        }
        break;
    case Argument::Ms:
        if (positional.size() != 1 || !ParseMs(positional[0], &result.ms)) {
            *error = positional.empty()      ? name + ": needs a time in milliseconds"
                     : positional.size() > 1 ? name + ": unexpected '" + positional[1] + "'"
                                             : name + ": bad time '" + positional[0] + "'";
            return false;
        }
        break;
    case Argument::Status:
        if (positional.size() != 1 || !ParseAttachStatus(positional[0], &result.status, statuses)) {
            *error = positional.empty()      ? name + ": needs a status"
                     : positional.size() > 1 ? name + ": unexpected '" + positional[1] + "'"
                                             : name + ": unknown status '" + positional[0] + "' (" +
                                                   AttachStatusChoices(statuses) + ")";
            return false;
        }
        break;
    case Argument::Text:
        if (positional.empty()) {
            *error = name + ": needs a text";
            return false;
        }
        if (!JoinText(positional, &result.text, &argumentError)) {
            *error = name + ": " + argumentError;
            return false;
        }
        break;
    case Argument::Pattern:
        if (positional.empty()) {
            *error = name + ": needs a text or pattern";
            return false;
        }
        if (!ParsePattern(positional, &result.pattern, &argumentError)) {
            *error = name + ": " + argumentError;
            return false;
        }
        break;
    case Argument::Answer:
        if (!ParseAnswer(name, positional, &result, error)) {
            return false;
        }
        result.inside = spec->kind == SkypeCommandKind::AnswerInside;
        break;
    }
    if (!timeoutGiven) {
        switch (spec->kind) {
        case SkypeCommandKind::Attach:
        case SkypeCommandKind::Discover:
            result.timeoutMs = kDefaultAttachMs;
            break;
        case SkypeCommandKind::ExpectCommand:
        case SkypeCommandKind::ExpectNotification:
            result.timeoutMs = kDefaultExpectMs;
            break;
        case SkypeCommandKind::WaitGone:
        case SkypeCommandKind::WaitAttached:
            result.timeoutMs = kDefaultWaitGoneMs;
            break;
        default:
            break;
        }
    }
    *command = std::move(result);
    return true;
}

bool ParseSkypeScript(const std::string& text, uint32_t allowed, std::vector<SkypeCommand>* commands,
                      std::vector<SkypeScriptError>* errors, const AttachStatusNames& statuses) {
    std::vector<orvin::sim::SimScriptError> faults;
    const bool ok = orvin::sim::ParseScriptLines(
        text,
        [&](const std::string& line, int number, std::string* error) {
            std::optional<SkypeCommand> command;
            if (!ParseSkypeScriptLine(line, number, allowed, &command, error, statuses)) {
                return false;
            }
            if (command) {
                commands->push_back(std::move(*command));
            }
            return true;
        },
        &faults);
    for (const orvin::sim::SimScriptError& fault : faults) {
        errors->push_back({fault.line, fault.message});
    }
    return ok;
}

} // namespace orvin::skypesim
