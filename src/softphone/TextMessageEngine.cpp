#include "softphone/TextMessageEngine.h"

#include "base/trace/Trace.h"
#include "softphone/TextApiClient.h"

CTextMessageEngine::CTextMessageEngine(CTextApiClient* client, const TextEngineProfile& profile)
    : m_pTextClient(client), m_Profile(profile) {
    m_uDiscoverMessage = RegisterWindowMessageA(profile.discoverMessage);
    m_uAttachMessage = RegisterWindowMessageA(profile.attachMessage);
}

int CTextMessageEngine::DiscoverApiServer() {
    if (m_Profile.sendDiscoverToAll) {
        // Sent, so that a softphone that answers at once has answered when this returns; a
        // window that hangs is passed over instead of holding the agent.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(HWND_BROADCAST, m_uDiscoverMessage, (WPARAM)m_hWnd, 0,
                            SMTO_NORMAL | SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
        return 1;
    }
    if (m_hApiWindow) {
        TRACE("%s::DiscoverApiServer: Already discovered!", m_Profile.engineName);
        return 0;
    }
    if (!IsWindow(m_hWnd)) {
        TRACE("%s::DiscoverApiServer: Not a window!", m_Profile.engineName);
        return 0;
    }
    return PostMessageA(HWND_BROADCAST, m_uDiscoverMessage, (WPARAM)m_hWnd, 0) ? 1 : 0;
}

void CTextMessageEngine::OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!m_pTextClient) {
        return;
    }
    if (message == m_uAttachMessage) {
        OnAttachStatus(reinterpret_cast<HWND>(wParam), (uint32_t)lParam);
        return;
    }
    if (message == m_uDiscoverMessage && m_Profile.foreignDiscoverRediscovers &&
        reinterpret_cast<HWND>(wParam) != m_hWnd) {
        for (size_t i = 0; i < m_Profile.attachRowCount; ++i) {
            if (m_Profile.attachRows[i].action == TextAttachRow::kRediscover) {
                OnAttachStatus(nullptr, m_Profile.attachRows[i].status);
                return;
            }
        }
    }
}

void CTextMessageEngine::OnAttachStatus(HWND window, uint32_t status) {
    const TextAttachRow* row = nullptr;
    for (size_t i = 0; i < m_Profile.attachRowCount && !row; ++i) {
        if (m_Profile.attachRows[i].status == status) {
            row = &m_Profile.attachRows[i];
        }
    }
    if (!row) {
        return; // other statuses are ignored
    }
    switch (row->action) {
    case TextAttachRow::kAttached:
        m_hApiWindow = window;
        if (window) {
            if (row->trace) {
                TRACE("%s", row->trace);
            }
            m_pTextClient->OnApiServerAttached();
            SetTimer(kPingTimer, kPingMs);
        }
        return;
    case TextAttachRow::kTraceOnly:
        if (row->trace) {
            TRACE("%s", row->trace);
        }
        break;
    case TextAttachRow::kDetach:
        if (row->traceFirst && row->trace) {
            TRACE("%s", row->trace);
        }
        m_pTextClient->OnApiServerDetached();
        if (row->forgetWindow) {
            m_hApiWindow = nullptr;
        }
        if (!row->traceFirst && row->trace) {
            TRACE("%s", row->trace);
        }
        return;
    case TextAttachRow::kRediscover:
        if (row->trace) {
            TRACE("%s", row->trace);
        }
        if (row->forgetWindow) {
            m_hApiWindow = nullptr;
        }
        DiscoverApiServer();
        return;
    }
    if (row->forgetWindow) {
        m_hApiWindow = nullptr;
    }
}

LRESULT CTextMessageEngine::DispatchText(COPYDATASTRUCT* data) {
    HWND phone = m_hApiWindow;
    if (!phone || !data) {
        return 0;
    }
    // A hung softphone must not hang the agent: its absence shows later (the pings).
    DWORD_PTR result = 0;
    if (!SendCopyData(phone, data, &result)) {
        TRACE("%s: %s did not take the message (Err=%d)", m_Profile.dispatchName, m_Profile.softphoneName,
              (int)GetLastError());
        return 0;
    }
    TRACE_LEVEL(1, "%s returned - %x", m_Profile.dispatchName, (unsigned)result);
    return (LRESULT)result;
}

void CTextMessageEngine::OnTimer(UINT_PTR id) {
    if (m_pTextClient) {
        m_pTextClient->OnClientTimer(id);
    }
}

void CTextMessageEngine::Detach() {
    KillTimer(kPingTimer);
    m_hApiWindow = nullptr;
}
