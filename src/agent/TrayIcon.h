// CTrayIcon: the agent's icon in the notification area. It shows the main dialog's status
// icon with its tooltip, follows them as they change, and has the shell deliver the
// icon's mouse messages to the dialog as the registered "TBHide tray notification"
// message (lParam the mouse message), where the tray menu and the double-click live. The
// dialog's window exists for the whole run, shown or not, so the icon works either way.
//
// The shell forgets every icon when Explorer restarts and then broadcasts the registered
// "TaskbarCreated" message: Recreate adds the icon again. An icon that could not be added
// (no notification area yet, early at logon) is tried again at the next change and on
// "TaskbarCreated". Remove takes it away; the dialog does so when its window goes, and the
// destructor does if it has not.
//
// Threads: the dialog's (GUI) thread.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

class CTrayIcon {
public:
    // The shell's entry (Shell_NotifyIconW); a test gives its own.
    using NotifyFunction = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);
    static void SetNotifyFunction(NotifyFunction notify);
    static constexpr UINT kIconId = 1;

    CTrayIcon() = default;
    ~CTrayIcon() { Remove(); }
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // The window that gets the mouse messages, and the message they come as.
    void Attach(HWND owner, UINT callbackMessage);
    // Shows `icon` with `tooltip` (its first 127 characters): adds the icon the first
    // time, changes it afterwards, and does nothing when neither has changed.
    void Show(HICON icon, const std::string& tooltip);
    // After "TaskbarCreated": the icon again, as it was last shown.
    void Recreate();
    void Remove();

    bool IsAdded() const { return m_bAdded; }
    static UINT TaskbarCreatedMessage();

private:
    bool Notify(DWORD message);

    HWND m_hOwner = nullptr;
    UINT m_uCallbackMessage = 0;
    HICON m_hIcon = nullptr;
    std::wstring m_Tooltip;
    bool m_bWanted = false; // Show was called and Remove was not
    bool m_bAdded = false;  // the shell has it
};
