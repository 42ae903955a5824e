// Fake EyeBeam and QQ windows in the test's own process, and what the tests read the
// client by: the traffic it logs for the service and the softphone (through a main dialog
// of the test's), and a pump for the test thread's messages, which carry both directions.
//
// Each fake answers the client's discover broadcast as its softphone does (EyeBeam: the
// register message with its window and 1; QQ: the response with 2 and its window), keeps
// every WM_COPYDATA it is sent (data word, bytes, sender) and sends the client records
// the same way. The message names and numbers are written here as the softphones define
// them, not taken from the client.
#pragma once

#include "softphone/AgentLinks.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct CopyData {
    uint32_t data = 0;
    std::string bytes;
    HWND from = nullptr;
};

class FakeSoftphone {
public:
    virtual ~FakeSoftphone() { DestroyWindow(m_hWnd); }

    // One WM_COPYDATA to the client's engine window.
    void Send(uint32_t data, const std::string& bytes) {
        COPYDATASTRUCT copy = {data, (DWORD)bytes.size(),
                               bytes.empty() ? nullptr : const_cast<char*>(bytes.data())};
        SendMessageA(m_agent, WM_COPYDATA, (WPARAM)m_hWnd, (LPARAM)&copy);
    }
    void Send(uint32_t data, const void* bytes, size_t size) {
        COPYDATASTRUCT copy = {data, (DWORD)size, const_cast<void*>(bytes)};
        SendMessageA(m_agent, WM_COPYDATA, (WPARAM)m_hWnd, (LPARAM)&copy);
    }

    std::vector<CopyData> received;
    int discovers = 0;
    WPARAM discoverWParam = 0;
    LPARAM discoverLParam = 0;
    bool answer = true; // answer discovers at once
    HWND m_hWnd = nullptr;
    HWND m_agent = nullptr;

protected:
    void Create(const char* className) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassA(&windowClass);
        m_hWnd = CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleA(nullptr),
                                 this);
    }
    // A registered message; true when it was the softphone's.
    virtual bool OnRegistered(UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              (LONG_PTR) reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        }
        auto* self = reinterpret_cast<FakeSoftphone*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message >= 0xC000 && message <= 0xFFFF && self->OnRegistered(message, wParam, lParam)) {
            return 0;
        }
        if (self && message == WM_COPYDATA) {
            auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            CopyData copy;
            copy.data = (uint32_t)data->dwData;
            copy.from = reinterpret_cast<HWND>(wParam);
            if (data->lpData && data->cbData) {
                copy.bytes.assign(static_cast<const char*>(data->lpData), data->cbData);
            }
            self->received.push_back(copy);
            return 1;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
};

class FakeEyeBeam : public FakeSoftphone {
public:
    FakeEyeBeam() {
        m_register = RegisterWindowMessageA("m_WM_EYEBEAM_API_REGISTER");
        m_available = RegisterWindowMessageA("m_WM_EYEBEAM_API_AVAILABLE");
        Create("OrvinTestFakeEyeBeam");
    }
    // The register message with this window and `attached` (1 hello, 0 goodbye).
    void Register(HWND to, LPARAM attached) { SendMessageA(to, m_register, (WPARAM)m_hWnd, attached); }
    void Available() { SendMessageA(m_agent, m_available, (WPARAM)m_hWnd, 0); }
    // A record as EyeBeam sends it: type, event, info, then zeros to `size` bytes.
    static std::string Record(int32_t type, int32_t event, int32_t info = 0, size_t size = 620) {
        std::string bytes(size < 12 ? 12 : size, '\0');
        memcpy(&bytes[0], &type, 4);
        memcpy(&bytes[4], &event, 4);
        memcpy(&bytes[8], &info, 4);
        bytes.resize(size);
        return bytes;
    }
    UINT RegisterMessage() const { return m_register; }

protected:
    bool OnRegistered(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message != m_register || (HWND)wParam == m_hWnd) {
            return message == m_register || message == m_available;
        }
        ++discovers;
        discoverWParam = wParam;
        discoverLParam = lParam;
        m_agent = (HWND)wParam;
        if (answer) {
            PostMessageA(m_agent, m_register, (WPARAM)m_hWnd, 1);
        }
        return true;
    }

private:
    UINT m_register = 0;
    UINT m_available = 0;
};

class FakeQQ : public FakeSoftphone {
public:
    FakeQQ() {
        m_register = RegisterWindowMessageA("WM_QQAPI_REGISTER");
        m_response = RegisterWindowMessageA("WM_QQAPI_REGISTER_RESP");
        m_available = RegisterWindowMessageA("WM_QQAPI_AVAILABLE");
        Create("OrvinTestFakeQQ");
    }
    void Respond(WPARAM code) { SendMessageA(m_agent, m_response, code, (LPARAM)m_hWnd); }
    void Available() { SendMessageA(m_agent, m_available, (WPARAM)m_hWnd, 0); }

protected:
    bool OnRegistered(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message != m_register) {
            return message == m_response || message == m_available;
        }
        ++discovers;
        discoverWParam = wParam;
        discoverLParam = lParam;
        m_agent = (HWND)wParam;
        if (answer) {
            PostMessageA(m_agent, m_response, 2, (LPARAM)m_hWnd);
        }
        return true;
    }

private:
    UINT m_register = 0;
    UINT m_response = 0;
    UINT m_available = 0;
};

// Items as QQ lays them out: a tag byte, a 32-bit little-endian length, the value.
inline std::string Item(uint8_t tag, const std::string& value) {
    std::string bytes(5, '\0');
    bytes[0] = (char)tag;
    const uint32_t length = (uint32_t)value.size();
    memcpy(&bytes[1], &length, 4);
    return bytes + value;
}
inline std::string ItemClaiming(uint8_t tag, uint32_t length, const std::string& value) {
    std::string bytes(5, '\0');
    bytes[0] = (char)tag;
    memcpy(&bytes[1], &length, 4);
    return bytes + value;
}
inline std::string U32(uint32_t value) {
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

// The main dialog as the client sees it: the traffic lines it logs, by direction.
class TrafficLog : public IOrvinAgentDialog {
public:
    void SetApiClient(COrvinApiClient*) override {}
    void SetMessageEngine(CMessageEngine*) override {}
    void SetRegistryRoot(const std::string&) override {}
    void RefreshStatus() override {}
    void AddTrafficLine(const char* text, int direction) override {
        (direction == 4 ? service : direction == 2 ? softphone : other).push_back(text);
    }
    void RingIndicationOn() override { ++ringsOn; }
    void RingIndicationOff() override { ++ringsOff; }
    void BusyIndication() override { ++busy; }
    bool IsCallRecording() override { return false; }
    void StopCallRecording() override {}
    bool ServiceHeard(const std::string& line) const {
        for (const std::string& each : service) {
            if (each == line) {
                return true;
            }
        }
        return false;
    }
    std::vector<std::string> service;   // [AG-->SM]
    std::vector<std::string> softphone; // [AG-->SF]
    std::vector<std::string> other;
    int ringsOn = 0, ringsOff = 0, busy = 0;
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

// Runs this thread's messages for `ms` milliseconds.
inline void PumpFor(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        Sleep(5);
    }
}

inline IMM Event(int type, int code, int info) {
    IMM message = {};
    message.Type = type;
    message.Code = code;
    message.Info = info;
    return message;
}
