// SoftphonePeer.exe: the agent's side of EyeBeam's or QQ's window-message API, for the
// stand-ins' tests: it discovers the softphone, waits for its answer and sends whatever
// bytes it is told, so that a test can make the stand-in meet records the agent would
// never send.
//
//   SoftphonePeer.exe eyebeam|qq STEP...
//     discover             the softphone's discover broadcast with this window
//     wait-attached MS     until the softphone answered (prints ATTACHED)
//     send DATA HEX        one WM_COPYDATA with data word DATA and these bytes to it
//     sleep MS             messages are handled meanwhile
// Exit status 0 when every step was done, 1 when one failed, 2 for bad usage.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool g_qq = false;
UINT g_register = 0;
UINT g_answer = 0; // EyeBeam: the register message again; QQ: the response
HWND g_self = nullptr;
HWND g_softphone = nullptr;

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_answer && message != 0) {
        if (g_qq && wParam == 2) {
            g_softphone = (HWND)lParam;
        } else if (!g_qq && (HWND)wParam != window && lParam == 1) {
            g_softphone = (HWND)wParam;
        }
        return 0;
    }
    if (message == WM_COPYDATA) {
        return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void PumpFor(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        Sleep(5);
    } while (GetTickCount64() < end);
}

bool Hex(const char* text, std::string* bytes) {
    for (size_t i = 0; text[i]; i += 2) {
        if (!text[i + 1]) {
            return false;
        }
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        const long value = strtol(pair, &end, 16);
        if (*end) {
            return false;
        }
        *bytes += (char)value;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (strcmp(argv[1], "eyebeam") && strcmp(argv[1], "qq"))) {
        fprintf(stderr, "usage: SoftphonePeer.exe eyebeam|qq STEP...\n");
        return 2;
    }
    g_qq = strcmp(argv[1], "qq") == 0;
    g_register = RegisterWindowMessageA(g_qq ? "WM_QQAPI_REGISTER" : "m_WM_EYEBEAM_API_REGISTER");
    g_answer = g_qq ? RegisterWindowMessageA("WM_QQAPI_REGISTER_RESP") : g_register;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OrvinSoftphonePeer";
    RegisterClassA(&windowClass);
    g_self = CreateWindowExA(0, "OrvinSoftphonePeer", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    for (int i = 2; i < argc; ++i) {
        const std::string step = argv[i];
        if (step == "discover") {
            DWORD_PTR ignored = 0;
            SendMessageTimeoutA(HWND_BROADCAST, g_register, (WPARAM)g_self, g_qq ? 100 : 0, SMTO_ABORTIFHUNG,
                                2000, &ignored);
        } else if (step == "wait-attached" && i + 1 < argc) {
            const ULONGLONG end = GetTickCount64() + strtoul(argv[++i], nullptr, 10);
            while (!g_softphone && GetTickCount64() < end) {
                PumpFor(10);
            }
            if (!g_softphone) {
                fprintf(stderr, "SoftphonePeer: no answer\n");
                return 1;
            }
            printf("ATTACHED\n");
            fflush(stdout);
        } else if (step == "send" && i + 2 < argc) {
            const unsigned long data = strtoul(argv[++i], nullptr, 0);
            std::string bytes;
            if (!Hex(argv[++i], &bytes)) {
                fprintf(stderr, "SoftphonePeer: bad hex %s\n", argv[i]);
                return 2;
            }
            COPYDATASTRUCT copy = {data, (DWORD)bytes.size(), bytes.empty() ? nullptr : &bytes[0]};
            DWORD_PTR result = 0;
            if (!g_softphone || !SendMessageTimeoutA(g_softphone, WM_COPYDATA, (WPARAM)g_self, (LPARAM)&copy,
                                                     SMTO_NORMAL, 5000, &result)) {
                fprintf(stderr, "SoftphonePeer: send failed\n");
                return 1;
            }
        } else if (step == "sleep" && i + 1 < argc) {
            PumpFor(strtoul(argv[++i], nullptr, 10));
        } else {
            fprintf(stderr, "SoftphonePeer: bad step %s\n", step.c_str());
            return 2;
        }
    }
    return 0;
}
