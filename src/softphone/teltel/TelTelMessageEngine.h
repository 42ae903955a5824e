// CTelTelMessageEngine: the TelTel client's window. TelTel has no window-message API of
// its own: the library is given this window at its registration, and every message the
// window gets is passed on to the library (TelTel_WndProc). The client's readiness poll
// runs on its timer 16.
//
// Threads: GUI thread only.
#pragma once

#include "softphone/MessageEngine.h"

class CTelTelApiClient;

class CTelTelMessageEngine : public CMessageEngine {
public:
    static constexpr UINT_PTR kPollTimer = 16;
    static constexpr UINT kPollMs = 2000;

    explicit CTelTelMessageEngine(CTelTelApiClient* client) : m_pTelTelClient(client) {}

    // Every message goes to TelTel_WndProc.
    void OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Nothing goes to TelTel as window messages.
    LRESULT DispatchMessageToApiServer(COPYDATASTRUCT* data) override { return 0; }
    // Timer 16: the client's readiness poll.
    void OnTimer(UINT_PTR id) override;

protected:
    const char* WindowClassName() const override { return "OrvinTelTelMessageEngine"; }

private:
    CTelTelApiClient* m_pTelTelClient;
};
