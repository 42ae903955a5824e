// CEyebeamMessageEngine: the EyeBeam client's window on EyeBeam's API. It registers
// "m_WM_EYEBEAM_API_REGISTER" and "m_WM_EYEBEAM_API_AVAILABLE"; to discover EyeBeam it
// sends the register message to every top-level window with its own window as the first
// parameter and 0 as the second. EyeBeam answers (or announces itself) with the register
// message carrying its window and 1, and says goodbye with 0 (only the EyeBeam window it
// knows: with 0 from another window the message is that window's discover); "API
// available" starts the discovery again. The engine's own broadcast comes back to it and
// is ignored. Records go to EyeBeam's window as WM_COPYDATA (EyebeamRecord.h), sent with
// a time-out (SendCopyData): a hung EyeBeam does not hold the agent.
//
// Threads: GUI thread only.
#pragma once

#include "softphone/MessageEngine.h"

class CEyebeamApiClient;

class CEyebeamMessageEngine : public CMessageEngine {
public:
    // How long the discover broadcast waits for one window, so that a hung window elsewhere
    // on the desktop cannot hold the agent.
    static constexpr UINT kBroadcastTimeoutMs = 2000;

    explicit CEyebeamMessageEngine(CEyebeamApiClient* client);

    int DiscoverApiServer() override;
    void OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DispatchMessageToApiServer(COPYDATASTRUCT* data) override {
        return DispatchMessageToEyeBeam(data);
    }
    void Detach() override {}

    LRESULT DispatchMessageToEyeBeam(COPYDATASTRUCT* data);
    HWND EyeBeamWindow() const { return m_hSoftphoneWindow; }
    UINT RegisterMessage() const { return m_uRegisterMessage; }
    UINT AvailableMessage() const { return m_uAvailableMessage; }

protected:
    const char* WindowClassName() const override { return "OrvinEyebeamMessageEngine"; }

private:
    CEyebeamApiClient* m_pEyebeamClient;
    UINT m_uRegisterMessage = 0;
    UINT m_uAvailableMessage = 0;
};
