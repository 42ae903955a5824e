#include "softphone/teltel/TelTelMessageEngine.h"

#include "softphone/teltel/TelTelApiClient.h"

void CTelTelMessageEngine::OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pTelTelClient && m_pTelTelClient->Wrapper()) {
        m_pTelTelClient->Wrapper()->WndProc(message, wParam, lParam);
    }
}

void CTelTelMessageEngine::OnTimer(UINT_PTR id) {
    if (id == kPollTimer && m_pTelTelClient) {
        m_pTelTelClient->Ping();
    }
}
