// The floor of a softphone's window-message API under this Wine: two small processes and
// nothing else. This one sends a command with SendMessage(WM_COPYDATA); its peer
// (bench_wm_floor_peer.exe, started from the same folder) posts itself a note and, from
// that note, sends its notification back with SendMessage(WM_COPYDATA), as Skype answers
// a query. Timed per round: the round trip (the command's send to the notification's
// arrival) and the command's SendMessage alone.
//   bench_wm_floor [ROUNDS]      default 2000 (after 100 not counted)
// Prints the figures in milliseconds (median, p99 by nearest rank, min, max) and each as
// `figure NAME VALUE`. Exit status 1 when the peer could not be started or stopped answering.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kWarmUp = 100;
constexpr DWORD kAnswerTimeoutMs = 5000;

HWND g_hPeer = nullptr;
bool g_bNotified = false;
LARGE_INTEGER g_notifiedAt = {};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        QueryPerformanceCounter(&g_notifiedAt);
        if (!g_hPeer) {
            g_hPeer = reinterpret_cast<HWND>(wParam); // the peer's hello
        }
        g_bNotified = true;
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Until a notification has come; false after the time-out.
bool WaitNotified() {
    const DWORD start = GetTickCount();
    while (!g_bNotified) {
        const DWORD waited = GetTickCount() - start;
        if (waited >= kAnswerTimeoutMs) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kAnswerTimeoutMs - waited, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    return true;
}

void Report(const char* name, const char* text, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    const double p99 = ms[(99 * n + 99) / 100 - 1];
    printf("%s: %u rounds, median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms\n", text, (unsigned)n,
           median, p99, ms.front(), ms.back());
    printf("figure %s_median_ms %.3f\nfigure %s_p99_ms %.3f\n", name, median, name, p99);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? atoi(argv[1]) : 2000;
    if (rounds < 1) {
        fprintf(stderr, "usage: bench_wm_floor [ROUNDS]\n");
        return 2;
    }
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OrvinWmFloor";
    RegisterClassA(&windowClass);
    HWND self = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string peer = path;
    peer = peer.substr(0, peer.find_last_of("\\/") + 1) + "bench_wm_floor_peer.exe";
    std::string commandLine = "\"" + peer + "\" " + std::to_string((unsigned long long)(uintptr_t)self);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!self || !CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process)) {
        fprintf(stderr, "bench_wm_floor: can not start %s (error %lu)\n", peer.c_str(), GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    int status = 0;
    if (!WaitNotified()) {
        fprintf(stderr, "bench_wm_floor: the peer did not say hello\n");
        status = 1;
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto ms = [&](LONGLONG from, LONGLONG to) {
        return (double)(to - from) * 1000.0 / (double)frequency.QuadPart;
    };
    std::vector<double> roundTrips, sends;
    for (int i = 0; status == 0 && i < kWarmUp + rounds; ++i) {
        char text[32];
        const int length = snprintf(text, sizeof text, "GET CALL %d TYPE", i) + 1;
        COPYDATASTRUCT data = {0, (DWORD)length, text};
        g_bNotified = false;
        LARGE_INTEGER start, sent;
        QueryPerformanceCounter(&start);
        SendMessageA(g_hPeer, WM_COPYDATA, (WPARAM)self, (LPARAM)&data);
        QueryPerformanceCounter(&sent);
        if (!WaitNotified()) {
            fprintf(stderr, "bench_wm_floor: no notification in round %d\n", i);
            status = 1;
            break;
        }
        if (i >= kWarmUp) {
            roundTrips.push_back(ms(start.QuadPart, g_notifiedAt.QuadPart));
            sends.push_back(ms(start.QuadPart, sent.QuadPart));
        }
    }
    if (g_hPeer) {
        PostMessageA(g_hPeer, WM_CLOSE, 0, 0);
    }
    WaitForSingleObject(process.hProcess, kAnswerTimeoutMs);
    CloseHandle(process.hProcess);
    if (status == 0) {
        Report("wm_copydata_round_trip",
               "floor: a command by SendMessage(WM_COPYDATA), the peer's notification back the same way",
               roundTrips);
        Report("wm_copydata_send", "floor: one SendMessage(WM_COPYDATA) to the other process", sends);
    }
    return status;
}
