#include "SkypeFuzz.h"

#include <cstring>

namespace skype_fuzz {

namespace {

const char* const kWindowClass = "OrvinFuzzSkypeApi";

bool IsUtf8(const char* text, size_t length) {
    return length == 0 ||
           MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, (int)length, nullptr, 0) > 0;
}

} // namespace

SkypeWindow::SkypeWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);
    m_hWnd = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleA(nullptr),
                             this);
}

SkypeWindow::~SkypeWindow() {
    if (m_hWnd) {
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hWnd);
    }
}

LRESULT CALLBACK SkypeWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          (LONG_PTR) reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    }
    auto* self = reinterpret_cast<SkypeWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == WM_COPYDATA) {
        self->Take(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void SkypeWindow::Take(const COPYDATASTRUCT* data) {
    ++commands;
    const char* text = data ? static_cast<const char*>(data->lpData) : nullptr;
    const size_t size = data ? data->cbData : 0;
    std::string problem;
    if (!text || size == 0) {
        problem = "no data";
    } else if (size > 256) {
        problem = std::to_string(size) + " bytes, more than 255 and the zero";
    } else if (text[size - 1] != 0) {
        problem = "no terminating zero";
    } else if (strnlen(text, size) != size - 1) {
        problem = "a zero inside the text";
    } else if (!IsUtf8(text, size - 1)) {
        problem = "not UTF-8";
    }
    const std::string command = text ? std::string(text, strnlen(text, size)) : std::string();
    if (!problem.empty() && firstBad.empty()) {
        firstBad = problem + ": \"" + command.substr(0, 80) + "\"";
    }
    sent.push_back(command);
    if (onCommand) {
        onCommand(command);
    }
}

void TrafficLog::AddTrafficLine(const char* text, int direction) {
    if (direction == 1) {
        ++fromSkype;
        lastFromSkype = text ? text : "";
    } else if (direction == 4) {
        ++toService;
    }
}

// ---- The notifications

std::string NotificationMaker::AnyCase(const std::string& word) {
    std::string text = word;
    const uint32_t how = m_r.Below(4);
    for (char& c : text) {
        if (how == 1 || (how == 2 && m_r.Percent(50))) {
            c = (char)toupper((unsigned char)c);
        }
    }
    return text;
}

std::string NotificationMaker::RandomWord() {
    std::string word;
    switch (m_r.Below(6)) {
    case 0:
        return FuzzNumberText(m_r);
    case 1: { // long
        const uint32_t length = m_r.Range(100, 1500);
        for (uint32_t i = 0; i < length; ++i) {
            word += (char)m_r.Range('a', 'z');
        }
        return word;
    }
    case 2: { // bytes that are not UTF-8, or are
        const uint32_t length = m_r.Range(1, 12);
        for (uint32_t i = 0; i < length; ++i) {
            word += (char)m_r.Range(0x80, 0xFF);
        }
        return word;
    }
    case 3:
        return m_r.Percent(50) ? "\xC3\xA9t\xC3\xA9" : "\xE4\xBD\xA0\xE5\xA5\xBD";
    default: {
        const uint32_t length = m_r.Range(1, 10);
        for (uint32_t i = 0; i < length; ++i) {
            word += (char)m_r.Range(0x21, 0x7E);
        }
        return word;
    }
    }
}

std::string NotificationMaker::Handle() {
    if (m_r.Percent(70)) {
        return AnyCase(m_handles[m_r.Below((uint32_t)m_handles.size())]);
    }
    std::string handle = m_r.Percent(70) ? "user" + std::to_string(m_r.Below(1000)) : RandomWord();
    if (m_handles.size() < 40 && handle.size() < 64) {
        m_handles.push_back(handle);
    }
    return AnyCase(handle);
}

std::string NotificationMaker::CallId() {
    if (m_r.Percent(75)) {
        return m_callIds[m_r.Below((uint32_t)m_callIds.size())];
    }
    const std::string id = m_r.Percent(70) ? std::to_string(m_r.Range(1, 99999)) : FuzzNumberText(m_r);
    if (m_callIds.size() < 12) {
        m_callIds.push_back(id);
    }
    return id;
}

std::string NotificationMaker::VoicemailId() {
    if (m_r.Percent(75)) {
        return m_voicemailIds[m_r.Below((uint32_t)m_voicemailIds.size())];
    }
    const std::string id = m_r.Percent(70) ? std::to_string(m_r.Range(1, 999)) : FuzzNumberText(m_r);
    if (m_voicemailIds.size() < 16) {
        m_voicemailIds.push_back(id);
    }
    return id;
}

std::vector<std::string> NotificationMaker::Tokens(NotificationMix mix) {
    static const char* const kCallWhat[] = {"status",      "pstn_status",    "type",
                                            "pstn_number", "partner_handle", "failurereason",
                                            "duration",    "subject",        "dtmf"};
    static const char* const kCallStatus[] = {
        "routing",    "failed",    "ringing",      "inprogress", "onhold",    "localhold",
        "remotehold", "finished",  "missed",       "refused",    "busy",      "cancelled",
        "vm_sent",    "vm_failed", "vm_cancelled", "unplaced",   "earlymedia"};
    static const char* const kCallType[] = {"incoming_p2p", "incoming_pstn", "outgoing_p2p", "outgoing_pstn"};
    static const char* const kUserWhat[] = {"onlinestatus", "buddystatus", "speeddial", "can_leave_vm",
                                            "fullname"};
    static const char* const kOnline[] = {"online", "offline",   "away",      "na",
                                          "dnd",    "invisible", "loggedout", "unknown"};
    static const char* const kVoicemailStatus[] = {
        "notdownloaded", "downloading", "unplayed",  "buffering", "playing", "played", "blank",
        "recording",     "recorded",    "uploading", "deleting",  "failed",  "unknown"};
    static const char* const kVoicemailType[] = {"incoming", "outgoing", "default_greeting",
                                                 "custom_greeting", "unknown_type"};
    static const char* const kConn[] = {"loggedout", "offline", "connecting", "online"};
    static const char* const kUserStatus[] = {"offline", "dnd", "online", "away", "na", "invisible"};
    static const char* const kDtmf[] = {"0", "1", "5", "9", "*", "#", "a"};
    static const char* const kErrors[] = {"9", "50", "91", "92", "94", "7", "0"};

    std::vector<std::string> t;
    uint32_t kind = m_r.Below(100);
    if (mix == NotificationMix::kNoVoicemail && kind >= 52 && kind < 62) {
        kind = 0; // a call instead
    }
    if (kind < 30) {
        t = {AnyCase("call"), CallId(), Pick(kCallWhat)};
        const std::string what = t[2];
        std::string lower = what;
        for (char& c : lower) {
            c = (char)tolower((unsigned char)c);
        }
        if (lower == "status") {
            t.push_back(Pick(kCallStatus));
        } else if (lower == "pstn_status") {
            t.push_back(m_r.Percent(50) ? AnyCase("pstn") : RandomWord());
            t.push_back(m_r.Percent(40)   ? AnyCase("hangup")
                        : m_r.Percent(50) ? AnyCase("busy")
                                          : RandomWord());
        } else if (lower == "type") {
            t.push_back(Pick(kCallType));
        } else if (lower == "pstn_number") {
            t.push_back(m_r.Percent(70) ? "+" + FuzzNumberText(m_r) : RandomWord());
        } else if (lower == "partner_handle") {
            t.push_back(Handle());
        } else if (lower == "failurereason") {
            t.push_back(m_r.Percent(80) ? std::to_string(m_r.Range(0, 7)) : RandomWord());
        } else if (lower == "dtmf") {
            t.push_back(Pick(kDtmf));
        } else {
            t.push_back(FuzzNumberText(m_r));
        }
    } else if (kind < 44) {
        t = {AnyCase("user"), Handle(), Pick(kUserWhat)};
        switch (m_r.Below(4)) {
        case 0:
            t.push_back(Pick(kOnline));
            break;
        case 1:
            t.push_back(std::to_string(m_r.Below(4)));
            break;
        case 2:
            t.push_back(m_r.Percent(50) ? AnyCase("true") : AnyCase("false"));
            break;
        default:
            t.push_back(FuzzNumberText(m_r));
            break;
        }
    } else if (kind < 52) {
        t = {AnyCase("users")};
        const uint32_t count = m_r.Percent(90) ? m_r.Below(6) : m_r.Range(6, 300);
        for (uint32_t i = 0; i < count; ++i) {
            t.push_back(Handle());
        }
    } else if (kind < 56) {
        t = {AnyCase("voicemails")};
        const uint32_t count = m_r.Percent(90) ? m_r.Below(5) : m_r.Range(5, 100);
        for (uint32_t i = 0; i < count; ++i) {
            t.push_back(VoicemailId());
        }
    } else if (kind < 62) {
        t = {AnyCase("voicemail"), VoicemailId()};
        if (m_r.Percent(75)) {
            t.push_back(AnyCase("status"));
            t.push_back(Pick(kVoicemailStatus));
        } else {
            t.push_back(AnyCase("type"));
            t.push_back(Pick(kVoicemailType));
        }
    } else if (kind < 66) {
        t = {AnyCase("connstatus"), Pick(kConn)};
    } else if (kind < 72) {
        t = {AnyCase("userstatus"), Pick(kUserStatus)};
    } else if (kind < 75) {
        t = {AnyCase("currentuserhandle"), Handle()};
    } else if (kind < 78) {
        t = {AnyCase("protocol"), m_r.Percent(60) ? std::to_string(m_r.Range(1, 8)) : FuzzNumberText(m_r)};
    } else if (kind < 81) {
        std::string version;
        const uint32_t parts = m_r.Range(0, 6);
        for (uint32_t i = 0; i < parts; ++i) {
            version +=
                (i ? "." : "") + (m_r.Percent(80) ? std::to_string(m_r.Below(300)) : FuzzNumberText(m_r));
        }
        t = {AnyCase("skypeversion"), m_r.Percent(90) ? version : RandomWord()};
    } else if (kind < 86) {
        t = {AnyCase("pong")};
    } else if (kind < 91) {
        t = {AnyCase("error"), Pick(kErrors), AnyCase("some"), AnyCase("text")};
    } else if (kind < 94) {
        t = {AnyCase("audio_in")};
        const uint32_t count = m_r.Below(5);
        for (uint32_t i = 0; i < count; ++i) {
            t.push_back(m_r.Percent(50) ? AnyCase("orvin") : RandomWord());
        }
    } else {
        const uint32_t count = m_r.Range(0, 6);
        for (uint32_t i = 0; i < count; ++i) {
            t.push_back(RandomWord());
        }
    }
    // Missing tokens, and now and then one more than a handler reads.
    if (!t.empty() && m_r.Percent(15)) {
        t.resize(m_r.Below((uint32_t)t.size()));
    } else if (m_r.Percent(10)) {
        t.push_back(RandomWord());
    }
    if (m_r.Percent(4) && !t.empty()) { // a long text in place of any token
        t[m_r.Below((uint32_t)t.size())] = std::string(m_r.Range(200, 3000), (char)m_r.Range('a', 'z'));
    }
    return t;
}

std::string NotificationMaker::Join(const std::vector<std::string>& tokens) {
    static const char* const kSeparators[] = {" ", " ", " ", ", ", ",", "  ", " ,, ", "\t"};
    std::string text = m_r.Percent(5) ? " " : "";
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (i) {
            text += m_r.Pick(kSeparators);
        }
        text += tokens[i];
    }
    if (m_r.Percent(5)) {
        text += m_r.Percent(50) ? " " : ",";
    }
    return text;
}

std::string NotificationMaker::Make(NotificationMix mix) {
    std::string text = Join(Tokens(mix));
    if (m_r.Percent(3) && !text.empty()) { // a zero inside: the text ends there
        text[m_r.Below((uint32_t)text.size())] = '\0';
    }
    if (m_r.Percent(2)) { // nothing but bytes
        const std::vector<uint8_t> bytes = m_r.Bytes(m_r.Range(1, 64));
        text.assign(bytes.begin(), bytes.end());
    }
    m_recipe = text.substr(0, 96);
    for (char& c : m_recipe) {
        if ((unsigned char)c < 0x20 || (unsigned char)c >= 0x7F) {
            c = '?';
        }
    }
    if (text.size() > 96) {
        m_recipe += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return text;
}

} // namespace skype_fuzz
