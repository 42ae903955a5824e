#include "settings/FolderWatch.h"

bool CFolderWatch::Start(const std::string& folder, HWND window, UINT message) {
    Stop();
    m_Folder = folder;
    m_hWindow = window;
    m_uMessage = message;
    m_hStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hThread = m_hStop ? CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr) : nullptr;
    return m_hThread != nullptr;
}

void CFolderWatch::Stop() {
    if (m_hThread) {
        SetEvent(m_hStop);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    if (m_hStop) {
        CloseHandle(m_hStop);
        m_hStop = nullptr;
    }
}

DWORD WINAPI CFolderWatch::ThreadMain(void* self) {
    static_cast<CFolderWatch*>(self)->Run();
    return 0;
}

void CFolderWatch::Run() {
    const DWORD what = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;
    HANDLE change = INVALID_HANDLE_VALUE;
    for (;;) {
        if (change == INVALID_HANDLE_VALUE) {
            change = FindFirstChangeNotificationA(m_Folder.c_str(), FALSE, what);
            if (change != INVALID_HANDLE_VALUE) {
                PostMessageA(m_hWindow, m_uMessage, 0, 0); // it may have come with files
            } else if (WaitForSingleObject(m_hStop, kRetryMs) != WAIT_TIMEOUT) {
                return;
            } else {
                continue;
            }
        }
        HANDLE events[2] = {m_hStop, change};
        const DWORD woke = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (woke != WAIT_OBJECT_0 + 1) {
            break;
        }
        PostMessageA(m_hWindow, m_uMessage, 0, 0);
        if (!FindNextChangeNotification(change)) {
            FindCloseChangeNotification(change);
            change = INVALID_HANDLE_VALUE; // the folder went: look for it again
        }
    }
    if (change != INVALID_HANDLE_VALUE) {
        FindCloseChangeNotification(change);
    }
}
