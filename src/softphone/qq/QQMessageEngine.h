// CQQMessageEngine: the QQ client's window on QQ's API. It registers "WM_QQAPI_REGISTER",
// "WM_QQAPI_REGISTER_RESP" and "WM_QQAPI_AVAILABLE". To discover QQ it sends the register
// message to every top-level window with its own window as the first parameter and 100 as
// the second; QQ answers with the response message carrying 2 and its window, and "API
// available" starts the discovery again. Events and their items go to QQ's window as
// WM_COPYDATA (QQItems.h), sent with a time-out (SendCopyData): a hung QQ does not hold
// the agent. The client's timers run on this window: timer 80 points QQ's
// audio at the adapter half a second after the connection.
//
// Threads: GUI thread only.
#pragma once

#include "softphone/MessageEngine.h"

class QQApiClient;

class CQQMessageEngine : public CMessageEngine {
public:
    static constexpr UINT_PTR kSelectAudioTimer = 80;
    static constexpr UINT kSelectAudioMs = 500;
    static constexpr UINT kDiscoverParameter = 100;
    static constexpr WPARAM kRegisteredParameter = 2;
    // How long the discover broadcast waits for one window, so that a hung window elsewhere
    // on the desktop cannot hold the agent.
    static constexpr UINT kBroadcastTimeoutMs = 2000;

    explicit CQQMessageEngine(QQApiClient* client);

    int DiscoverApiServer() override;
    void OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DispatchMessageToApiServer(COPYDATASTRUCT* data) override { return DispatchMessageToQQ(data); }
    void OnTimer(UINT_PTR id) override;
    // Forgets QQ's window: nothing more goes to it.
    void Detach() override { m_hSoftphoneWindow = nullptr; }

    LRESULT DispatchMessageToQQ(COPYDATASTRUCT* data);
    HWND QQWindow() const { return m_hSoftphoneWindow; }

protected:
    const char* WindowClassName() const override { return "OrvinQQMessageEngine"; }

private:
    QQApiClient* m_pQQClient;
    UINT m_uRegisterMessage = 0;
    UINT m_uResponseMessage = 0;
    UINT m_uAvailableMessage = 0;
};
