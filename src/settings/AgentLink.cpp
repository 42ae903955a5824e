#include "settings/AgentLink.h"

#include "settings/model/AgentWindows.h"

namespace {

constexpr LPARAM kEngineAnnouncement = 0;
constexpr LPARAM kMonitorAnnouncement = 1;
constexpr LPARAM kRegistryChanges = 2;
constexpr LPARAM kAgentShutdown = 8;

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Waits for `process`, answering messages sent to this thread (an agent's SendMessage to
// its monitor must not wait for us), but taking no input: the user's clicks wait.
bool WaitAnswering(HANDLE process, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        const DWORD woke =
            MsgWaitForMultipleObjects(1, &process, FALSE, (DWORD)(deadline - now), QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0) {
            return true;
        }
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace

CAgentLink::~CAgentLink() {
    if (HWND window = m_hWnd) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0); // its end is this program's, not news
        m_hWnd = nullptr;
        DestroyWindow(window);
    }
}

UINT CAgentLink::ShowMessage() {
    static const UINT message = RegisterWindowMessageA("OrvinSettings.Show");
    return message;
}

bool CAgentLink::Create(std::function<void(int)> show) {
    m_Show = std::move(show);
    m_uChannel = RegisterWindowMessageA("WM_APP_MESSAGE_CHANNEL");
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);
    // Top-level and never shown: broadcasts reach it.
    m_hWnd = CreateWindowExA(0, kWindowClass, "OrvinSettings", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                             windowClass.hInstance, this);
    if (!m_hWnd || !m_uChannel) {
        return false;
    }
    if (HWND engine = Engine()) {
        Send(engine, kMonitorAnnouncement);
    }
    return true;
}

LRESULT CALLBACK CAgentLink::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          (LONG_PTR) reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    }
    auto* self = reinterpret_cast<CAgentLink*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self && message == self->m_uChannel && message) {
        self->OnChannel(wParam, lParam);
        return 1;
    }
    if (self && message == WM_DESTROY) {
        // Closed from outside (setup, before it replaces the program): the program ends.
        self->m_hWnd = nullptr;
        PostQuitMessage(0);
        return 0;
    }
    if (self && message == ShowMessage() && message) {
        if (self->m_Show) {
            self->m_Show((int)wParam);
        }
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void CAgentLink::OnChannel(WPARAM wParam, LPARAM lParam) {
    HWND sender = reinterpret_cast<HWND>(wParam);
    if (lParam != kEngineAnnouncement || sender == m_hWnd || !IsOwnAgentWindow(sender)) {
        return;
    }
    m_hEngine = sender;
    // The engine announces itself with a broadcast: release it before answering.
    if (InSendMessage()) {
        ReplyMessage(1);
    }
    Send(sender, kMonitorAnnouncement);
}

HWND CAgentLink::Engine() {
    if (!IsOwnAgentWindow(m_hEngine)) {
        m_hEngine = FindAgentEngine();
    }
    return m_hEngine;
}

bool CAgentLink::Send(HWND engine, LPARAM command) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(engine, m_uChannel, (WPARAM)m_hWnd, command, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                               kSendTimeoutMs, &result) != 0;
}

bool CAgentLink::IsAgentRunning() {
    return Engine() != nullptr;
}

bool CAgentLink::NotifyRegistryChanges() {
    HWND engine = Engine();
    return engine && Send(engine, kRegistryChanges);
}

CAgentLink::Restart CAgentLink::RestartAgent(const std::string& installFolder) {
    HWND engine = Engine();
    if (!engine) {
        return Restart::kNotRunning;
    }
    const std::string running = WindowProgramPath(engine);
    DWORD processId = 0;
    GetWindowThreadProcessId(engine, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) {
        return Restart::kDidNotEnd;
    }
    Send(engine, kAgentShutdown);
    const bool ended = WaitAnswering(process, kShutdownWaitMs);
    CloseHandle(process);
    m_hEngine = nullptr;
    if (!ended) {
        return Restart::kDidNotEnd;
    }
    // The installed agent, as the machine's Run value starts it; else the very program
    // that ran (this user's own, checked above).
    std::string program = installFolder.empty() ? std::string() : installFolder + "\\OrvinAgent.exe";
    if (program.empty() || !FileExists(program)) {
        program = running;
    }
    std::string commandLine = "\"" + program + "\"";
    const size_t slash = program.find_last_of('\\');
    const std::string folder = slash == std::string::npos ? std::string() : program.substr(0, slash);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (program.empty() ||
        !CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
        return Restart::kNotStarted;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return Restart::kRestarted;
}
