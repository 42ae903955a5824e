// What the application manager's tests share: the protocol written out as the other programs
// know it, a stand-in program on a thread of the test's own (FakePeer), and real programs
// started under the same Wine (AppManPeer.exe, OrvinAppCtl.exe).
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace appmantest {

// The names every program of the family uses.
inline UINT ChannelMessage() {
    return RegisterWindowMessageA("WM_APP_MESSAGE_CHANNEL");
}
inline std::string Name(int nId) {
    return "OrvinDeviceMessageReceiver:" + std::to_string(nId);
}
inline HWND FindHidden(int nId) {
    return FindWindowA("OrvinAppManagerWindow", Name(nId).c_str());
}
inline bool MutexExists(int nId) {
    HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, Name(nId).c_str());
    if (h) {
        CloseHandle(h);
    }
    return h != nullptr;
}

inline double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

inline std::atomic<int> g_nSequence{0}; // order in which stand-ins were told

// A program of the family on a thread of its own: its hidden window (a class of the test's,
// with the family's title) and, unless told otherwise, its mutex. When told to shut down it
// notes who asked and when, and ends after `endAfterMs` (never when negative): first, if
// `pSendBackTo` is set, it sends the channel message there the way a program announces itself,
// then it releases its mutex and closes its window. It also ends as soon as `endWhen` (looked
// at every 20 ms) answers true.
class FakePeer {
public:
    int m_nId;
    int m_nEndAfterMs = 0;
    bool m_bMutex = true;
    HWND m_hSendBackTo = nullptr;
    std::function<bool()> m_EndWhen;

    std::atomic<int> m_nCommands{0};
    std::atomic<long long> m_llWParam{-1};
    std::atomic<long long> m_llLParam{-1};
    std::atomic<int> m_nOrder{-1};
    std::atomic<bool> m_bEnded{false};
    std::atomic<bool> m_bSentBack{false};

    explicit FakePeer(int nId) : m_nId(nId) {}
    ~FakePeer() { Stop(); }

    void Start() {
        HANDLE hReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_Thread = std::thread([this, hReady] { Run(hReady); });
        EXPECT_EQ(WaitForSingleObject(hReady, 10000), WAIT_OBJECT_0);
        CloseHandle(hReady);
    }
    void Stop() {
        if (m_Thread.joinable()) {
            PostThreadMessageA(m_dwThreadId, WM_QUIT, 0, 0);
            m_Thread.join();
        }
    }
    HWND Window() const { return m_hWnd; }

private:
    static constexpr UINT_PTR kEndTimer = 1, kPollTimer = 2;

    static LRESULT CALLBACK Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
        FakePeer* self = (FakePeer*)GetWindowLongPtrA(hWnd, GWLP_USERDATA);
        if (self) {
            if (uMsg == ChannelMessage() && ((lParam >> 8) & 0xFF) == 3) {
                self->m_llWParam = (long long)wParam;
                self->m_llLParam = (long long)lParam;
                self->m_nOrder = g_nSequence++;
                if (self->m_nCommands++ == 0 && self->m_nEndAfterMs >= 0) {
                    SetTimer(hWnd, kEndTimer, (UINT)self->m_nEndAfterMs, nullptr);
                }
            } else if (uMsg == WM_TIMER && wParam == kEndTimer) {
                self->End();
                return 0;
            } else if (uMsg == WM_TIMER && wParam == kPollTimer) {
                if (self->m_EndWhen && self->m_EndWhen()) {
                    self->End();
                }
                return 0;
            }
        }
        return DefWindowProcA(hWnd, uMsg, wParam, lParam);
    }

    void End() {
        if (m_bEnded) {
            return;
        }
        HWND hWnd = m_hWnd;
        KillTimer(hWnd, kEndTimer);
        KillTimer(hWnd, kPollTimer);
        if (m_hSendBackTo) {
            // Bounded, so that a receiver that never answers fails the test instead of hanging it.
            DWORD_PTR dwResult;
            m_bSentBack = SendMessageTimeoutA(m_hSendBackTo, ChannelMessage(), (WPARAM)hWnd, 0, SMTO_NORMAL,
                                              20000, &dwResult) != 0;
        }
        if (m_hMutex) {
            ReleaseMutex(m_hMutex);
            CloseHandle(m_hMutex);
            m_hMutex = nullptr;
        }
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        DestroyWindow(hWnd);
        m_bEnded = true;
    }

    void Run(HANDLE hReady) {
        m_dwThreadId = GetCurrentThreadId();
        WNDCLASSA wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "AppManTestPeer";
        RegisterClassA(&wc); // the first stand-in of the process registers it
        if (m_bMutex) {
            m_hMutex = CreateMutexA(nullptr, TRUE, Name(m_nId).c_str());
        }
        m_hWnd = CreateWindowExA(0, "AppManTestPeer", Name(m_nId).c_str(), WS_OVERLAPPED, 0, 0, 10, 10,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, (LONG_PTR)this);
        SetTimer(m_hWnd, kPollTimer, 20, nullptr);
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // the thread's queue exists from here
        SetEvent(hReady);
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageA(&msg);
        }
        if (!m_bEnded) {
            m_hSendBackTo = nullptr;
            End();
        }
    }

    std::thread m_Thread;
    DWORD m_dwThreadId = 0;
    HWND m_hWnd = nullptr;
    HANDLE m_hMutex = nullptr;
};

// A real program under the same Wine, started by CreateProcess.
class Process {
public:
    ~Process() { Kill(); }
    bool Start(const std::string& commandLine) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::string line = commandLine;
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                              &m_Info) != 0;
    }
    // Exit status, or STILL_ACTIVE when it runs on after the time.
    DWORD Wait(DWORD dwMilliseconds) {
        if (!m_Info.hProcess || WaitForSingleObject(m_Info.hProcess, dwMilliseconds) != WAIT_OBJECT_0) {
            return STILL_ACTIVE;
        }
        DWORD dwStatus = STILL_ACTIVE;
        GetExitCodeProcess(m_Info.hProcess, &dwStatus);
        return dwStatus;
    }
    HANDLE Handle() const { return m_Info.hProcess; }
    void Kill() {
        if (m_Info.hProcess) {
            TerminateProcess(m_Info.hProcess, 99);
            WaitForSingleObject(m_Info.hProcess, 5000);
            CloseHandle(m_Info.hProcess);
            CloseHandle(m_Info.hThread);
            m_Info = {};
        }
    }

private:
    PROCESS_INFORMATION m_Info = {};
};

// `"program" args`, built up in place (GCC 12 warns wrongly about "x" + std::string).
inline std::string CommandLine(const std::string& program, const std::string& args) {
    std::string line = "\"";
    line += program;
    line += "\" ";
    line += args;
    return line;
}

inline std::string ExeDir() {
    char szPath[MAX_PATH];
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string path = szPath;
    return path.substr(0, path.find_last_of("\\/") + 1);
}

// Starts AppManPeer.exe (next to the test) with the ID and options, and returns once its
// window and mutex exist.
inline bool StartPeer(Process& process, int nId, const std::string& options = "") {
    static int s_nCount = 0;
    const std::string ready =
        "AppManPeerReady-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++s_nCount);
    HANDLE hReady = CreateEventA(nullptr, TRUE, FALSE, ready.c_str());
    const bool bStarted = process.Start(CommandLine(
        ExeDir() + "AppManPeer.exe", "--id " + std::to_string(nId) + " --ready " + ready + " " + options));
    bool bReady = false;
    if (bStarted) {
        HANDLE handles[2] = {hReady, process.Handle()};
        bReady = WaitForMultipleObjects(2, handles, FALSE, 20000) == WAIT_OBJECT_0;
    }
    CloseHandle(hReady);
    return bReady;
}

} // namespace appmantest
