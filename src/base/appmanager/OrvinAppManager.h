// OrvinAppManager: how the adapter maker's desktop programs, each known by a small
// application ID, find one another, tell whether one of them runs, and ask one to shut down.
// The agent is application 2; an installer is a typical sender of the shutdown command.
//
// A program that takes part owns one hidden top-level window of the class
// "OrvinAppManagerWindow" titled "OrvinDeviceMessageReceiver:N" and a named mutex of the same
// name, held for its whole run (N: its ID in decimal). The shutdown command is the registered
// message "WM_APP_MESSAGE_CHANNEL" sent to the target's hidden window with wParam = the
// sender's ID and lParam = 768; a receiver looks only at bits 8 to 15 of lParam (3).
// On receipt the manager tells its notification sink (768, sender), signals the shutdown
// event that WaitForShutdown waits on, and posts WM_QUIT unless the owner cleared
// QuitOnShutdown.
//
// A process has one manager (GetInstance / DestroyInstance).
//
// Threads. GetInstance and DestroyInstance may be called from any thread; everything else
// belongs to the thread that called SetParentID first (the GUI thread), which owns the
// hidden window, and DestroyInstance must run there too once the window exists. The
// window procedure runs on that thread through its message loop, or inside this class's
// own waits: WaitForShutdown, and the synchronous send and the waits of ShutdownApp, go on
// handling the messages other threads and processes send to the thread's windows, so a
// sender is never stalled by a program that is itself waiting, and a command sent while
// WaitForShutdown waits on the window's own thread is seen.
#pragma once

#include <windows.h>

#include <map>
#include <vector>

// What the owner of the manager hears: code 768 when another program asks this one to shut
// down, with that program's application ID. Called on the hidden window's thread.
class COrvinAppManagerSink {
public:
    virtual ~COrvinAppManagerSink() = default;
    virtual void OnOrvinAppManagerNotication(int nCode, int nSenderId) = 0;
};

class OrvinAppManager {
public:
    static constexpr const char* kWindowClass = "OrvinAppManagerWindow";
    static constexpr const char* kTitleName = "OrvinDeviceMessageReceiver";
    static constexpr const char* kChannelMessage = "WM_APP_MESSAGE_CHANNEL";
    static constexpr int kShutdownCommand = 0x300; // 768: bits 8 to 15 are the command, 3
    static constexpr int kShutdownWaits = 81;      // of kShutdownWaitMs each: about 40 s
    static constexpr DWORD kShutdownWaitMs = 500;
    // A receiver that does not answer within this time does not hold the sender any longer;
    // the waits that follow still see whether it ends.
    static constexpr DWORD kSendTimeoutMs = 5000;

    // Made on first use; null when memory fails.
    static OrvinAppManager* GetInstance();
    static void DestroyInstance();

    OrvinAppManager(const OrvinAppManager&) = delete;
    OrvinAppManager& operator=(const OrvinAppManager&) = delete;
    virtual ~OrvinAppManager();

    // The first call makes the hidden window and takes the mutex of this ID. A later call
    // with another ID renames the window and takes that ID's mutex instead, so the window,
    // the mutex and the ID never disagree.
    void SetParentID(int nId);
    int GetParentID() const { return m_nAppId; }
    void SetNotificationSink(COrvinAppManagerSink* pSink) { m_pSink = pSink; }

    // False when another process held this ID's mutex when this one took it.
    bool IsFirstInstance() const { return m_bIsFirstInstance; }
    HWND GetWindow() const { return m_hWnd; }

    bool IsAppRunning(int nId);
    // True when a shutdown command arrived within the time (or had arrived unseen before).
    bool WaitForShutdown(DWORD dwMilliseconds);
    // Sends the shutdown command and waits up to about 40 s for the program to end. True
    // when it no longer runs at the end (also when it was not running at all).
    bool ShutdownApp(int nId);
    // One program (nId != 0) or every other program found, in ascending ID order. True when
    // every one of them ended.
    bool ShutdownAllApps(int nId);
    // Passes over the top-level windows and returns the IDs of the other programs found.
    std::vector<int> FindRunningApps();

    // Set by the owner: nonzero posts WM_QUIT on a shutdown command; the agent clears it
    // and ends its dialog from its sink instead.
    BOOL QuitOnShutdown = TRUE;

private:
    OrvinAppManager();

    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    void CreateHiddenWindow();
    void TakeInstanceMutex();
    void FindApps();
    static BOOL CALLBACK FindAppsProc(HWND hWnd, LPARAM lParam);
    HWND WindowOf(int nId) const;
    void MakeName(int nId, char* szName, size_t cbName) const;

    std::map<int, HWND> m_Apps; // other programs: ID -> hidden window, rebuilt on demand
    HWND m_hWnd = nullptr;
    UINT m_uChannelMessage = 0;
    int m_nAppId = 0;
    COrvinAppManagerSink* m_pSink = nullptr;
    HANDLE m_hShutdownEvent = nullptr; // auto-reset
    HANDLE m_hMutex = nullptr;
    bool m_bIsFirstInstance = true;
    bool m_bClassRegistered = false;
};
