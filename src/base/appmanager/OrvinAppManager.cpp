#include "base/appmanager/OrvinAppManager.h"

#include "base/trace/Trace.h"

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

namespace {

std::mutex g_InstanceLock; // guards making and forgetting the instance
std::atomic<OrvinAppManager*> g_pInstance{nullptr};

const char kStars[] = "************************************************************"; // 60

// Waits for hEvent (none: for the time alone) while handling the messages that other threads
// and processes send to this thread's windows: a peer's synchronous send, a broadcast, or
// the shutdown command itself when the waiting thread owns the hidden window. Posted
// messages (WM_QUIT among them) stay queued for the thread's own loop.
bool WaitHandlingSentMessages(HANDLE hEvent, DWORD dwMilliseconds) {
    const DWORD nCount = hEvent ? 1 : 0;
    const ULONGLONG ullEnd = GetTickCount64() + dwMilliseconds;
    for (;;) {
        DWORD dwLeft = INFINITE;
        if (dwMilliseconds != INFINITE) {
            const ULONGLONG ullNow = GetTickCount64();
            dwLeft = ullNow >= ullEnd ? 0 : (DWORD)(ullEnd - ullNow);
        }
        const DWORD dwResult = MsgWaitForMultipleObjectsEx(nCount, &hEvent, dwLeft, QS_SENDMESSAGE, 0);
        if (nCount && dwResult == WAIT_OBJECT_0) {
            return true;
        }
        if (dwResult == WAIT_OBJECT_0 + nCount) {
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        if (dwResult == WAIT_FAILED) {
            if (hEvent) {
                return WaitForSingleObject(hEvent, dwLeft) == WAIT_OBJECT_0;
            }
            Sleep(dwLeft);
        }
        return false;
    }
}

// The ID in a window title: the decimal digits right after the title's first ':'. A title
// without digits there (or with a number no ID can be) names no application.
bool ParseAppId(const char* szTitle, int* pnId) {
    if (!strstr(szTitle, OrvinAppManager::kTitleName)) {
        return false;
    }
    const char* p = strchr(szTitle, ':');
    if (!p || *++p < '0' || *p > '9') {
        return false;
    }
    long long llId = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        llId = llId * 10 + (*p - '0');
        if (llId > INT_MAX) {
            return false;
        }
    }
    *pnId = (int)llId;
    return true;
}

} // namespace

OrvinAppManager* OrvinAppManager::GetInstance() {
    std::lock_guard<std::mutex> lock(g_InstanceLock);
    if (!g_pInstance) {
        TRACE("OrvinAppManager::GetInstance() - Creating a new instance of AppManager");
        g_pInstance = new (std::nothrow) OrvinAppManager();
    }
    return g_pInstance;
}

void OrvinAppManager::DestroyInstance() {
    OrvinAppManager* pManager;
    {
        std::lock_guard<std::mutex> lock(g_InstanceLock);
        pManager = g_pInstance.exchange(nullptr);
    }
    delete pManager;
}

OrvinAppManager::OrvinAppManager() {
    m_uChannelMessage = RegisterWindowMessageA(kChannelMessage);
    m_hShutdownEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    TRACE("Application manager created for app ID %d\n", m_nAppId);
}

OrvinAppManager::~OrvinAppManager() {
    // The window goes first, so that no handler runs against what follows.
    if (m_hWnd) {
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    if (m_bClassRegistered) {
        UnregisterClassA(kWindowClass, GetModuleHandleA(nullptr));
    }
    if (m_hShutdownEvent) {
        CloseHandle(m_hShutdownEvent);
    }
    if (m_hMutex) {
        ReleaseMutex(m_hMutex);
        CloseHandle(m_hMutex);
    }
    m_Apps.clear();
}

void OrvinAppManager::MakeName(int nId, char* szName, size_t cbName) const {
    snprintf(szName, cbName, "%s:%d", kTitleName, nId);
}

void OrvinAppManager::SetParentID(int nId) {
    const int nOldId = m_nAppId;
    const bool bNewId = nId != nOldId || !m_hMutex;
    m_nAppId = nId;
    if (!m_hWnd) {
        TRACE("OrvinAppManager::SetParentID() - Setting Application ID to %d", nId);
        CreateHiddenWindow();
    } else if (bNewId) {
        TRACE("OrvinAppManager::SetParentID() - Changing Application ID from %d to %d", nOldId, nId);
        char szTitle[64];
        MakeName(nId, szTitle, sizeof szTitle);
        SetWindowTextA(m_hWnd, szTitle);
    }
    // The mutex does not depend on the window: a program whose window could not be made
    // still knows whether it runs twice.
    if (bNewId) {
        TakeInstanceMutex();
    }
}

void OrvinAppManager::CreateHiddenWindow() {
    HINSTANCE hInstance = GetModuleHandleA(nullptr);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = hInstance;
    wc.lpszClassName = kWindowClass;
    bool bRegistered = RegisterClassExA(&wc) != 0;
    if (bRegistered) {
        m_bClassRegistered = true;
    } else if (GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
        // Left by an earlier manager of this process whose window outlived it: still ours
        // when it leads to our procedure. A class of that name of anyone else's is not.
        WNDCLASSEXA existing = {};
        existing.cbSize = sizeof existing;
        bRegistered =
            GetClassInfoExA(hInstance, kWindowClass, &existing) && existing.lpfnWndProc == WindowProc;
    }
    if (!bRegistered) {
        TRACE("OrvinAppManager::CreateHiddenWindow() - failed to register window class");
        return;
    }
    TRACE("OrvinAppManager::CreateHiddenWindow() - Sucessfully registered window class");

    char szTitle[64];
    MakeName(m_nAppId, szTitle, sizeof szTitle);
    m_hWnd = CreateWindowExA(0, kWindowClass, szTitle, WS_OVERLAPPED, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, hInstance, nullptr);
    if (m_hWnd) {
        TRACE("OrvinAppManager::CreateHiddenWindow(%d) - Sucessfully created hidden window : %s", m_nAppId,
              szTitle);
    } else {
        TRACE("OrvinAppManager::CreateHiddenWindow() - failed to create hidden window");
    }
}

void OrvinAppManager::TakeInstanceMutex() {
    if (m_hMutex) {
        ReleaseMutex(m_hMutex);
        CloseHandle(m_hMutex);
        m_hMutex = nullptr;
    }
    char szName[64];
    MakeName(m_nAppId, szName, sizeof szName);
    SetLastError(ERROR_SUCCESS);
    m_hMutex = CreateMutexA(nullptr, TRUE, szName);
    const DWORD dwError = GetLastError();
    // Access denied: it exists, made by a program of another account.
    m_bIsFirstInstance = !(dwError == ERROR_ALREADY_EXISTS || (!m_hMutex && dwError == ERROR_ACCESS_DENIED));
    TRACE("OrvinAppManager: IsFirstInstance(%d)=%s", m_nAppId, m_bIsFirstInstance ? "TRUE" : "FALSE");
}

LRESULT CALLBACK OrvinAppManager::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    OrvinAppManager* pManager = g_pInstance;
    if (pManager && pManager->m_hWnd && pManager->m_hWnd == hWnd) {
        return pManager->HandleMessage(hWnd, uMsg, wParam, lParam);
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

LRESULT OrvinAppManager::HandleMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    if (m_uChannelMessage != 0 && uMsg == m_uChannelMessage &&
        (((ULONG_PTR)lParam >> 8) & 0xFF) == (kShutdownCommand >> 8)) {
        const int nSender = (int)wParam;
        TRACE("Received shutdown command from Orvin app ID %d\n", nSender);
        if (m_pSink) {
            m_pSink->OnOrvinAppManagerNotication(kShutdownCommand, nSender);
        }
        // The sink may have ended the manager; then nothing of it is left to signal.
        if (g_pInstance == this) {
            if (m_hShutdownEvent) {
                SetEvent(m_hShutdownEvent);
            }
            if (QuitOnShutdown) {
                PostQuitMessage(0);
            }
        }
    } else if (uMsg == WM_NCDESTROY) {
        // Someone else closed the window: a later SetParentID makes a new one.
        m_hWnd = nullptr;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

BOOL CALLBACK OrvinAppManager::FindAppsProc(HWND hWnd, LPARAM lParam) {
    OrvinAppManager* pManager = (OrvinAppManager*)lParam;
    // The title as the system keeps it: no message to the window, which may belong to a
    // thread that is busy.
    WCHAR wszTitle[256];
    const int nLength = InternalGetWindowText(hWnd, wszTitle, 256);
    if (nLength <= 0) {
        return TRUE;
    }
    char szTitle[512];
    if (!WideCharToMultiByte(CP_ACP, 0, wszTitle, nLength + 1, szTitle, sizeof szTitle, nullptr, nullptr)) {
        return TRUE;
    }
    int nId;
    if (!ParseAppId(szTitle, &nId) || nId == pManager->m_nAppId) {
        return TRUE;
    }
    pManager->m_Apps[nId] = hWnd;
    TRACE("Found Orvin app ID %d\n", nId);
    return TRUE;
}

void OrvinAppManager::FindApps() {
    EnumWindows(FindAppsProc, (LPARAM)this);
}

HWND OrvinAppManager::WindowOf(int nId) const {
    const auto it = m_Apps.find(nId);
    return it == m_Apps.end() ? nullptr : it->second;
}

std::vector<int> OrvinAppManager::FindRunningApps() {
    for (auto& app : m_Apps) {
        app.second = nullptr;
    }
    FindApps();
    std::vector<int> ids;
    for (const auto& app : m_Apps) {
        if (app.second) {
            ids.push_back(app.first);
        }
    }
    return ids;
}

bool OrvinAppManager::IsAppRunning(int nId) {
    if (nId == m_nAppId) {
        return !m_bIsFirstInstance;
    }
    // Only look: a probe that made the mutex would, for its moment, make that program
    // believe it runs twice if it started just then.
    char szName[64];
    MakeName(nId, szName, sizeof szName);
    HANDLE hMutex = OpenMutexA(SYNCHRONIZE, FALSE, szName);
    if (hMutex) {
        CloseHandle(hMutex);
        return true;
    }
    if (GetLastError() == ERROR_ACCESS_DENIED) {
        return true;
    }
    for (auto& app : m_Apps) {
        app.second = nullptr;
    }
    FindApps();
    return WindowOf(nId) != nullptr;
}

bool OrvinAppManager::WaitForShutdown(DWORD dwMilliseconds) {
    return WaitHandlingSentMessages(m_hShutdownEvent, dwMilliseconds);
}

bool OrvinAppManager::ShutdownApp(int nId) {
    // A table filled before the program (re)started, or never filled, is looked over again.
    HWND hWnd = WindowOf(nId);
    if (!hWnd || !IsWindow(hWnd)) {
        for (auto& app : m_Apps) {
            app.second = nullptr;
        }
        FindApps();
    }
    if (!WindowOf(nId)) {
        // Running without a window (its mutex alone) cannot be reached.
        return !IsAppRunning(nId);
    }
    if (!IsAppRunning(nId)) {
        return true;
    }
    hWnd = WindowOf(nId); // the look above may have found it anew
    if (!hWnd) {
        return false;
    }

    TRACE("Sending shutdown command to Orvin app ID %d\n", nId);
    DWORD_PTR dwResult = 0;
    if (!SendMessageTimeoutA(hWnd, m_uChannelMessage, (WPARAM)(INT_PTR)m_nAppId, kShutdownCommand,
                             SMTO_NORMAL, kSendTimeoutMs, &dwResult)) {
        TRACE("OrvinAppManager::ShutdownApp(%d) - the shutdown command was not taken (error %lu)", nId,
              GetLastError());
    }

    // One look more after the last wait: a program that ended during it has ended.
    for (int nWaits = 0;;) {
        if (!IsAppRunning(nId)) {
            return true;
        }
        if (nWaits == kShutdownWaits) {
            break;
        }
        WaitHandlingSentMessages(nullptr, kShutdownWaitMs);
        ++nWaits;
        TRACE("Waiting for Orvin app ID %02d shutdown (%02d)...", nId, nWaits);
    }
    TRACE("%s", kStars);
    TRACE("%s", kStars);
    TRACE("**");
    TRACE("**  Failed to kill app %02d (%02d retries). Aborting.", nId, kShutdownWaits);
    TRACE("**");
    TRACE("%s", kStars);
    TRACE("%s", kStars);
    return false;
}

bool OrvinAppManager::ShutdownAllApps(int nId) {
    m_Apps.clear();
    FindApps();
    if (nId != 0) {
        return ShutdownApp(nId);
    }
    // The table changes under the waits: work from the IDs found now.
    std::vector<int> ids;
    for (const auto& app : m_Apps) {
        ids.push_back(app.first);
    }
    bool bAllEnded = true;
    for (int nApp : ids) {
        bAllEnded = ShutdownApp(nApp) && bAllEnded;
    }
    return bAllEnded;
}
