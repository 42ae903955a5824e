#include "TelTelScript.h"

#include "SimCommon/ScriptText.h"

#include <map>

namespace orvin::teltelsim {

namespace {

constexpr int64_t kMaxMs = 24LL * 3600 * 1000;
constexpr int64_t kMaxNumber = (int64_t)1 << 40;

bool IsOption(const std::string& word) {
    return !word.empty() && word[0] != '"' && word[0] != '\'' && word.find('=') != std::string::npos;
}

} // namespace

bool ArgPattern::Match(const CallArg& arg) const {
    switch (kind) {
    case Kind::Any:
        return true;
    case Kind::Number:
        return (arg.kind == CallArg::Kind::Number || arg.kind == CallArg::Kind::Window ||
                arg.kind == CallArg::Kind::Callback) &&
               arg.value == number;
    case Kind::Text:
        return arg.kind == CallArg::Kind::Text && arg.text == text;
    }
    return false;
}

bool TelTelCommand::Matches(const CallRecord& call) const {
    if (kind == TelTelCommandKind::ExpectNo) {
        for (const std::string& name : functions) {
            if (call.function == name) {
                return true;
            }
        }
        return false;
    }
    if (call.function != function || args.size() > call.args.size() || (result && call.result != *result)) {
        return false;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        if (!args[i].Match(call.args[i])) {
            return false;
        }
    }
    return true;
}

bool ParseTelTelScriptLine(const std::string& text, int line, std::optional<TelTelCommand>* command,
                           std::string* error) {
    command->reset();
    std::vector<std::string> words;
    std::string source;
    if (!sim::SplitWords(text, &words, &source, error)) {
        return false;
    }
    if (words.empty()) {
        return true;
    }
    TelTelCommand result;
    result.line = line;
    result.source = source;
    const std::string name = words[0];
    std::vector<std::string> plain;
    std::map<std::string, std::string> options;
    for (size_t i = 1; i < words.size(); ++i) {
        if (IsOption(words[i])) {
            const size_t equals = words[i].find('=');
            options[words[i].substr(0, equals)] = words[i].substr(equals + 1);
        } else {
            plain.push_back(words[i]);
        }
    }
    // Takes an option out of `options`; false (with *error) when it is there but bad.
    auto number = [&](const char* option, int64_t min, int64_t max, int64_t* value) {
        auto it = options.find(option);
        if (it == options.end()) {
            return true;
        }
        const std::string word = it->second;
        options.erase(it);
        if (!sim::ParseNumber(word, min, max, value)) {
            *error = std::string("bad ") + option + "=" + word;
            return false;
        }
        return true;
    };
    auto timeout = [&](uint32_t fallback) {
        int64_t value = fallback;
        if (!number("timeout", 0, kMaxMs, &value)) {
            return false;
        }
        result.timeoutMs = (uint32_t)value;
        return true;
    };
    auto words_count = [&](size_t min, size_t max) {
        if (plain.size() < min || plain.size() > max) {
            *error = name + ": " + (plain.size() < min ? "too few" : "too many") + " arguments";
            return false;
        }
        return true;
    };

    CallbackEvent event;
    if (name == "wait-library" || name == "wait-gone") {
        result.kind = name == "wait-library" ? TelTelCommandKind::WaitLibrary : TelTelCommandKind::WaitGone;
        if (!words_count(0, 0) || !timeout(kDefaultWaitMs)) {
            return false;
        }
    } else if (name == "ready" || name == "not-ready") {
        result.kind = TelTelCommandKind::Ready;
        result.value = name == "ready" ? 1 : 0;
        if (!words_count(0, 0) ||
            (name == "ready" && !number("value", INT32_MIN, UINT32_MAX, &result.value))) {
            return false;
        }
    } else if (name == "result") {
        result.kind = TelTelCommandKind::Result;
        if (!words_count(2, 2)) {
            return false;
        }
        result.function = plain[0];
        if (!IsTelTelFunction(result.function)) {
            *error = "result: " + result.function + " is not one of the library's functions";
            return false;
        }
        if (result.function == "TelTel_IsTelTelReady") {
            *error = "result: TelTel_IsTelTelReady answers what ready and not-ready say";
            return false;
        }
        if (!sim::ParseNumber(plain[1], INT32_MIN, UINT32_MAX, &result.value)) {
            *error = "result: bad number " + plain[1];
            return false;
        }
    } else if (ParseCallbackEvent(name, &event)) {
        result.kind = TelTelCommandKind::Fire;
        result.event = event;
        result.value = 1;
        if (!words_count(0, 0) || !number("value", 0, UINT32_MAX, &result.value)) {
            return false;
        }
        auto thread = options.find("thread");
        if (thread != options.end()) {
            if (thread->second != "library" && thread->second != "new") {
                *error = "bad thread=" + thread->second + " (library or new)";
                return false;
            }
            result.newThread = thread->second == "new";
            options.erase(thread);
        }
    } else if (name == "expect") {
        result.kind = TelTelCommandKind::Expect;
        if (!words_count(1, 16) || !timeout(kDefaultExpectMs)) {
            return false;
        }
        if (options.count("result")) {
            int64_t answer = 0;
            if (!number("result", INT32_MIN, UINT32_MAX, &answer)) {
                return false;
            }
            result.result = answer;
        }
        result.function = plain[0];
        if (!IsTelTelFunction(result.function)) {
            *error = "expect: " + result.function + " is not one of the library's functions";
            return false;
        }
        for (size_t i = 1; i < plain.size(); ++i) {
            ArgPattern arg;
            int64_t value = 0;
            if (plain[i] == "*") {
                arg.kind = ArgPattern::Kind::Any;
            } else if (plain[i][0] != '"' && sim::ParseNumber(plain[i], 0, kMaxNumber, &value)) {
                arg.kind = ArgPattern::Kind::Number;
                arg.number = (uint64_t)value;
            } else {
                arg.kind = ArgPattern::Kind::Text;
                if (!sim::DecodeText(plain[i], &arg.text, error)) {
                    return false;
                }
            }
            result.args.push_back(arg);
        }
    } else if (name == "expect-no") {
        result.kind = TelTelCommandKind::ExpectNo;
        if (!words_count(1, 16)) {
            return false;
        }
        for (const std::string& function : plain) {
            if (!IsTelTelFunction(function)) {
                *error = "expect-no: " + function + " is not one of the library's functions";
                return false;
            }
        }
        result.functions = plain;
        int64_t ms = -1;
        if (!number("for", 0, kMaxMs, &ms)) {
            return false;
        }
        if (ms < 0) {
            *error = "expect-no: for=MS is missing";
            return false;
        }
        result.timeoutMs = (uint32_t)ms;
    } else if (name == "post") {
        result.kind = TelTelCommandKind::Post;
        int64_t value = 0;
        if (!words_count(1, 1) || !sim::ParseNumber(plain[0], 0, UINT32_MAX, &value)) {
            *error = "post: a MESSAGE number is needed";
            return false;
        }
        result.message = (uint32_t)value;
        int64_t wParam = 0;
        int64_t lParam = 0;
        if (!number("wparam", 0, kMaxNumber, &wParam) || !number("lparam", 0, kMaxNumber, &lParam)) {
            return false;
        }
        result.wParam = (uint64_t)wParam;
        result.lParam = (uint64_t)lParam;
    } else if (name == "sleep") {
        result.kind = TelTelCommandKind::Sleep;
        int64_t ms = 0;
        if (!words_count(1, 1) || !sim::ParseNumber(plain[0], 0, kMaxMs, &ms)) {
            *error = "sleep: a number of milliseconds is needed";
            return false;
        }
        result.ms = (uint32_t)ms;
    } else {
        *error = "unknown command " + name;
        return false;
    }
    if (!options.empty()) {
        *error = name + ": unknown option " + options.begin()->first + "=";
        return false;
    }
    *command = result;
    return true;
}

bool ParseTelTelScript(const std::string& text, std::vector<TelTelCommand>* commands,
                       std::vector<TelTelScriptError>* errors) {
    size_t at = 0;
    int line = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string piece = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!piece.empty() && piece.back() == '\r') {
            piece.pop_back();
        }
        ++line;
        std::optional<TelTelCommand> command;
        std::string error;
        if (!ParseTelTelScriptLine(piece, line, &command, &error)) {
            errors->push_back({line, error});
        } else if (command) {
            commands->push_back(*command);
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return errors->empty();
}

} // namespace orvin::teltelsim
