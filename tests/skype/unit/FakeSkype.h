// A fake Skype in the test's own process: a window that answers the discover broadcast
// with the attach message and keeps the commands it is sent (WM_COPYDATA, UTF-8 with the
// terminating zero), and sends notifications back; and a pump for the test thread's
// messages, which carry both directions. With other message names it plays a softphone of
// Skype's kind (Tessaro, ThinkIt).
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

class FakeSkype {
public:
    explicit FakeSkype(LPARAM attachStatus, const char* discoverMessage = "SkypeControlAPIDiscover",
                       const char* attachMessage = "SkypeControlAPIAttach")
        : m_status(attachStatus) {
        m_discover = RegisterWindowMessageA(discoverMessage);
        m_attach = RegisterWindowMessageA(attachMessage);
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "OrvinTestFakeSkypeApi";
        RegisterClassA(&windowClass);
        m_hWnd = CreateWindowExA(0, "OrvinTestFakeSkypeApi", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), this);
    }
    ~FakeSkype() { DestroyWindow(m_hWnd); }

    void Notify(const std::string& text) {
        COPYDATASTRUCT data = {0, (DWORD)text.size() + 1, const_cast<char*>(text.c_str())};
        SendMessageA(m_agent, WM_COPYDATA, (WPARAM)m_hWnd, (LPARAM)&data);
    }
    void Attach(LPARAM status) { SendMessageA(m_agent, m_attach, (WPARAM)m_hWnd, status); }
    bool Sent(const std::string& command) const {
        return std::find(commands.begin(), commands.end(), command) != commands.end();
    }

    std::vector<std::string> commands;
    std::vector<std::string> raw; // every byte each command counted, its data word aside
    std::vector<ULONG_PTR> dataWords;
    int discovers = 0;
    bool terminatedEveryCommand = true;
    HWND m_hWnd = nullptr;
    HWND m_agent = nullptr;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              (LONG_PTR) reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        }
        auto* self = reinterpret_cast<FakeSkype*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == self->m_discover) {
            ++self->discovers;
            self->m_agent = reinterpret_cast<HWND>(wParam);
            PostMessageA(self->m_agent, self->m_attach, (WPARAM)window, self->m_status);
            return 0;
        }
        if (self && message == WM_COPYDATA) {
            auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            const char* text = static_cast<const char*>(data->lpData);
            if (data->cbData == 0 || text[data->cbData - 1] != 0) {
                self->terminatedEveryCommand = false;
            }
            self->commands.emplace_back(text, strnlen(text, data->cbData));
            self->raw.emplace_back(text, data->cbData);
            self->dataWords.push_back(data->dwData);
            return 1;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }

    LPARAM m_status;
    UINT m_discover = 0;
    UINT m_attach = 0;
};

// Runs this thread's messages until `condition` holds (at most 5 s).
template <typename Condition> bool Pump(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        if (condition()) {
            return true;
        }
        Sleep(10);
    }
    return false;
}
