// CMessageEngine: a hidden top-level window that gives an API client a place to receive
// window messages on the GUI thread. Softphones with a window-message API answer it with
// WM_COPYDATA and registered messages; the system sends it power broadcasts; the monitor
// program talks to it with the registered message "WM_APP_MESSAGE_CHANNEL":
//   lParam 0  the engine's own announcement (wParam = its window); ignored on receipt
//   lParam 1  wParam is the monitor program's window: later notifications go to it
//   lParam 2  "MonitorNotifyRegistryChanges": the client reloads its configuration
//   lParam 8  "MonitorNotifyAgentShutdown": the GUI message loop quits, the agent ends
// Each softphone's engine derives from it and adds its attach protocol and its outgoing
// dispatch. The window has no parent, so broadcasts reach it.
//
// Records go to a softphone by SendCopyData: a SendMessageTimeout that gives up after
// kSendTimeoutMs (at once where the system knows the window hangs), so that a hung
// softphone can not hold this thread, which also carries every adapter event and the
// monitor's shutdown. Messages sent to this thread meanwhile are still taken (the
// softphone's answers among them), as with SendMessage.
//
// Threads: GUI thread only, except SendCopyData, which a client's own threads may call.
#pragma once

#include <windows.h>

#include <string>

class COrvinApiClient;

class CMessageEngine {
public:
    static constexpr UINT kSendTimeoutMs = 5000; // the longest a record waits for the softphone

    CMessageEngine();
    virtual ~CMessageEngine();
    CMessageEngine(const CMessageEngine&) = delete;
    CMessageEngine& operator=(const CMessageEngine&) = delete;

    // Slots after the window's own.
    virtual int DiscoverApiServer() { return 0; }
    virtual void OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    virtual LRESULT DispatchMessageToApiServer(COPYDATASTRUCT* data) = 0;
    virtual CMessageEngine* Self() { return this; }
    virtual void OnTimer(UINT_PTR id) {}
    virtual void Detach() {}

    // Registers the window class, creates the window and announces it. False when the
    // window could not be made.
    bool Create(COrvinApiClient* client);
    void Announce();
    bool SetTimer(UINT_PTR id, UINT elapse);
    void KillTimer(UINT_PTR id);
    // One WM_COPYDATA to `window` with this engine's window as the sender. False when it
    // did not take it in time (or hangs); *result is its answer otherwise.
    bool SendCopyData(HWND window, COPYDATASTRUCT* data, DWORD_PTR* result) const;

    HWND Window() const { return m_hWnd; }
    COrvinApiClient* Client() const { return m_pClient; }
    HWND SoftphoneWindow() const { return m_hSoftphoneWindow; }
    HWND MonitorWindow() const { return m_hMonitorWindow; }
    LPARAM LastChannelCommand() const { return m_LastChannelCommand; }

protected:
    // The window class each engine registers; the base's unless a subclass names its own.
    virtual const char* WindowClassName() const { return "OrvinMessageEngine"; }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    COrvinApiClient* m_pClient = nullptr;
    std::string m_WindowClassName;
    HWND m_hSoftphoneWindow = nullptr;
    HWND m_hMonitorWindow = nullptr;
    UINT m_uAppChannelMessage = 0;
    LPARAM m_LastChannelCommand = 0;
    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void OnChannelCommand(WPARAM wParam, LPARAM lParam);
};
