// bench_wm_floor's peer: takes each command (WM_COPYDATA), posts itself a note, and from
// the note sends its notification back to the commander (WM_COPYDATA), as Skype answers
// a query after the query's SendMessage has returned. The commander's window is the one
// argument; WM_CLOSE ends it.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT kNoteMessage = WM_APP + 1;
HWND g_hCommander = nullptr;
char g_szText[256];

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COPYDATA: {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const size_t length =
            data && data->lpData ? strnlen(static_cast<const char*>(data->lpData), data->cbData) : 0;
        memcpy(g_szText, data->lpData, length < sizeof g_szText ? length : sizeof g_szText - 1);
        g_szText[length < sizeof g_szText ? length : sizeof g_szText - 1] = 0;
        PostMessageA(window, kNoteMessage, 0, 0);
        return TRUE;
    }
    case kNoteMessage: {
        COPYDATASTRUCT data = {0, (DWORD)strlen(g_szText) + 1, g_szText};
        SendMessageA(g_hCommander, WM_COPYDATA, (WPARAM)window, (LPARAM)&data);
        return 0;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    g_hCommander = reinterpret_cast<HWND>((uintptr_t)strtoull(argv[1], nullptr, 10));
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OrvinWmFloorPeer";
    RegisterClassA(&windowClass);
    HWND self = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    if (!self) {
        return 1;
    }
    COPYDATASTRUCT hello = {0, 6, const_cast<char*>("HELLO")};
    SendMessageA(g_hCommander, WM_COPYDATA, (WPARAM)self, (LPARAM)&hello);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    return 0;
}
