#include "softphone/skype/SkypeMessageEngine.h"

#include "base/trace/Trace.h"
#include "softphone/skype/SkypeApiClient.h"

CSkypeMessageEngine::CSkypeMessageEngine(CSkypeApiClient* client) : m_pSkypeClient(client) {
    m_uDiscoverMessage = RegisterWindowMessageA("SkypeControlAPIDiscover");
    m_uAttachMessage = RegisterWindowMessageA("SkypeControlAPIAttach");
}

int CSkypeMessageEngine::DiscoverApiServer() {
    if (m_hSkypeApiWindow) {
        TRACE("CSkypeMessageEngine::DiscoverApiServer: Already discovered!");
        return 0;
    }
    if (!IsWindow(m_hWnd)) {
        TRACE("CSkypeMessageEngine::DiscoverApiServer: Not a window!");
        return 0;
    }
    return PostMessageA(HWND_BROADCAST, m_uDiscoverMessage, (WPARAM)m_hWnd, 0) ? 1 : 0;
}

void CSkypeMessageEngine::OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != m_uAttachMessage || !m_pSkypeClient) {
        return;
    }
    switch (lParam) {
    case 0:
        m_hSkypeApiWindow = reinterpret_cast<HWND>(wParam);
        if (m_hSkypeApiWindow) {
            TRACE("API server connected!\n");
            m_pSkypeClient->OnApiServerAttached();
            SetTimer(kPingTimer, kPingMs);
        }
        break;
    case 1:
        TRACE("!!! Pending authorization\n");
        m_hSkypeApiWindow = nullptr;
        break;
    case 2:
        TRACE("!!! Connection refused\n");
        m_hSkypeApiWindow = nullptr;
        break;
    case 3:
        m_pSkypeClient->OnApiServerDetached();
        m_hSkypeApiWindow = nullptr;
        TRACE("!!! Skype API not available\n");
        break;
    case 0x8001:
        TRACE("!!! Try connect now (API available)\n");
        m_hSkypeApiWindow = nullptr;
        DiscoverApiServer();
        break;
    default:
        break;
    }
}

LRESULT CSkypeMessageEngine::DispatchMessageToSkype(COPYDATASTRUCT* data) {
    HWND skype = m_hSkypeApiWindow;
    if (!skype || !data) {
        return 0;
    }
    // A hung Skype must not hang the agent: the send gives up after a while (at once when
    // the system already knows Skype hangs), and the next pings find Skype gone. Messages
    // sent to this thread meanwhile are still taken (Skype's answers among them).
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(skype, WM_COPYDATA, (WPARAM)m_hWnd, (LPARAM)data, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                             kSendTimeoutMs, &result)) {
        TRACE("DispatchMessageToSkype: Skype did not take the message (Err=%d)", (int)GetLastError());
        return 0;
    }
    TRACE_LEVEL(1, "DispatchMessageToSkype returned - %x", (unsigned)result);
    return (LRESULT)result;
}

void CSkypeMessageEngine::OnTimer(UINT_PTR id) {
    if (m_pSkypeClient) {
        m_pSkypeClient->OnClientTimer(id);
    }
}

void CSkypeMessageEngine::Detach() {
    KillTimer(kPingTimer);
    m_hSkypeApiWindow = nullptr;
}
