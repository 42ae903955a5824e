// AppManPeer.exe: a program that takes part in the application manager's protocol for the
// tests, the way the agent and its siblings do, and says through its exit status what it
// was told.
//
//   AppManPeer.exe --id N [--ready EVENT] [--mode loop|ignore|linger|wait] [--ms MS]
//                  [--life MS]
//
//   loop     (default) QuitOnShutdown stays set: the message loop ends on the WM_QUIT the
//            shutdown command posts
//   ignore   QuitOnShutdown cleared and the sink does nothing: runs on until --life ends
//   linger   QuitOnShutdown cleared; the sink ends the loop MS ms after the command
//   wait     no message loop: WaitForShutdown(MS) on the window's own thread
//   hang     handles no message at all for MS ms (a program that hangs), then ends
//
// EVENT (a named event made by the test) is set once the window and the mutex exist.
// Exit status: 100 + sender ID when the sink was told 768 by that sender; 2 when another
// program already runs with this ID (it ends at once, like a second agent); 3 --life ran
// out without a command; 4 WaitForShutdown answered false; 5 the loop ended without the
// sink being told; 6 wrong command line or no manager.
#include "base/appmanager/OrvinAppManager.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class CPeerSink : public COrvinAppManagerSink {
public:
    void OnOrvinAppManagerNotication(int nCode, int nSenderId) override {
        m_nCode = nCode;
        m_nSender = nSenderId;
        if (m_nLingerMs >= 0) {
            m_uLingerTimer = SetTimer(nullptr, 0, (UINT)m_nLingerMs, nullptr);
        }
    }
    int m_nCode = 0;
    int m_nSender = -1;
    int m_nLingerMs = -1;
    UINT_PTR m_uLingerTimer = 0; // thread timers get their IDs from the system
};

int Result(const CPeerSink& sink, int nOtherwise) {
    return sink.m_nCode == 768 && sink.m_nSender >= 0 ? 100 + sink.m_nSender : nOtherwise;
}

} // namespace

int main(int argc, char** argv) {
    int nId = -1;
    int nMs = 0;
    int nLifeMs = 60000;
    std::string mode = "loop";
    const char* szReady = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--id")) {
            nId = atoi(argv[i + 1]);
        } else if (!strcmp(argv[i], "--ready")) {
            szReady = argv[i + 1];
        } else if (!strcmp(argv[i], "--mode")) {
            mode = argv[i + 1];
        } else if (!strcmp(argv[i], "--ms")) {
            nMs = atoi(argv[i + 1]);
        } else if (!strcmp(argv[i], "--life")) {
            nLifeMs = atoi(argv[i + 1]);
        } else {
            return 6;
        }
    }
    OrvinAppManager* pManager = OrvinAppManager::GetInstance();
    if (nId < 0 || !pManager) {
        return 6;
    }
    CPeerSink sink;
    pManager->SetParentID(nId);
    pManager->SetNotificationSink(&sink);
    if (pManager->IsAppRunning(nId)) {
        OrvinAppManager::DestroyInstance();
        return 2;
    }
    if (mode != "loop") {
        pManager->QuitOnShutdown = FALSE;
    }
    if (mode == "linger") {
        sink.m_nLingerMs = nMs;
    }
    if (szReady) {
        HANDLE hReady = OpenEventA(EVENT_MODIFY_STATE, FALSE, szReady);
        if (hReady) {
            SetEvent(hReady);
            CloseHandle(hReady);
        }
    }

    int nStatus;
    if (mode == "hang") {
        Sleep((DWORD)nMs);
        nStatus = 3;
    } else if (mode == "wait") {
        nStatus = pManager->WaitForShutdown((DWORD)nMs) ? Result(sink, 5) : 4;
    } else {
        const UINT_PTR uLifeTimer = SetTimer(nullptr, 0, (UINT)nLifeMs, nullptr);
        nStatus = 5;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == uLifeTimer) {
                nStatus = Result(sink, 3);
                break;
            }
            if (msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == sink.m_uLingerTimer) {
                KillTimer(nullptr, msg.wParam);
                PostQuitMessage(0);
                continue;
            }
            DispatchMessageA(&msg);
        }
        if (msg.message == WM_QUIT) {
            nStatus = Result(sink, 5);
        }
    }
    OrvinAppManager::DestroyInstance();
    return nStatus;
}
