#include "SoftphoneWindow_win.h"

#include <chrono>
#include <cstdio>

namespace orvin::sim {

namespace {

// Private messages of the window thread.
constexpr UINT kSendPendingMessage = WM_APP + 1; // records are queued
constexpr UINT kVanishMessage = WM_APP + 2;      // wParam: ms until the window closes
constexpr UINT kHangMessage = WM_APP + 3;        // wParam: ms the window takes no message
constexpr UINT_PTR kCloseTimer = 1;

// A record that the agent does not take within this time counts as not delivered.
constexpr UINT kSendTimeoutMs = 5000;
// How long a send waits for the window thread to send it.
constexpr DWORD kSendWaitMs = kSendTimeoutMs + 5000;

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineAfter(uint32_t ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

} // namespace

std::string HandleText(HWND hwnd) {
    char text[32];
    snprintf(text, sizeof text, "0x%llx", (unsigned long long)reinterpret_cast<uintptr_t>(hwnd));
    return text;
}

bool SoftphoneWindow::Start(const wchar_t* windowClass, const wchar_t* title, SoftphoneProtocol protocol,
                            std::string* error) {
    m_protocol = std::move(protocol);
    m_thread =
        std::thread(&SoftphoneWindow::ThreadMain, this, std::wstring(windowClass), std::wstring(title));
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_hwnd || m_bClosed; });
    if (!m_hwnd) {
        *error = "can not create the window";
        return false;
    }
    return true;
}

void SoftphoneWindow::Stop() {
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

HWND SoftphoneWindow::Window() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hwnd;
}

void SoftphoneWindow::ThreadMain(std::wstring windowClass, std::wstring title) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW registered = {};
    registered.lpfnWndProc = WindowProc;
    registered.hInstance = instance;
    registered.lpszClassName = windowClass.c_str();
    RegisterClassW(&registered);
    HWND hwnd = CreateWindowExW(0, windowClass.c_str(), title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 400, 300, nullptr, nullptr, instance, this);
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

LRESULT CALLBACK SoftphoneWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<SoftphoneWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->Handle(hwnd, message, wParam, lParam) : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT SoftphoneWindow::Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= 0xC000 && message <= 0xFFFF && m_protocol.onMessage &&
        m_protocol.onMessage(message, wParam, lParam)) {
        return 0; // a registered message of the protocol
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
            // Records still queued are dropped: their sends fail.
            for (const Outgoing& item : m_outgoing) {
                if (item.bFromScript) {
                    m_sendFailures[item.sequence] = "the window closed first";
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

void SoftphoneWindow::AddDiscover(HWND from) {
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

void SoftphoneWindow::ReportLocked(const std::string& violation) {
    if (m_bLenient) {
        ++m_warnings;
        m_log.Warning("%s", violation.c_str());
    } else {
        m_log.Error("%s", violation.c_str());
        m_violations.push_back(violation);
    }
}

void SoftphoneWindow::AddViolation(const std::string& violation) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ReportLocked(violation);
    }
    m_changed.notify_all();
}

void SoftphoneWindow::OnCopyData(HWND from, const COPYDATASTRUCT* data) {
    const long long receivedAt = SimLog::Counter();
    ReceivedRecord received;
    received.from = from;
    if (data) {
        received.data = (uint32_t)data->dwData;
        if (data->lpData && data->cbData) {
            received.bytes.assign(static_cast<const char*>(data->lpData), data->cbData);
        }
    }
    bool post = false;
    bool inside = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        received.number = ++m_nReceived;
        received.attached = m_agent != nullptr;
        received.fromAttachedWindow = from == m_agent;
        const std::string shown = m_protocol.show(received);
        m_log.LineAt(receivedAt, "RX %s%s", shown.c_str(), m_bVanished ? "  (not answered: vanished)" : "");
        for (const std::string& violation : m_protocol.check(received)) {
            ReportLocked(m_protocol.noun + " " + std::to_string(received.number) + " (" + shown + ") from " +
                         HandleText(from) + ": " + violation);
        }
        if (!m_bVanished && m_protocol.reply) {
            std::vector<OutgoingRecord> replies;
            if (int line = m_protocol.reply(received, &replies)) {
                if (!m_agent || !m_bAgentAttached) {
                    m_log.Line("answer (line %d) not sent: no window attached", line);
                } else {
                    for (OutgoingRecord& reply : replies) {
                        (reply.inside ? inside : post) = true;
                        m_outgoing.push_back({m_nextSequence++, std::move(reply), false});
                    }
                }
            }
        }
        if (inside) {
            ++m_insideAnswers;
        }
        m_received.push_back(std::move(received));
    }
    m_changed.notify_all();
    if (inside) {
        // Now, while the agent still waits in its SendMessage: it takes the answer in the
        // middle of sending its record (what a softphone that answers at once does). No
        // expect takes a record meanwhile, so that the script's next step comes after the
        // answer.
        SendPending();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_insideAnswers;
        }
        m_changed.notify_all();
    } else if (post) {
        // Sent after this handler returns, as the real programs do: the agent is still in
        // its SendMessage now.
        PostMessageW(m_hwnd, kSendPendingMessage, 0, 0);
    }
}

void SoftphoneWindow::SendPending() {
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
        if (!agent) {
            failure = "no window attached";
            m_log.Line("TX %s: %s", m_protocol.showOutgoing(item.record, false).c_str(), failure.c_str());
        } else {
            // Logged as it goes out: what the agent sends while it handles the record (its
            // SendMessage is answered only then) comes after this line.
            m_log.Line("TX %s%s", m_protocol.showOutgoing(item.record, true).c_str(),
                       item.record.inside ? "  (inside the agent's send)" : "");
            COPYDATASTRUCT data = {};
            data.dwData = item.record.data;
            data.cbData = (DWORD)item.record.bytes.size();
            data.lpData = item.record.bytes.empty() ? nullptr : item.record.bytes.data();
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(agent, WM_COPYDATA, reinterpret_cast<WPARAM>(m_hwnd),
                                     reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, kSendTimeoutMs, &result)) {
                failure = "not delivered (error " + std::to_string(GetLastError()) + ")";
                m_log.Line("   %s: %s", failure.c_str(), m_protocol.showOutgoing(item.record, false).c_str());
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_sent = item.sequence;
            if (item.bFromScript && !failure.empty()) {
                m_sendFailures[item.sequence] = failure;
            }
        }
        m_changed.notify_all();
    }
}

bool SoftphoneWindow::TakeAttachTarget(uint32_t timeoutMs, bool attaches, bool keepsRecords, HWND* target,
                                       std::string* failure) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_bVanished || m_bClosed) {
        *failure = "the window is gone (vanish)";
        return false;
    }
    if (!m_discovers.empty()) {
        *target = m_discovers.front();
        m_discovers.pop_front();
    } else if (m_lastAnswered) {
        *target = m_lastAnswered;
    } else {
        bool arrived = m_changed.wait_until(lock, DeadlineAfter(timeoutMs),
                                            [this] { return !m_discovers.empty() || m_bClosed; });
        if (!arrived || m_bClosed) {
            *failure = "no discover within " + std::to_string(timeoutMs) + " ms";
            return false;
        }
        *target = m_discovers.front();
        m_discovers.pop_front();
    }
    // Recorded before the answer goes, so that the agent's first record finds it.
    if (attaches) {
        m_agent = *target;
    } else if (!keepsRecords || *target != m_agent) {
        m_agent = nullptr;
    }
    m_bAgentAttached = attaches;
    m_lastAnswered = *target;
    return true;
}

bool SoftphoneWindow::ResetHandshake(std::string* failure) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bVanished || m_bClosed) {
        *failure = "the window is gone (vanish)";
        return false;
    }
    m_agent = nullptr;
    m_bAgentAttached = false;
    m_lastAnswered = nullptr;
    m_discovers.clear();
    return true;
}

HWND SoftphoneWindow::Agent() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bAgentAttached ? m_agent : nullptr;
}

void SoftphoneWindow::ForgetAgent() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_agent = nullptr;
    m_bAgentAttached = false;
}

bool SoftphoneWindow::Expect(const std::function<bool(const ReceivedRecord&)>& matches,
                             const std::string& what, uint32_t timeoutMs, std::string* failure) {
    auto deadline = DeadlineAfter(timeoutMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!m_received.empty() && m_insideAnswers == 0) {
            ReceivedRecord record = std::move(m_received.front());
            m_received.pop_front();
            if (matches(record)) {
                return true;
            }
            m_log.Line("passed over: %s", m_protocol.show(record).c_str());
        }
        if (m_violationsTaken < m_violations.size()) {
            *failure = "cut short: " + m_violations[m_violationsTaken++];
            return false;
        }
        if (m_bClosed) {
            *failure = "the window closed before a " + m_protocol.noun + " matched";
            return false;
        }
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            (m_received.empty() || m_insideAnswers != 0)) {
            *failure = "no " + what + " within " + std::to_string(timeoutMs) + " ms";
            return false;
        }
    }
}

bool SoftphoneWindow::SendToAgent(const OutgoingRecord& record, std::string* failure) {
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
        m_outgoing.push_back({sequence, record, true});
        self = m_hwnd;
    }
    PostMessageW(self, kSendPendingMessage, 0, 0);
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_until(lock, DeadlineAfter(kSendWaitMs), [&] { return m_sent >= sequence; })) {
        *failure = "the window thread did not send it";
        return false;
    }
    auto found = m_sendFailures.find(sequence);
    if (found != m_sendFailures.end()) {
        *failure = found->second;
        m_sendFailures.erase(found);
        return false;
    }
    return true;
}

void SoftphoneWindow::Vanish(uint32_t closeMs) {
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

void SoftphoneWindow::Hang(uint32_t ms) {
    HWND self;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        self = m_bClosed ? nullptr : m_hwnd;
    }
    if (self) {
        PostMessageW(self, kHangMessage, ms, 0);
    }
}

bool SoftphoneWindow::TakeViolation(std::string* violation) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_violationsTaken >= m_violations.size()) {
        return false;
    }
    *violation = m_violations[m_violationsTaken++];
    return true;
}

int SoftphoneWindow::Warnings() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_warnings;
}

SingleInstance::~SingleInstance() {
    if (m_hMutex) {
        if (m_bOwned) {
            ReleaseMutex(m_hMutex);
        }
        CloseHandle(m_hMutex);
    }
}

bool SingleInstance::Claim(const wchar_t* mutexName, const wchar_t* windowClass, const char* program,
                           const char* others, DWORD graceMs, SimLog& log) {
    m_hMutex = CreateMutexW(nullptr, TRUE, mutexName);
    m_bOwned = m_hMutex != nullptr;
    if (m_hMutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        DWORD wait = WaitForSingleObject(m_hMutex, graceMs);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
            m_bOwned = false;
            log.Error("another %s runs already", program);
            return false;
        }
    }
    HWND other = FindWindowW(windowClass, nullptr);
    for (DWORD waited = 0; other && waited < graceMs; waited += 50) {
        Sleep(50);
        other = FindWindowW(windowClass, nullptr);
    }
    if (other) {
        std::string className;
        for (const wchar_t* c = windowClass; *c; ++c) {
            className += *c < 0x80 ? (char)*c : '?';
        }
        log.Error("a window of class %s exists already (%p): %s", className.c_str(), (void*)other, others);
        return false;
    }
    return true;
}

} // namespace orvin::sim
