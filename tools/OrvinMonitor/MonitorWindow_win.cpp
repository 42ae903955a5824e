#include "MonitorWindow_win.h"

#include "WinText.h"

namespace orvin::monitor {

namespace {

const wchar_t kChannelMessageName[] = L"WM_APP_MESSAGE_CHANNEL";
const wchar_t kWindowClass[] = L"OrvinMonitorStandIn";
const wchar_t kWindowTitle[] = L"OrvinMonitor";

constexpr UINT kSendTimeoutMs = 2000; // per window; an agent answers at once

unsigned long long HandleValue(HWND window) {
    return (unsigned long long)(ULONG_PTR)window;
}

// The image name of the process that owns a window ("PowerProbe.exe"), or "?".
std::string ProcessNameOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = pid ? OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid) : nullptr;
    if (!process) {
        return "?";
    }
    wchar_t path[MAX_PATH];
    DWORD size = ARRAYSIZE(path);
    std::string name = "?";
    if (QueryFullProcessImageNameW(process, 0, path, &size)) {
        std::wstring full(path, size);
        size_t slash = full.find_last_of(L"\\/");
        name = Utf8(slash == std::wstring::npos ? full : full.substr(slash + 1));
    }
    CloseHandle(process);
    return name;
}

std::string CommandName(LPARAM command) {
    switch (command) {
    case kEngineAnnouncement:
        return "(engine announcement)";
    case kMonitorAnnouncement:
        return "(monitor announcement)";
    case kRegistryChanges:
        return "MonitorNotifyRegistryChanges";
    case kAgentShutdown:
        return "MonitorNotifyAgentShutdown";
    default:
        return "(unknown command)";
    }
}

} // namespace

MonitorWindow::MonitorWindow(MonitorLog& log, const std::string& engineProcess)
    : m_log(log), m_engineProcess(engineProcess) {}

bool MonitorWindow::Create(bool hide) {
    m_uChannelMessage = RegisterWindowMessageW(kChannelMessageName);
    if (!m_uChannelMessage) {
        m_log.Error("RegisterWindowMessage failed: error %lu", GetLastError());
        return false;
    }
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassW(&windowClass)) {
        m_log.Error("RegisterClass failed: error %lu", GetLastError());
        return false;
    }
    // Top-level (no parent, not message-only): broadcasts must reach it. Never shown.
    m_hWnd = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr, nullptr,
                             windowClass.hInstance, this);
    if (!m_hWnd) {
        m_log.Error("CreateWindow failed: error %lu", GetLastError());
        return false;
    }
    m_log.Line("window=0x%llX channel=0x%X hide=%d pid=%lu", HandleValue(m_hWnd), m_uChannelMessage,
               hide ? 1 : 0, GetCurrentProcessId());
    return true;
}

void MonitorWindow::Destroy() {
    if (m_hWnd) {
        DestroyWindow(m_hWnd);
    }
}

bool MonitorWindow::SendCommand(LPARAM command) {
    if (!m_hEngine) {
        Broadcast(command);
        return true;
    }
    return SendTo(m_hEngine, command);
}

bool MonitorWindow::WaitEngine(DWORD ms) {
    if (m_hEngine) {
        m_log.Line("engine 0x%llX known already", HandleValue(m_hEngine));
        return true;
    }
    return Pump(ms, [this] { return m_hEngine != nullptr; });
}

bool MonitorWindow::RunWaitingMessages() {
    MSG msg;
    while (!m_bClosed && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            m_bClosed = true;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return !m_bClosed;
}

LRESULT CALLBACK MonitorWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, (LONG_PTR)create->lpCreateParams);
    }
    auto* self = reinterpret_cast<MonitorWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && message == self->m_uChannelMessage) {
        self->OnChannelMessage(wParam, lParam);
        return 1;
    }
    if (self && message == WM_DESTROY) {
        self->m_log.Line("window destroyed");
        self->m_hWnd = nullptr;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void MonitorWindow::OnChannelMessage(WPARAM wParam, LPARAM lParam) {
    HWND sender = (HWND)wParam;
    if (sender == m_hWnd) {
        m_log.Line("RX wParam=0x%llX lParam=%lld %s (self)", (unsigned long long)wParam, (long long)lParam,
                   CommandName(lParam).c_str());
        return;
    }
    std::string process = IsWindow(sender) ? ProcessNameOf(sender) : "(no such window)";
    m_log.Line("RX wParam=0x%llX lParam=%lld %s from %s", (unsigned long long)wParam, (long long)lParam,
               CommandName(lParam).c_str(), process.c_str());
    if (lParam != kEngineAnnouncement || !IsWindow(sender)) {
        return;
    }
    if (!m_engineProcess.empty() && lstrcmpiW(Wide(process).c_str(), Wide(m_engineProcess).c_str()) != 0) {
        m_log.Line("engine 0x%llX passed over: not %s", (unsigned long long)wParam, m_engineProcess.c_str());
        return;
    }
    m_hEngine = sender;
    m_log.Line("engine 0x%llX known (%s)", (unsigned long long)wParam, process.c_str());
    // Release the engine's broadcast first: it goes on to the other windows while this
    // answer waits for it.
    if (InSendMessage()) {
        ReplyMessage(1);
    }
    SendTo(sender, kMonitorAnnouncement);
}

bool MonitorWindow::SendTo(HWND target, LPARAM command) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(target, m_uChannelMessage, (WPARAM)m_hWnd, command,
                             SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, &result)) {
        m_log.Error("TX to=0x%llX wParam=0x%llX lParam=%lld %s failed: error %lu", HandleValue(target),
                    HandleValue(m_hWnd), (long long)command, CommandName(command).c_str(), GetLastError());
        return false;
    }
    m_log.Line("TX to=0x%llX wParam=0x%llX lParam=%lld %s result=%lld", HandleValue(target),
               HandleValue(m_hWnd), (long long)command, CommandName(command).c_str(), (long long)result);
    return true;
}

void MonitorWindow::Broadcast(LPARAM command) {
    m_log.Line("TX broadcast wParam=0x%llX lParam=%lld %s", HandleValue(m_hWnd), (long long)command,
               CommandName(command).c_str());
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, m_uChannelMessage, (WPARAM)m_hWnd, command,
                        SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
    m_log.Line("broadcast done");
}

} // namespace orvin::monitor
