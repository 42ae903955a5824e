#include "TelTelWire.h"

#include "SimCommon/ScriptText.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace orvin::teltelsim {

const char* const kTelTelFunctions[13] = {"TelTel_Register",
                                          "TelTel_Unregister",
                                          "TelTel_RegisterInCallCBV2",
                                          "TelTel_RegisterIncmingCallCBV2",
                                          "TelTel_WndProc",
                                          "TelTel_IsTelTelReady",
                                          "TelTel_RegisterAudioDevices2",
                                          "TelTel_UnregisterAudioDevices",
                                          "TelTel_AnswerOrCall",
                                          "TelTel_HangupOrReject",
                                          "TelTel_BringToTop",
                                          "TelTel_Mute",
                                          "TelTel_Unmute"};

bool IsTelTelFunction(const std::string& name) {
    for (const char* function : kTelTelFunctions) {
        if (name == function) {
            return true;
        }
    }
    return false;
}

namespace {

const char* const kEventNames[] = {"ring-start", "ring-stop", "call-start", "call-end"};

std::string Hex(uint64_t value) {
    char text[24];
    snprintf(text, sizeof text, "0x%" PRIx64, value);
    return text;
}

// A whole word as an unsigned number: decimal or 0x hex, up to 64 bits.
bool ParseUnsigned(const std::string& word, uint64_t* value) {
    if (word.empty() || word[0] == '-' || word[0] == '+') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long result = strtoull(word.c_str(), &end, 0);
    if (errno || !end || *end) {
        return false;
    }
    *value = result;
    return true;
}

bool ParseSigned(const std::string& word, int64_t* value) {
    if (word.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long long result = strtoll(word.c_str(), &end, 0);
    if (errno || !end || *end) {
        return false;
    }
    *value = result;
    return true;
}

// A text word in the languages' form (bare or quoted).
std::string TextWord(const std::string& text) {
    return sim::QuoteText(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

const char* FactWord(CallArg::Fact fact) {
    switch (fact) {
    case CallArg::Fact::Own:
        return "own";
    case CallArg::Fact::Foreign:
        return "foreign";
    case CallArg::Fact::NoWindow:
        return "none";
    case CallArg::Fact::Code:
        return "code";
    case CallArg::Fact::Other:
        return "other";
    case CallArg::Fact::Null:
        return "none";
    default:
        return "";
    }
}

std::string FormatArg(const CallArg& arg) {
    switch (arg.kind) {
    case CallArg::Kind::Number:
        return "n:" + Hex(arg.value);
    case CallArg::Kind::Window:
        return "w:" + Hex(arg.value) + ":" + FactWord(arg.fact);
    case CallArg::Kind::Callback:
        return "p:" + Hex(arg.value) + ":" + FactWord(arg.fact);
    case CallArg::Kind::Text: {
        // A text is always quoted on the wire, so that an empty one is a word too.
        std::string word = TextWord(arg.text);
        if (word.empty() || word[0] != '"') {
            word = "\"" + word + "\"";
        }
        return "t:" + word;
    }
    case CallArg::Kind::Unreadable:
        return "u:" + Hex(arg.value);
    case CallArg::Kind::Unterminated:
        return "l:" + Hex(arg.value);
    }
    return "";
}

bool ParseArg(const std::string& word, CallArg* arg) {
    if (word.size() < 3 || word[1] != ':') {
        return false;
    }
    const std::string rest = word.substr(2);
    switch (word[0]) {
    case 'n':
        arg->kind = CallArg::Kind::Number;
        return ParseUnsigned(rest, &arg->value);
    case 'u':
        arg->kind = CallArg::Kind::Unreadable;
        return ParseUnsigned(rest, &arg->value);
    case 'l':
        arg->kind = CallArg::Kind::Unterminated;
        return ParseUnsigned(rest, &arg->value);
    case 't': {
        arg->kind = CallArg::Kind::Text;
        std::string error;
        return !rest.empty() && rest[0] == '"' && sim::DecodeText(rest, &arg->text, &error);
    }
    case 'w':
    case 'p': {
        const size_t colon = rest.find(':');
        if (colon == std::string::npos || !ParseUnsigned(rest.substr(0, colon), &arg->value)) {
            return false;
        }
        const std::string fact = rest.substr(colon + 1);
        if (word[0] == 'w') {
            arg->kind = CallArg::Kind::Window;
            if (fact == "own") {
                arg->fact = CallArg::Fact::Own;
            } else if (fact == "foreign") {
                arg->fact = CallArg::Fact::Foreign;
            } else if (fact == "none") {
                arg->fact = CallArg::Fact::NoWindow;
            } else {
                return false;
            }
        } else {
            arg->kind = CallArg::Kind::Callback;
            if (fact == "code") {
                arg->fact = CallArg::Fact::Code;
            } else if (fact == "other") {
                arg->fact = CallArg::Fact::Other;
            } else if (fact == "none") {
                arg->fact = CallArg::Fact::Null;
            } else {
                return false;
            }
        }
        return true;
    }
    default:
        return false;
    }
}

bool Split(const std::string& line, std::vector<std::string>* words, std::string* error) {
    std::string source;
    return sim::SplitWords(line, words, &source, error);
}

} // namespace

const char* CallbackEventName(CallbackEvent event) {
    return kEventNames[static_cast<int>(event)];
}

bool ParseCallbackEvent(const std::string& word, CallbackEvent* event) {
    for (int i = 0; i < 4; ++i) {
        if (word == kEventNames[i]) {
            *event = static_cast<CallbackEvent>(i);
            return true;
        }
    }
    return false;
}

CallArg CallArg::Number(uint64_t value) {
    CallArg arg;
    arg.kind = Kind::Number;
    arg.value = value;
    return arg;
}

CallArg CallArg::Window(uint64_t handle, Fact fact) {
    CallArg arg;
    arg.kind = Kind::Window;
    arg.value = handle;
    arg.fact = fact;
    return arg;
}

CallArg CallArg::Callback(uint64_t pointer, Fact fact) {
    CallArg arg;
    arg.kind = Kind::Callback;
    arg.value = pointer;
    arg.fact = fact;
    return arg;
}

CallArg CallArg::Text(const std::string& text) {
    CallArg arg;
    arg.kind = Kind::Text;
    arg.text = text;
    return arg;
}

CallArg CallArg::Unreadable(uint64_t pointer) {
    CallArg arg;
    arg.kind = Kind::Unreadable;
    arg.value = pointer;
    return arg;
}

CallArg CallArg::Unterminated(uint64_t pointer) {
    CallArg arg;
    arg.kind = Kind::Unterminated;
    arg.value = pointer;
    return arg;
}

std::string CallArg::Shown() const {
    switch (kind) {
    case Kind::Number:
    case Kind::Window:
    case Kind::Callback:
        return Hex(value);
    case Kind::Text: {
        std::string word = TextWord(text);
        return word.empty() || word[0] != '"' ? "\"" + word + "\"" : word;
    }
    case Kind::Unreadable:
        return "<unreadable " + Hex(value) + ">";
    case Kind::Unterminated:
        return "<unterminated " + Hex(value) + ">";
    }
    return "";
}

std::string CallRecord::Shown() const {
    std::string text = function + "(";
    for (size_t i = 0; i < args.size(); ++i) {
        text += (i ? ", " : "") + args[i].Shown();
    }
    return text + ") = " + std::to_string(result);
}

std::string FormatHello(const Hello& hello) {
    std::string functions;
    for (const std::string& function : hello.functions) {
        functions += (functions.empty() ? "" : ",") + function;
    }
    return "hello " + std::to_string(hello.pid) + " " + TextWord(hello.module) + " " +
           (functions.empty() ? "-" : functions);
}

std::string FormatCall(const CallRecord& call) {
    std::string line = "call " + std::to_string(call.qpc) + " " + std::to_string(call.thread) + " " +
                       (call.inCallback ? "1" : "0") + " " + call.function + " " +
                       std::to_string(call.result);
    for (const CallArg& arg : call.args) {
        line += " " + FormatArg(arg);
    }
    return line;
}

std::string FormatFired(const FiredRecord& fired) {
    return "fired " + std::to_string(fired.id) + " " + std::to_string(fired.qpcStart) + " " +
           std::to_string(fired.qpcEnd) + " " + std::to_string(fired.thread);
}

std::string FormatUnfired(uint32_t id, const std::string& reason) {
    std::string word = TextWord(reason);
    return "unfired " + std::to_string(id) + " " + (word.empty() ? "\"\"" : word);
}

std::string FormatPosted(uint32_t id, bool posted) {
    return "posted " + std::to_string(id) + (posted ? " 1" : " 0");
}

bool ParseLibraryLine(const std::string& line, LibraryLine* out, std::string* error) {
    std::vector<std::string> words;
    if (!Split(line, &words, error)) {
        return false;
    }
    if (words.empty()) {
        *error = "an empty line";
        return false;
    }
    const std::string& kind = words[0];
    uint64_t number = 0;
    int64_t signedNumber = 0;
    if (kind == "hello" && words.size() == 4) {
        out->kind = LibraryLine::Kind::Hello;
        if (!ParseUnsigned(words[1], &number) || !sim::DecodeText(words[2], &out->hello.module, error)) {
            *error = "a bad hello line";
            return false;
        }
        out->hello.pid = (uint32_t)number;
        out->hello.functions.clear();
        if (words[3] != "-") {
            size_t at = 0;
            while (at <= words[3].size()) {
                const size_t comma = words[3].find(',', at);
                out->hello.functions.push_back(
                    words[3].substr(at, comma == std::string::npos ? comma : comma - at));
                if (comma == std::string::npos) {
                    break;
                }
                at = comma + 1;
            }
        }
        return true;
    }
    if (kind == "call" && words.size() >= 6) {
        out->kind = LibraryLine::Kind::Call;
        CallRecord& call = out->call;
        call = CallRecord();
        uint64_t thread = 0;
        if (!ParseSigned(words[1], &signedNumber) || !ParseUnsigned(words[2], &thread) ||
            (words[3] != "0" && words[3] != "1") || !ParseSigned(words[5], &call.result)) {
            *error = "a bad call line";
            return false;
        }
        call.qpc = signedNumber;
        call.thread = (uint32_t)thread;
        call.inCallback = words[3] == "1";
        call.function = words[4];
        for (size_t i = 6; i < words.size(); ++i) {
            CallArg arg;
            if (!ParseArg(words[i], &arg)) {
                *error = "a bad argument " + words[i];
                return false;
            }
            call.args.push_back(arg);
        }
        return true;
    }
    if (kind == "fired" && words.size() == 5) {
        out->kind = LibraryLine::Kind::Fired;
        int64_t start = 0;
        int64_t end = 0;
        uint64_t thread = 0;
        if (!ParseUnsigned(words[1], &number) || !ParseSigned(words[2], &start) ||
            !ParseSigned(words[3], &end) || !ParseUnsigned(words[4], &thread)) {
            *error = "a bad fired line";
            return false;
        }
        out->fired.id = (uint32_t)number;
        out->fired.qpcStart = start;
        out->fired.qpcEnd = end;
        out->fired.thread = (uint32_t)thread;
        return true;
    }
    if (kind == "unfired" && words.size() == 3) {
        out->kind = LibraryLine::Kind::Unfired;
        if (!ParseUnsigned(words[1], &number) || !sim::DecodeText(words[2], &out->reason, error)) {
            *error = "a bad unfired line";
            return false;
        }
        out->fired.id = (uint32_t)number;
        return true;
    }
    if (kind == "posted" && words.size() == 3) {
        out->kind = LibraryLine::Kind::Posted;
        if (!ParseUnsigned(words[1], &number) || (words[2] != "0" && words[2] != "1")) {
            *error = "a bad posted line";
            return false;
        }
        out->fired.id = (uint32_t)number;
        out->posted = words[2] == "1";
        return true;
    }
    *error = "not a line of the library's: " + kind;
    return false;
}

std::string FormatControl(const ControlLine& line) {
    switch (line.kind) {
    case ControlLine::Kind::Ready:
        return "ready " + std::to_string(line.value);
    case ControlLine::Kind::Result:
        return "result " + line.function + " " + std::to_string(line.value);
    case ControlLine::Kind::Fire:
        return "fire " + std::to_string(line.id) + " " + CallbackEventName(line.event) + " " +
               std::to_string(line.value) + (line.newThread ? " new" : " library");
    case ControlLine::Kind::Post:
        return "post " + std::to_string(line.id) + " " + std::to_string(line.message) + " " +
               Hex(line.wParam) + " " + Hex(line.lParam);
    }
    return "";
}

bool ParseControlLine(const std::string& line, ControlLine* out, std::string* error) {
    std::vector<std::string> words;
    if (!Split(line, &words, error)) {
        return false;
    }
    uint64_t number = 0;
    *out = ControlLine();
    if (words.size() == 2 && words[0] == "ready" && ParseSigned(words[1], &out->value)) {
        out->kind = ControlLine::Kind::Ready;
        return true;
    }
    if (words.size() == 3 && words[0] == "result" && ParseSigned(words[2], &out->value)) {
        out->kind = ControlLine::Kind::Result;
        out->function = words[1];
        return true;
    }
    if (words.size() == 5 && words[0] == "fire" && ParseUnsigned(words[1], &number) &&
        ParseCallbackEvent(words[2], &out->event) && ParseSigned(words[3], &out->value) &&
        (words[4] == "library" || words[4] == "new")) {
        out->kind = ControlLine::Kind::Fire;
        out->id = (uint32_t)number;
        out->newThread = words[4] == "new";
        return true;
    }
    if (words.size() == 5 && words[0] == "post" && ParseUnsigned(words[1], &number)) {
        out->kind = ControlLine::Kind::Post;
        out->id = (uint32_t)number;
        uint64_t message = 0;
        if (ParseUnsigned(words[2], &message) && message <= 0xFFFFFFFFu &&
            ParseUnsigned(words[3], &out->wParam) && ParseUnsigned(words[4], &out->lParam)) {
            out->message = (uint32_t)message;
            return true;
        }
    }
    *error = "not a control line: " + line;
    return false;
}

} // namespace orvin::teltelsim
