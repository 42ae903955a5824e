// PowerProbe.exe: a window that stands where the agent's message engine stands, for the
// tests of the monitor and power-event tools. Like the engine it is a hidden top-level
// window titled "MessageOnlyWindowTitle" that registers "WM_APP_MESSAGE_CHANNEL",
// announces itself with a broadcast (wParam = its window, lParam 0), answers 1 to the
// channel and to power events, ends on the shutdown command (8) and, with --deny, refuses
// a standby query (PBT_APMQUERYSUSPEND, 0) with BROADCAST_QUERY_DENY once the user has
// confirmed a system-modal message box.
//
// Output lines (standard output and --log FILE):
//   window=0x... pid=N
//   channel wParam=0x... lParam=N
//   power event=N lParam=N
//   box closed result=N
//   answer=0x...
//   exit N
// Exit status: 0 after the shutdown command or a close, 3 when --exit-after ran out,
// 2 for bad usage, 1 when the window could not be made.
#include <windows.h>

#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const wchar_t kChannelMessageName[] = L"WM_APP_MESSAGE_CHANNEL";
const wchar_t kWindowClass[] = L"PowerProbeWindow";
const wchar_t kWindowTitle[] = L"MessageOnlyWindowTitle";
const wchar_t kDenialText[] = L"Active session - Power state change request denied !";
const wchar_t kDenialCaption[] = L"OrvinAgent";

constexpr UINT_PTR kExitTimer = 1;
constexpr int kExitTimedOut = 3;

FILE* g_log = nullptr;
UINT g_channelMessage = 0;
bool g_deny = false;
std::wstring g_denialText = kDenialText;
int g_exitStatus = 0;

void Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Line(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    printf("%s\n", text);
    fflush(stdout);
    if (g_log) {
        fprintf(g_log, "%s\n", text);
        fflush(g_log);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_channelMessage) {
        Line("channel wParam=0x%llX lParam=%lld", (unsigned long long)wParam, (long long)lParam);
        if (lParam == 8) {
            PostQuitMessage(0);
        }
        return 1;
    }
    switch (message) {
    case WM_POWERBROADCAST: {
        Line("power event=%llu lParam=%lld", (unsigned long long)wParam, (long long)lParam);
        LRESULT answer = 1;
        if (g_deny && wParam == PBT_APMQUERYSUSPEND) {
            int result = MessageBoxW(window, g_denialText.c_str(), kDenialCaption, MB_SYSTEMMODAL | MB_OK);
            Line("box closed result=%d", result);
            answer = BROADCAST_QUERY_DENY;
        }
        Line("answer=0x%llX", (unsigned long long)answer);
        return answer;
    }
    case WM_TIMER:
        if (wParam == kExitTimer) {
            Line("exit-after ran out");
            g_exitStatus = kExitTimedOut;
            PostQuitMessage(kExitTimedOut);
            return 0;
        }
        break;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int main() {
    const char usage[] = "usage: PowerProbe.exe [--log FILE] [--deny] [--deny-text TEXT] [--no-announce]\n"
                         "                      [--exit-after MS]\n";
    bool announce = true;
    DWORD exitAfterMs = 30000;
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; args && i < count; ++i) {
        std::wstring arg = args[i];
        bool hasValue = i + 1 < count;
        if (arg == L"--log" && hasValue) {
            g_log = _wfopen(args[++i], L"w");
            if (!g_log) {
                fprintf(stderr, "PowerProbe: can not write the log\n");
                return 2;
            }
        } else if (arg == L"--deny") {
            g_deny = true;
        } else if (arg == L"--deny-text" && hasValue) {
            g_denialText = args[++i];
        } else if (arg == L"--no-announce") {
            announce = false;
        } else if (arg == L"--exit-after" && hasValue) {
            exitAfterMs = (DWORD)wcstoul(args[++i], nullptr, 10);
        } else {
            fputs(usage, stderr);
            return 2;
        }
    }
    LocalFree(args);

    g_channelMessage = RegisterWindowMessageW(kChannelMessageName);
    WNDCLASSW windowClass = {};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    HWND window = RegisterClassW(&windowClass)
                      ? CreateWindowExW(0, kWindowClass, kWindowTitle, 0, 0, 0, 0, 0, nullptr, nullptr,
                                        windowClass.hInstance, nullptr)
                      : nullptr;
    if (!g_channelMessage || !window) {
        fprintf(stderr, "PowerProbe: no window: error %lu\n", GetLastError());
        return 1;
    }
    Line("window=0x%llX pid=%lu", (unsigned long long)(ULONG_PTR)window, GetCurrentProcessId());
    SetTimer(window, kExitTimer, exitAfterMs, nullptr);
    if (announce) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(HWND_BROADCAST, g_channelMessage, (WPARAM)window, 0,
                            SMTO_NORMAL | SMTO_ABORTIFHUNG, 2000, &result);
        Line("announced");
    }

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (IsWindow(window)) {
        DestroyWindow(window);
    }
    Line("exit %d", g_exitStatus);
    if (g_log) {
        fclose(g_log);
    }
    return g_exitStatus;
}
