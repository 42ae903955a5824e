// CAgentLink: the settings program's side of the monitor channel, the registered message
// "WM_APP_MESSAGE_CHANNEL" (wParam a window, lParam the command), through a hidden
// top-level window of its own (broadcasts reach it):
//   0  an agent's message engine announces itself: answered with 1 (below), directly
//   1  sent by this program: its window, where the engine sends what it tells its monitor
//   2  "MonitorNotifyRegistryChanges": sent after every saved change, the agent reloads
//   8  "MonitorNotifyAgentShutdown": sent to end the agent before it is started again
// The window is announced (1) to this user's agent when the program starts and whenever
// the agent announces itself. Any program may send the window anything: a command other
// than an engine's announcement is ignored, and an announcement counts only from a window
// of this user's OrvinAgent.exe (settings/model/AgentWindows.h).
//
// The same window takes "OrvinSettings.Show" (wParam the page), with which a second start
// of the program brings this one forward; WM_CLOSE to it (class "OrvinSettingsMonitor")
// ends the program, as setup does before it replaces or removes the program.
//
// Threads: the GUI thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class CAgentLink {
public:
    static constexpr const char* kWindowClass = "OrvinSettingsMonitor";
    static constexpr DWORD kSendTimeoutMs = 2000;
    static constexpr DWORD kShutdownWaitMs = 40000;

    CAgentLink() = default;
    ~CAgentLink();
    CAgentLink(const CAgentLink&) = delete;
    CAgentLink& operator=(const CAgentLink&) = delete;

    // Makes the window and announces it to the agent, if one runs. `show` is called for
    // "OrvinSettings.Show" with the page asked for.
    bool Create(std::function<void(int page)> show);
    HWND Window() const { return m_hWnd; }
    static UINT ShowMessage();

    bool IsAgentRunning();
    // "MonitorNotifyRegistryChanges" to the agent; false when none runs.
    bool NotifyRegistryChanges();
    enum class Restart { kNotRunning, kRestarted, kDidNotEnd, kNotStarted };
    // Ends the agent (command 8), waits for its process to end, and starts it again: the
    // installed OrvinAgent.exe (<installFolder>), or the program that ended when there is
    // none. Messages sent to this thread are answered while it waits.
    Restart RestartAgent(const std::string& installFolder);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnChannel(WPARAM wParam, LPARAM lParam);
    // The engine to talk to: the one known if it still passes the checks, else a search.
    HWND Engine();
    bool Send(HWND engine, LPARAM command);

    HWND m_hWnd = nullptr;
    UINT m_uChannel = 0;
    HWND m_hEngine = nullptr;
    std::function<void(int)> m_Show;
};
