#include "softphone/MessageEngine.h"

#include "base/trace/Trace.h"
#include "softphone/AgentLinks.h"
#include "softphone/OrvinApiClient.h"

namespace {

const char* const kWindowTitle = "MessageOnlyWindowTitle";

} // namespace

CMessageEngine::CMessageEngine() {
    m_uAppChannelMessage = RegisterWindowMessageA("WM_APP_MESSAGE_CHANNEL");
}

CMessageEngine::~CMessageEngine() {
    if (m_hWnd) {
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
}

bool CMessageEngine::Create(COrvinApiClient* client) {
    m_pClient = client;
    m_WindowClassName = WindowClassName();
    WNDCLASSA windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = StaticWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = m_WindowClassName.c_str();
    if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        TRACE("CMessageEngine: ERROR: Can not register window class %s (Err=%d)", m_WindowClassName.c_str(),
              (int)GetLastError());
        return false;
    }
    TRACE("CMessageEngine>>> Name %s, Class %s", kWindowTitle, m_WindowClassName.c_str());
    m_hWnd = CreateWindowExA(0, m_WindowClassName.c_str(), kWindowTitle, 0, 0, 0, 0, 0, nullptr, nullptr,
                             GetModuleHandleA(nullptr), this);
    if (!m_hWnd) {
        TRACE("CMessageEngine: ERROR: Can not create window (Err=%d)", (int)GetLastError());
        return false;
    }
    Announce();
    return true;
}

void CMessageEngine::Announce() {
    if (m_pClient) {
        m_pClient->NotifyMonitor(0, (WPARAM)m_hWnd);
        return;
    }
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(HWND_BROADCAST, m_uAppChannelMessage, (WPARAM)m_hWnd, 0,
                        SMTO_ABORTIFHUNG | SMTO_NORMAL, 2000, &ignored);
}

bool CMessageEngine::SetTimer(UINT_PTR id, UINT elapse) {
    if (!m_hWnd) {
        return false;
    }
    ::KillTimer(m_hWnd, id);
    return ::SetTimer(m_hWnd, id, elapse, nullptr) != 0;
}

void CMessageEngine::KillTimer(UINT_PTR id) {
    if (m_hWnd) {
        ::KillTimer(m_hWnd, id);
    }
}

bool CMessageEngine::SendCopyData(HWND window, COPYDATASTRUCT* data, DWORD_PTR* result) const {
    *result = 0;
    return SendMessageTimeoutA(window, WM_COPYDATA, (WPARAM)m_hWnd, (LPARAM)data,
                               SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, result) != 0;
}

LRESULT CALLBACK CMessageEngine::StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        // The one message the default procedure must see: it stores the window's title.
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)create->lpCreateParams);
        return DefWindowProcA(window, message, wParam, lParam);
    }
    auto* engine = reinterpret_cast<CMessageEngine*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!engine || !engine->m_pClient) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return engine->WindowProc(message, wParam, lParam);
}

void CMessageEngine::OnChannelCommand(WPARAM wParam, LPARAM lParam) {
    m_LastChannelCommand = lParam;
    switch (lParam) {
    case 1:
        m_hMonitorWindow = reinterpret_cast<HWND>(wParam);
        m_pClient->SetMonitorWindow(m_hMonitorWindow);
        TRACE("CMessageEngine: monitor window 0x%p", (void*)m_hMonitorWindow);
        break;
    case 2:
        TRACE("CMessageEngine: MonitorNotifyRegistryChanges");
        m_pClient->ReloadConfiguration();
        break;
    case 8:
        TRACE("CMessageEngine: MonitorNotifyAgentShutdown");
        PostQuitMessage(0);
        break;
    default:
        break;
    }
}

LRESULT CMessageEngine::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == m_uAppChannelMessage) {
        OnChannelCommand(wParam, lParam);
    } else if (message == WM_COPYDATA) {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data) {
            m_pClient->OnApiServerMessage(data);
        }
    } else if (message == WM_TIMER) {
        OnTimer(wParam);
    } else if (message == WM_POWERBROADCAST) {
        TRACE("CMessageEngine::WindowProc - WM_POWERBROADCAST %04X", (unsigned)wParam);
        const LRESULT result = m_pClient->OnPowerManagementNotification(wParam);
        TRACE("CMessageEngine::WindowProc - pClient->OnPowerManagementNotification() returned %04X",
              (unsigned)result);
        if (result == BROADCAST_QUERY_DENY) {
            MessageBoxA(nullptr, TranslatedText(91, "Active session - Power state change request denied !"),
                        "OrvinAgent", MB_SYSTEMMODAL | MB_OK);
            return BROADCAST_QUERY_DENY;
        }
    }
    OnAttachMessage(message, wParam, lParam);
    return 1;
}
