// CSkypeMessageEngine: the Skype client's window on the Skype desktop API. It broadcasts
// the registered "SkypeControlAPIDiscover" message with its own window, takes Skype's
// "SkypeControlAPIAttach" answer (the API window and an attach status), and exchanges one
// command or notification per WM_COPYDATA with the API window. The client's timers run on
// this window; their ticks go to the client's OnClientTimer.
//
// Attach status: 0 attached, 1 pending authorisation, 2 refused, 3 not available,
// 0x8001 available again (a new discover follows at once).
//
// Commands go by SendMessageTimeout (at most kSendTimeoutMs, not at all to a Skype the
// system knows to hang), so a hung Skype cannot freeze the agent; Skype's notifications
// sent meanwhile are handled inside the wait, as with SendMessage.
//
// Threads: GUI thread, except DispatchMessageToApiServer, which the audio-device search
// thread may also call (a synchronous send of a record of its own).
#pragma once

#include "softphone/MessageEngine.h"

#include <atomic>

class CSkypeApiClient;

class CSkypeMessageEngine : public CMessageEngine {
public:
    static constexpr UINT_PTR kPingTimer = 16;
    static constexpr UINT kPingMs = 10000;
    static constexpr UINT kSendTimeoutMs = 5000; // the longest a command waits for Skype

    explicit CSkypeMessageEngine(CSkypeApiClient* client);

    int DiscoverApiServer() override;
    void OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DispatchMessageToApiServer(COPYDATASTRUCT* data) override { return DispatchMessageToSkype(data); }
    void OnTimer(UINT_PTR id) override;
    void Detach() override;

    LRESULT DispatchMessageToSkype(COPYDATASTRUCT* data);
    HWND SkypeApiWindow() const { return m_hSkypeApiWindow; }
    UINT DiscoverMessage() const { return m_uDiscoverMessage; }
    UINT AttachMessage() const { return m_uAttachMessage; }

protected:
    const char* WindowClassName() const override { return "OrvinSkypeMessageEngine"; }

private:
    CSkypeApiClient* m_pSkypeClient;
    UINT m_uDiscoverMessage = 0;
    UINT m_uAttachMessage = 0;
    std::atomic<HWND> m_hSkypeApiWindow{nullptr};
};
