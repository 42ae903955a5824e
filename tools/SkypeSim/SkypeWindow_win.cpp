#include "SkypeWindow_win.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace orvin::skypesim {

const SimProfile kSkypeSimProfile = {
    "SkypeSim",
    "Skype",
    "tSkMainForm.UnicodeClass",
    "Skype",
    "SkypeControlAPIDiscover",
    "SkypeControlAPIAttach",
    "OrvinSkypeSim.SingleInstance",
    "UTF-8, one per message",
    &kSkypeAttachStatuses,
    &kSkypeCommandRules,
};

std::wstring Widen(const char* text) {
    return std::wstring(text, text + strlen(text));
}

namespace {

// Private messages of the window thread.
constexpr UINT kSendPendingMessage = WM_APP + 1; // notifications are queued
constexpr UINT kVanishMessage = WM_APP + 2;      // wParam: ms until the window closes
constexpr UINT kHangMessage = WM_APP + 3;        // wParam: ms the window takes no message
constexpr UINT_PTR kCloseTimer = 1;

// A notification that the agent does not take within this time counts as not delivered.
constexpr UINT kSendTimeoutMs = 5000;
// How long a notify waits for the window thread to send it.
constexpr DWORD kNotifyWaitMs = kSendTimeoutMs + 5000;

using Clock = std::chrono::steady_clock;

std::string HandleText(HWND hwnd) {
    char text[32];
    snprintf(text, sizeof text, "0x%llx", (unsigned long long)reinterpret_cast<uintptr_t>(hwnd));
    return text;
}

Clock::time_point DeadlineAfter(uint32_t ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

} // namespace

bool SkypeWindow::Start(std::string* error) {
    m_discoverMessage = RegisterWindowMessageW(Widen(m_profile.discoverMessage).c_str());
    m_attachMessage = RegisterWindowMessageW(Widen(m_profile.attachMessage).c_str());
    if (!m_discoverMessage || !m_attachMessage) {
        *error = "RegisterWindowMessage failed: " + std::to_string(GetLastError());
        return false;
    }
    m_thread = std::thread(&SkypeWindow::ThreadMain, this);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_hwnd || m_bClosed; });
    if (!m_hwnd) {
        *error = "can not create the window";
        return false;
    }
    return true;
}

void SkypeWindow::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_hwnd && !m_bClosed) {
            PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        }
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void SkypeWindow::ThreadMain() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const std::wstring className = Widen(m_profile.windowClass);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className.c_str();
    RegisterClassW(&windowClass);
    HWND hwnd =
        CreateWindowExW(0, className.c_str(), Widen(m_profile.windowTitle).c_str(), WS_OVERLAPPEDWINDOW,
                        CW_USEDEFAULT, CW_USEDEFAULT, 400, 300, nullptr, nullptr, instance, this);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hwnd = hwnd;
        m_bClosed = hwnd == nullptr;
    }
    m_changed.notify_all();
    if (!hwnd) {
        return;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

LRESULT CALLBACK SkypeWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<SkypeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->Handle(hwnd, message, wParam, lParam) : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT SkypeWindow::Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == m_discoverMessage && m_discoverMessage) {
        OnDiscover(reinterpret_cast<HWND>(wParam));
        return 0;
    }
    if (message == m_attachMessage && m_attachMessage) {
        return 0; // our own broadcast of "available"
    }
    switch (message) {
    case WM_COPYDATA:
        OnCopyData(reinterpret_cast<HWND>(wParam), reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return TRUE;
    case kSendPendingMessage:
        SendPending();
        return 0;
    case kHangMessage:
        m_log.Line("hang: the window takes no message for %u ms", (unsigned)wParam);
        Sleep((DWORD)wParam);
        m_log.Line("hang: over");
        return 0;
    case kVanishMessage:
        if (wParam == 0) {
            DestroyWindow(hwnd);
        } else {
            SetTimer(hwnd, kCloseTimer, (UINT)wParam, nullptr);
        }
        return 0;
    case WM_TIMER:
        if (wParam == kCloseTimer) {
            KillTimer(hwnd, kCloseTimer);
            DestroyWindow(hwnd);
        }
        return 0;
    case WM_DESTROY: {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bClosed = true;
            // Notifications still queued are dropped: their notify commands fail.
            for (const Outgoing& item : m_outgoing) {
                if (item.bFromScript) {
                    m_notifyFailures[item.sequence] = "the window closed first";
                }
                m_sent = item.sequence;
            }
            m_outgoing.clear();
        }
        m_log.Line("window closed");
        m_changed.notify_all();
        PostQuitMessage(0);
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void SkypeWindow::OnDiscover(HWND from) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bVanished) {
            m_log.Line("discover from %s: not answered (vanished)", HandleText(from).c_str());
            return;
        }
        m_discovers.push_back(from);
    }
    m_log.Line("discover from %s", HandleText(from).c_str());
    m_changed.notify_all();
}

void SkypeWindow::OnCopyData(HWND from, const COPYDATASTRUCT* data) {
    const long long receivedAt = orvin::sim::SimLog::Counter();
    ReceivedCommand received;
    if (data) {
        received.data = (uint32_t)data->dwData;
        if (data->lpData && data->cbData) {
            received.bytes.assign(static_cast<const char*>(data->lpData), data->cbData);
        }
    }
    std::string text = CommandText(received.bytes);
    bool post = false;
    bool inside = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        int number = ++m_received;
        received.attached = m_agent != nullptr;
        received.fromAttachedWindow = from == m_agent;
        m_log.LineAt(receivedAt, "RX %s%s", ShowText(text).c_str(),
                     m_bVanished ? "  (not answered: vanished)" : "");
        for (const std::string& violation : CheckCommand(received, *m_profile.rules)) {
            std::string described = "command " + std::to_string(number) + " (" + ShowText(text) + ") from " +
                                    HandleText(from) + ": " + violation;
            if (m_bLenient) {
                ++m_warnings;
                m_log.Warning("%s", described.c_str());
            } else {
                m_log.Error("%s", described.c_str());
                m_violations.push_back(described);
            }
        }
        m_commands.push_back(text);
        if (!m_bVanished) {
            for (const SkypeCommand& answer : m_answers) {
                std::vector<std::string> captures;
                if (!answer.pattern.Match(text, &captures)) {
                    continue;
                }
                if (!m_agent || !m_bAgentAttached) {
                    m_log.Line("answer (line %d) not sent: no window attached", answer.line);
                    break;
                }
                for (const Reply& reply : answer.replies) {
                    m_outgoing.push_back(
                        {m_nextSequence++, reply.Expand(text, captures) + '\0', false, answer.inside});
                }
                (answer.inside ? inside : post) = true;
                break;
            }
        }
        if (inside) {
            ++m_insideAnswers;
        }
    }
    m_changed.notify_all();
    if (inside) {
        // Now, while the agent still waits in its SendMessage: it takes the notification
        // in the middle of sending its command (what a Skype that answers at once does).
        // expect-command takes no command meanwhile, so that the script's next step comes
        // after the answer.
        SendPending();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_insideAnswers;
        }
        m_changed.notify_all();
    } else if (post) {
        // Sent after this handler returns, as Skype does: the agent is still in its
        // SendMessage now.
        PostMessageW(m_hwnd, kSendPendingMessage, 0, 0);
    }
}

void SkypeWindow::SendPending() {
    for (;;) {
        Outgoing item;
        HWND agent;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_outgoing.empty()) {
                return;
            }
            item = std::move(m_outgoing.front());
            m_outgoing.pop_front();
            agent = m_bAgentAttached ? m_agent : nullptr;
        }
        std::string failure;
        std::string text = CommandText(item.bytes);
        // The moment it goes out: SendMessage returns only once the agent has handled it.
        const long long sentAt = orvin::sim::SimLog::Counter();
        if (!agent) {
            failure = "no window attached";
        } else {
            COPYDATASTRUCT data = {};
            data.cbData = (DWORD)item.bytes.size();
            data.lpData = item.bytes.empty() ? nullptr : item.bytes.data();
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(agent, WM_COPYDATA, reinterpret_cast<WPARAM>(m_hwnd),
                                     reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, kSendTimeoutMs, &result)) {
                failure = "not delivered (error " + std::to_string(GetLastError()) + ")";
            }
        }
        if (failure.empty()) {
            m_log.LineAt(sentAt, "TX %s%s%s", ShowText(text).c_str(),
                         item.bytes.empty() || item.bytes.back() != '\0' ? "  (no terminating zero)" : "",
                         item.bInside ? "  (inside the agent's send)" : "");
        } else {
            m_log.Line("TX %s: %s", ShowText(text).c_str(), failure.c_str());
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sent = item.sequence;
            if (item.bFromScript && !failure.empty()) {
                m_notifyFailures[item.sequence] = failure;
            }
        }
        m_changed.notify_all();
    }
}

bool SkypeWindow::Attach(uint32_t status, uint32_t timeoutMs, std::string* failure) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_bVanished || m_bClosed) {
        *failure = "the window is gone (vanish)";
        return false;
    }
    if (status == m_profile.statuses->available) {
        // A new handshake follows: the agents that hear this discover again.
        m_agent = nullptr;
        m_bAgentAttached = false;
        m_lastAnswered = nullptr;
        m_discovers.clear();
        HWND self = m_hwnd;
        lock.unlock();
        m_log.Line("attach %s: broadcast", AttachStatusName(status, *m_profile.statuses).c_str());
        if (!PostMessageW(HWND_BROADCAST, m_attachMessage, reinterpret_cast<WPARAM>(self), status)) {
            *failure = "the broadcast failed: " + std::to_string(GetLastError());
            return false;
        }
        return true;
    }
    HWND target = nullptr;
    if (!m_discovers.empty()) {
        target = m_discovers.front();
        m_discovers.pop_front();
    } else if (m_lastAnswered) {
        target = m_lastAnswered;
    } else {
        bool arrived = m_changed.wait_until(lock, DeadlineAfter(timeoutMs),
                                            [this] { return !m_discovers.empty() || m_bClosed; });
        if (!arrived || m_bClosed) {
            *failure = "no discover within " + std::to_string(timeoutMs) + " ms";
            return false;
        }
        target = m_discovers.front();
        m_discovers.pop_front();
    }
    // Recorded before the message goes, so that the agent's first command finds it. "Not
    // available" to the attached window keeps that window for the commands it still sends.
    if (status == m_profile.statuses->success) {
        m_agent = target;
        m_bAgentAttached = true;
    } else if (status != m_profile.statuses->notAvailable || target != m_agent) {
        m_agent = nullptr;
        m_bAgentAttached = false;
    } else {
        m_bAgentAttached = false;
    }
    m_lastAnswered = target;
    HWND self = m_hwnd;
    lock.unlock();
    m_log.Line("attach %s to %s", AttachStatusName(status, *m_profile.statuses).c_str(),
               HandleText(target).c_str());
    if (!PostMessageW(target, m_attachMessage, reinterpret_cast<WPARAM>(self), status)) {
        *failure = "the attach message could not be posted to " + HandleText(target) + ": " +
                   std::to_string(GetLastError());
        return false;
    }
    return true;
}

bool SkypeWindow::ExpectCommand(const Pattern& pattern, uint32_t timeoutMs, std::string* failure) {
    auto deadline = DeadlineAfter(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!m_commands.empty() && m_insideAnswers == 0) {
            std::string text = std::move(m_commands.front());
            m_commands.pop_front();
            if (pattern.Match(text)) {
                return true;
            }
            m_log.Line("passed over: %s", ShowText(text).c_str());
        }
        if (m_violationsTaken < m_violations.size()) {
            *failure = "cut short: " + m_violations[m_violationsTaken++];
            return false;
        }
        if (m_bClosed) {
            *failure = "the window closed before a command matched";
            return false;
        }
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            (m_commands.empty() || m_insideAnswers != 0)) {
            *failure = "no command matching '" + ShowText(pattern.Written()) + "' within " +
                       std::to_string(timeoutMs) + " ms";
            return false;
        }
    }
}

bool SkypeWindow::Notify(const std::string& text, bool zero, std::string* failure) {
    uint64_t sequence;
    HWND self;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bVanished || m_bClosed) {
            *failure = "the window is gone (vanish)";
            return false;
        }
        if (!m_agent || !m_bAgentAttached) {
            *failure = "no window attached";
            return false;
        }
        sequence = m_nextSequence++;
        m_outgoing.push_back({sequence, zero ? text + '\0' : text, true, false});
        self = m_hwnd;
    }
    PostMessageW(self, kSendPendingMessage, 0, 0);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_until(lock, DeadlineAfter(kNotifyWaitMs), [&] { return m_sent >= sequence; })) {
        *failure = "the window thread did not send it";
        return false;
    }
    auto found = m_notifyFailures.find(sequence);
    if (found != m_notifyFailures.end()) {
        *failure = found->second;
        m_notifyFailures.erase(found);
        return false;
    }
    return true;
}

void SkypeWindow::AddAnswer(const SkypeCommand& answer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(answer);
}

void SkypeWindow::Vanish(uint32_t closeMs) {
    HWND self;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bVanished = true;
        self = m_bClosed ? nullptr : m_hwnd;
    }
    m_log.Line("vanish: no more answers; the window closes in %u ms", closeMs);
    if (self) {
        PostMessageW(self, kVanishMessage, closeMs, 0);
    }
}

void SkypeWindow::Hang(uint32_t ms) {
    HWND self;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        self = m_bClosed ? nullptr : m_hwnd;
    }
    if (self) {
        PostMessageW(self, kHangMessage, ms, 0);
    }
}

bool SkypeWindow::TakeViolation(std::string* violation) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_violationsTaken >= m_violations.size()) {
        return false;
    }
    *violation = m_violations[m_violationsTaken++];
    return true;
}

int SkypeWindow::Warnings() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_warnings;
}

} // namespace orvin::skypesim
