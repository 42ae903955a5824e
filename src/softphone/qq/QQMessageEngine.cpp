#include "softphone/qq/QQMessageEngine.h"

#include "base/trace/Trace.h"
#include "softphone/qq/QQApiClient.h"

CQQMessageEngine::CQQMessageEngine(QQApiClient* client) : m_pQQClient(client) {
    m_uRegisterMessage = RegisterWindowMessageA("WM_QQAPI_REGISTER");
    m_uResponseMessage = RegisterWindowMessageA("WM_QQAPI_REGISTER_RESP");
    m_uAvailableMessage = RegisterWindowMessageA("WM_QQAPI_AVAILABLE");
}

int CQQMessageEngine::DiscoverApiServer() {
    if (!IsWindow(m_hWnd)) {
        return 0;
    }
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(HWND_BROADCAST, m_uRegisterMessage, (WPARAM)m_hWnd, kDiscoverParameter,
                               SMTO_ABORTIFHUNG | SMTO_NORMAL, kBroadcastTimeoutMs, &ignored)
               ? 1
               : 0;
}

void CQQMessageEngine::OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!m_pQQClient) {
        return;
    }
    if (message == m_uResponseMessage) {
        if (wParam == kRegisteredParameter) {
            m_hSoftphoneWindow = reinterpret_cast<HWND>(lParam);
            m_pQQClient->OnApiServerAttached();
        }
    } else if (message == m_uAvailableMessage) {
        TRACE("!!! Try connect now (API available)\n");
        DiscoverApiServer();
    }
}

LRESULT CQQMessageEngine::DispatchMessageToQQ(COPYDATASTRUCT* data) {
    if (!m_hSoftphoneWindow || !data) {
        return 0;
    }
    DWORD_PTR result = 0;
    if (!SendCopyData(m_hSoftphoneWindow, data, &result)) {
        TRACE("DispatchMessageToQQ: QQ did not take the message (Err=%d)\n", (int)GetLastError());
        return 0;
    }
    TRACE_LEVEL(1, "DispatchMessageToQQ returned - 0x%x\n", (unsigned)result);
    return (LRESULT)result;
}

void CQQMessageEngine::OnTimer(UINT_PTR id) {
    TRACE("CQQMessageEngine::OnTimer(), Id=%d\n", (int)id);
    if (id == kSelectAudioTimer && m_pQQClient) {
        m_pQQClient->SelectAudioDevices(true);
        KillTimer(kSelectAudioTimer);
    }
}
