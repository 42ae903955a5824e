// The monitor's hidden top-level window on the application channel, the registered
// message "WM_APP_MESSAGE_CHANNEL" (wParam = the sender's window, lParam = the command):
//   0  an agent's message engine announces its window
//   1  the monitor announces its window (engines send their later notifications there)
//   2  "MonitorNotifyRegistryChanges": the agent reloads its configuration
//   8  "MonitorNotifyAgentShutdown": the agent shuts down
// The window logs every channel message it receives, learns the engine from its
// announcement and answers it directly with its own, so that an engine made after the
// monitor knows it too.
//
// Threads: everything here runs on the thread that made the window; its messages flow
// only while that thread is in Pump or in a send.
#pragma once

#include "MonitorLog.h"

#include <windows.h>

#include <string>

namespace orvin::monitor {

constexpr LPARAM kEngineAnnouncement = 0;
constexpr LPARAM kMonitorAnnouncement = 1;
constexpr LPARAM kRegistryChanges = 2;
constexpr LPARAM kAgentShutdown = 8;

class MonitorWindow {
public:
    // engineProcess: when not empty, only announcements from windows of a process with
    // this image name are answered and make the engine known.
    MonitorWindow(MonitorLog& log, const std::string& engineProcess);

    bool Create(bool hide);
    void Destroy();
    bool Closed() const { return m_bClosed; }

    // The monitor's announcement, to every top-level window.
    void Announce() { Broadcast(kMonitorAnnouncement); }

    // A command to the engine that announced itself last, or to all when none did; false
    // when the known engine did not take it.
    bool SendCommand(LPARAM command);

    // Runs the window's messages until an engine is known; false after ms without one.
    bool WaitEngine(DWORD ms);

    // Runs the window's messages until done() holds (true), ms pass (false) or the window
    // is closed (false). wake, when given, also ends a wait so that done() is asked again.
    template <class Done> bool Pump(DWORD ms, Done done, HANDLE wake = nullptr) {
        ULONGLONG deadline = GetTickCount64() + ms;
        for (;;) {
            bool open = RunWaitingMessages();
            if (done()) {
                return true;
            }
            if (!open) {
                return false;
            }
            DWORD wait = INFINITE;
            if (ms != INFINITE) {
                ULONGLONG now = GetTickCount64();
                if (now >= deadline) {
                    return false;
                }
                wait = (DWORD)(deadline - now);
            }
            MsgWaitForMultipleObjectsEx(wake ? 1 : 0, wake ? &wake : nullptr, wait, QS_ALLINPUT,
                                        MWMO_INPUTAVAILABLE);
        }
    }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Dispatches what the queue holds; false once the window is closed.
    bool RunWaitingMessages();
    void OnChannelMessage(WPARAM wParam, LPARAM lParam);
    bool SendTo(HWND target, LPARAM command);
    void Broadcast(LPARAM command);

    MonitorLog& m_log;
    std::string m_engineProcess;
    HWND m_hWnd = nullptr;
    UINT m_uChannelMessage = 0;
    HWND m_hEngine = nullptr; // the engine that announced itself last
    bool m_bClosed = false;
};

} // namespace orvin::monitor
