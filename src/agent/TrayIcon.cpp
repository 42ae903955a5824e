#include "agent/TrayIcon.h"

namespace {

CTrayIcon::NotifyFunction g_notify = Shell_NotifyIconW;

std::wstring Wide(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), nullptr, 0);
    std::wstring wide((size_t)(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.data(), (int)text.size(), &wide[0], length);
    }
    return wide;
}

} // namespace

void CTrayIcon::SetNotifyFunction(NotifyFunction notify) {
    g_notify = notify ? notify : Shell_NotifyIconW;
}

UINT CTrayIcon::TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

void CTrayIcon::Attach(HWND owner, UINT callbackMessage) {
    m_hOwner = owner;
    m_uCallbackMessage = callbackMessage;
}

bool CTrayIcon::Notify(DWORD message) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = m_hOwner;
    data.uID = kIconId;
    if (message != NIM_DELETE) {
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        data.uCallbackMessage = m_uCallbackMessage;
        data.hIcon = m_hIcon;
        lstrcpynW(data.szTip, m_Tooltip.c_str(), ARRAYSIZE(data.szTip));
    }
    return g_notify(message, &data) != FALSE;
}

void CTrayIcon::Show(HICON icon, const std::string& tooltip) {
    if (!m_hOwner) {
        return;
    }
    std::wstring wide = Wide(tooltip);
    if (wide.size() >= ARRAYSIZE(NOTIFYICONDATAW{}.szTip)) {
        wide.resize(ARRAYSIZE(NOTIFYICONDATAW{}.szTip) - 1);
    }
    const bool changed = icon != m_hIcon || wide != m_Tooltip;
    m_hIcon = icon;
    m_Tooltip = std::move(wide);
    m_bWanted = true;
    if (!m_bAdded) {
        m_bAdded = Notify(NIM_ADD);
    } else if (changed && !Notify(NIM_MODIFY)) {
        // The shell lost it (Explorer ended without telling us yet): add it again.
        m_bAdded = Notify(NIM_ADD);
    }
}

void CTrayIcon::Recreate() {
    if (m_bWanted) {
        m_bAdded = Notify(NIM_ADD);
    }
}

void CTrayIcon::Remove() {
    if (m_bAdded) {
        Notify(NIM_DELETE);
    }
    m_bAdded = false;
    m_bWanted = false;
}
