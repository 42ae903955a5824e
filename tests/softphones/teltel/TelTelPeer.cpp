// TelTelPeer.exe: plays the agent's side of TelTelAPI.DLL for the stand-in's own tests. It
// loads the library from the path given, owns a window whose every message it passes to
// TelTel_WndProc (as the agent's engine does), and runs the commands of its command line in
// order, the faulty ones included, printing what the library answers and which callbacks
// ran:
//   register | register-foreign | register-none     TelTel_Register with its own window, the
//                                                  desktop's (another process's) or no window
//   unregister                                     TelTel_Unregister with its own window
//   callbacks | callbacks-data                     both registrations, with code or with data
//   audio NAME | audio-mixed                       TelTel_RegisterAudioDevices2, NAME three
//                                                  times, or three different names
//   ready                                          prints ready=N (TelTel_IsTelTelReady)
//   call FUNCTION                                  a function without arguments; prints
//                                                  FUNCTION=N
//   reenter                                        the ring-start callback calls TelTel_Mute
//   hold MS                                        the ring-start callback takes MS
//   pump MS                                        runs the window's messages for MS
// Each callback prints "callback EVENT VALUE on the main thread|another thread".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

typedef void(WINAPI* Callback)(DWORD value);
typedef int(WINAPI* WindowFunction)(HWND window);
typedef int(WINAPI* CallbacksFunction)(Callback first, Callback second);
typedef int(WINAPI* WndProcFunction)(UINT message, WPARAM wParam, LPARAM lParam);
typedef int(WINAPI* PlainFunction)();
typedef int(WINAPI* AudioFunction)(const char* first, const char* second, const char* third);

HMODULE g_library = nullptr;
DWORD g_mainThread = 0;
volatile bool g_reenter = false;
volatile DWORD g_holdMs = 0;
const unsigned char kData[64] = {};

template <typename Function> Function Find(const char* name) {
    FARPROC address = GetProcAddress(g_library, name);
    if (!address) {
        printf("%s missing\n", name);
        fflush(stdout);
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

void Report(const char* event, DWORD value) {
    printf("callback %s %lu on %s\n", event, (unsigned long)value,
           GetCurrentThreadId() == g_mainThread ? "the main thread" : "another thread");
    fflush(stdout);
}

void WINAPI RingStart(DWORD value) {
    Report("ring-start", value);
    if (g_reenter) {
        if (auto mute = Find<PlainFunction>("TelTel_Mute")) {
            mute();
        }
    }
    if (g_holdMs) {
        Sleep(g_holdMs);
    }
}
void WINAPI RingStop(DWORD value) {
    Report("ring-stop", value);
}
void WINAPI CallStart(DWORD value) {
    Report("call-start", value);
}
void WINAPI CallEnd(DWORD value) {
    Report("call-end", value);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_library) {
        if (auto proc = Find<WndProcFunction>("TelTel_WndProc")) {
            proc(message, wParam, lParam);
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void Pump(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        Sleep(5);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3 || strcmp(argv[1], "--library") != 0) {
        fprintf(stderr, "usage: TelTelPeer.exe --library PATH COMMAND...\n");
        return 2;
    }
    g_mainThread = GetCurrentThreadId();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OrvinTelTelPeer";
    RegisterClassA(&windowClass);
    HWND window =
        CreateWindowExA(0, "OrvinTelTelPeer", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    g_library = LoadLibraryA(argv[2]);
    if (!window || !g_library) {
        fprintf(stderr, "TelTelPeer: no window or no library %s (error %lu)\n", argv[2], GetLastError());
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const std::string command = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (command == "register" || command == "register-foreign" || command == "register-none") {
            HWND target = command == "register"           ? window
                          : command == "register-foreign" ? GetDesktopWindow()
                                                          : reinterpret_cast<HWND>(0x1234);
            if (auto reg = Find<WindowFunction>("TelTel_Register")) {
                reg(target);
            }
        } else if (command == "unregister") {
            if (auto unreg = Find<WindowFunction>("TelTel_Unregister")) {
                unreg(window);
            }
        } else if (command == "callbacks" || command == "callbacks-data") {
            Callback first[2] = {CallStart, RingStart};
            Callback second[2] = {CallEnd, RingStop};
            if (command == "callbacks-data") {
                first[0] = first[1] = second[0] = second[1] = reinterpret_cast<Callback>((void*)kData);
            }
            if (auto calls = Find<CallbacksFunction>("TelTel_RegisterInCallCBV2")) {
                calls(first[0], second[0]);
            }
            if (auto rings = Find<CallbacksFunction>("TelTel_RegisterIncmingCallCBV2")) {
                rings(first[1], second[1]);
            }
        } else if (command == "audio" || command == "audio-mixed") {
            if (auto audio = Find<AudioFunction>("TelTel_RegisterAudioDevices2")) {
                if (command == "audio") {
                    audio(value, value, value);
                    ++i;
                } else {
                    audio("Orvin Virtual Audio Device", "BTAUDIO", "Orvin Virtual Audio Device");
                }
            }
        } else if (command == "ready") {
            if (auto ready = Find<PlainFunction>("TelTel_IsTelTelReady")) {
                printf("ready=%d\n", ready());
            }
        } else if (command == "call") {
            if (auto function = Find<PlainFunction>(value)) {
                printf("%s=%d\n", value, function());
            }
            ++i;
        } else if (command == "reenter") {
            g_reenter = true;
        } else if (command == "hold") {
            g_holdMs = (DWORD)atoi(value);
            ++i;
        } else if (command == "pump") {
            Pump((DWORD)atoi(value));
            ++i;
        } else {
            fprintf(stderr, "TelTelPeer: unknown command %s\n", command.c_str());
            return 2;
        }
        fflush(stdout);
    }
    DestroyWindow(window);
    return 0;
}
