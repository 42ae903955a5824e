// The main dialog with its recorder (no driver: a start still makes a file) on a registry
// root and a recording folder of its own, the service as the recorder tells it through the
// client, and two recorder interface windows that count the notifications they get and may
// answer one before the dialog's send returns.
#pragma once

#include "agent/OrvinAgentDlg.h"
#include "softphone/OrvinApiClient.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace recorder_fuzz {

constexpr WPARAM kStart = 1, kStop = 2, kAlive = 4, kNotification = 8, kSettings = 16, kQuery = 32;

// The service as the dialog's recorder tells it, through the client.
class StatusClient : public COrvinApiClient {
public:
    void ConnectToApiServer() override {}
    void SendToService(int type, int code, int info, const char*, const char*, const char*) override {
        if (type == 3 && code == 1) { // MSG_TYPE_AGENT_EVENT, NotifyAgentStatus
            told.push_back(info);
        }
    }
    std::vector<int> told;
};

// A recorder interface's window: counts the notifications it is sent.
class InterfaceWindow {
public:
    explicit InterfaceWindow(UINT message) : m_message(message) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "OrvinFuzzRecorderInterface";
        RegisterClassA(&windowClass);
        hWnd = CreateWindowExA(0, "OrvinFuzzRecorderInterface", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleA(nullptr), this);
    }
    ~InterfaceWindow() {
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        DestroyWindow(hWnd);
    }
    HWND hWnd = nullptr;
    int started = 0, stopped = 0, other = 0;
    // Called with each notification, inside the dialog's send.
    std::function<void(LPARAM)> onNotification;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              (LONG_PTR) reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        }
        auto* self = reinterpret_cast<InterfaceWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == self->m_message) {
            if (wParam == kNotification && lParam == 1) {
                ++self->started;
            } else if (wParam == kNotification && lParam == 2) {
                ++self->stopped;
            } else {
                ++self->other;
            }
            if (self->onNotification) {
                self->onNotification(lParam);
            }
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    UINT m_message;
};

inline std::string TempPath(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

inline void RemoveWavFiles(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*.wav").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((folder + "\\" + found.cFileName).c_str()); // not the one still open
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
}

class InterfaceRig {
public:
    explicit InterfaceRig(const char* tag) {
        const std::string id = std::string(tag) + std::to_string(GetCurrentProcessId());
        m_root = "SOFTWARE\\OrvinTest\\" + id;
        m_folder = TempPath("orvin-" + id);
        CreateDirectoryA(m_folder.c_str(), nullptr);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, (m_root + "\\Recorder").c_str(), "Directory", REG_SZ,
                        m_folder.c_str(), (DWORD)m_folder.size() + 1);
        message = RegisterWindowMessageA("ORVIN_RECORDER_INTERFACE_MESSAGE");
        dialog = std::make_unique<COrvinAgentDlg>(m_root);
        m_params.m_nUiEnable = 1;
        dialog->SetConfigParams(&m_params);
        dialog->SetInitializeSoftPhone([] { return 1; });
        dialog->SetRecorderDevice("OrvinRecIfFuzzNoDevice" + id); // no driver: starts still make files
        windows[0] = std::make_unique<InterfaceWindow>(message);
        windows[1] = std::make_unique<InterfaceWindow>(message);
        // A window that has gone: its handle names nothing any more.
        InterfaceWindow gone(message);
        goneWindow = gone.hWnd;
    }
    ~InterfaceRig() {
        if (dialog) {
            dialog->Destroy();
            dialog.reset();
        }
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_root.c_str());
        SetCurrentDirectoryA(TempPath("").c_str());
        RemoveWavFiles(m_folder);
        RemoveDirectoryA(m_folder.c_str());
    }
    bool Start() {
        if (!dialog->Create() || !windows[0]->hWnd || !windows[1]->hWnd) {
            return false;
        }
        dialog->SetApiClient(&client);
        return dialog->CallRecorder() != nullptr;
    }
    HWND Dialog() const { return dialog->GetSafeHwnd(); }
    void CleanFolder() { RemoveWavFiles(m_folder); }

    UINT message = 0;
    StatusClient client;
    std::unique_ptr<COrvinAgentDlg> dialog;
    std::unique_ptr<InterfaceWindow> windows[2];
    HWND goneWindow = nullptr;

private:
    std::string m_root, m_folder;
    CConfigParams m_params;
};

} // namespace recorder_fuzz
