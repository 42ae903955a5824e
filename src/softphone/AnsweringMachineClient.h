// CAnsweringMachineClient: the client used when no softphone is driven, only the adapter's
// answering machine. Its softphone side is always "attached and ready" (flags 0x0D, kept
// across the adapter's detach); on each adapter attach it tells the service which
// answering-machine variant runs (NotifyAgentStatus 6 or 7) and that the agent is
// connected (NotifyAgentStatus 1).
// Its message engine has no softphone to talk to; it is there for the system's standby
// queries and the monitor program's commands.
#pragma once

#include "softphone/MessageEngine.h"
#include "softphone/OrvinApiClient.h"

#include <memory>

class CAnsweringMachineEngine : public CMessageEngine {
public:
    void OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) override {}
    LRESULT DispatchMessageToApiServer(COPYDATASTRUCT* data) override { return 0; }
};

class CAnsweringMachineClient : public COrvinApiClient {
public:
    explicit CAnsweringMachineClient(int variant);

    void ConnectToApiServer() override {}
    void OnVoipAdapterAttach() override;
    // The base clears the softphone flags with the adapter; this client has no softphone to
    // attach again, so they stay: after the adapter's return the flags are 0x0F again.
    void OnVoipAdapterDetach() override;

    int Variant() const { return m_nVariant; }

private:
    int m_nVariant; // 0 or 1
    std::unique_ptr<CAnsweringMachineEngine> m_pEngine;
};
