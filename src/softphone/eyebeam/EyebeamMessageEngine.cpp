#include "softphone/eyebeam/EyebeamMessageEngine.h"

#include "base/trace/Trace.h"
#include "softphone/eyebeam/EyebeamApiClient.h"

CEyebeamMessageEngine::CEyebeamMessageEngine(CEyebeamApiClient* client) : m_pEyebeamClient(client) {
    m_uRegisterMessage = RegisterWindowMessageA("m_WM_EYEBEAM_API_REGISTER");
    m_uAvailableMessage = RegisterWindowMessageA("m_WM_EYEBEAM_API_AVAILABLE");
}

int CEyebeamMessageEngine::DiscoverApiServer() {
    if (!IsWindow(m_hWnd)) {
        return 0;
    }
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(HWND_BROADCAST, m_uRegisterMessage, (WPARAM)m_hWnd, 0,
                               SMTO_ABORTIFHUNG | SMTO_NORMAL, kBroadcastTimeoutMs, &ignored)
               ? 1
               : 0;
}

void CEyebeamMessageEngine::OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!m_pEyebeamClient) {
        return;
    }
    if (message == m_uRegisterMessage) {
        HWND from = reinterpret_cast<HWND>(wParam);
        if (from == m_hWnd) {
            return; // our own broadcast
        }
        if (lParam == 1) {
            m_hSoftphoneWindow = from;
            m_pEyebeamClient->OnApiServerAttached();
        } else if (lParam == 0 && from && from == m_hSoftphoneWindow) {
            // Only the EyeBeam we know says goodbye: the same message with 0 from any other
            // window is its discover broadcast (another agent's, say), not EyeBeam leaving.
            m_hSoftphoneWindow = nullptr;
            m_pEyebeamClient->OnApiServerDetached();
        }
    } else if (message == m_uAvailableMessage) {
        TRACE("!!! Try connect now (API available)\n");
        DiscoverApiServer();
    }
}

LRESULT CEyebeamMessageEngine::DispatchMessageToEyeBeam(COPYDATASTRUCT* data) {
    if (!m_hSoftphoneWindow || !data) {
        return 0;
    }
    DWORD_PTR result = 0;
    if (!SendCopyData(m_hSoftphoneWindow, data, &result)) {
        TRACE("DispatchMessage To Eye Beam: EyeBeam did not take the message (Err=%d)\n",
              (int)GetLastError());
        return 0;
    }
    TRACE_LEVEL(1, "DispatchMessage To Eye Beam returned - 0x%x\n", (unsigned)result);
    return (LRESULT)result;
}
