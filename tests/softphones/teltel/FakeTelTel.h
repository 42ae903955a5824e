// A made-up TelTel library in the test's own process, for CTelTelApiWrapper's table of
// functions: every function (WINAPI, as TelTelAPI.DLL's) records its call with its
// arguments and thread, TelTel_IsTelTelReady answers what the test sets, the callbacks
// registered are kept, and the test runs them on threads of their own, as TelTel does.
// A table may leave functions out, as a library that lacks them.
#pragma once

#include "softphone/teltel/TelTelApiWrapper.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace faketeltel {

struct Call {
    std::string function;
    std::vector<std::string> args;
    DWORD thread = 0;
    ULONGLONG tick = 0;

    std::string Shown() const {
        std::string text = function + "(";
        for (size_t i = 0; i < args.size(); ++i) {
            text += (i ? ", " : "") + args[i];
        }
        return text + ")";
    }
};

enum Callback { kCallStart, kCallEnd, kRingStart, kRingStop };

struct State {
    std::mutex lock; // guards every field
    std::vector<Call> calls;
    int ready = 0;
    int answer = 1;                  // what the other functions answer
    bool ringAtRegistration = false; // a TelTel that rings as its ring callbacks arrive
    TelTelCallback callbacks[4] = {};
};

inline State& Library() {
    static State state;
    return state;
}

inline std::string Hex(uint64_t value) {
    char text[24];
    snprintf(text, sizeof text, "0x%llx", (unsigned long long)value);
    return text;
}

inline int Record(const char* function, std::vector<std::string> args = {}) {
    State& state = Library();
    std::lock_guard<std::mutex> lock(state.lock);
    state.calls.push_back({function, std::move(args), GetCurrentThreadId(), GetTickCount64()});
    return state.answer;
}

inline int WINAPI Register(HWND window) {
    return Record("TelTel_Register", {Hex((uintptr_t)window)});
}
inline int WINAPI Unregister(HWND window) {
    return Record("TelTel_Unregister", {Hex((uintptr_t)window)});
}
inline int WINAPI RegisterInCall(TelTelCallback start, TelTelCallback end) {
    {
        std::lock_guard<std::mutex> lock(Library().lock);
        Library().callbacks[kCallStart] = start;
        Library().callbacks[kCallEnd] = end;
    }
    return Record("TelTel_RegisterInCallCBV2");
}
inline int WINAPI RegisterIncoming(TelTelCallback start, TelTelCallback stop) {
    bool ring;
    {
        std::lock_guard<std::mutex> lock(Library().lock);
        Library().callbacks[kRingStart] = start;
        Library().callbacks[kRingStop] = stop;
        ring = Library().ringAtRegistration;
    }
    if (ring && start) {
        std::thread([start] { start(77); }).join();
    }
    return Record("TelTel_RegisterIncmingCallCBV2");
}
inline int WINAPI WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return Record("TelTel_WndProc", {Hex(message), Hex(wParam), Hex(lParam)});
}
inline int WINAPI IsReady() {
    Record("TelTel_IsTelTelReady");
    std::lock_guard<std::mutex> lock(Library().lock);
    return Library().ready;
}
inline int WINAPI RegisterAudio(const char* a, const char* b, const char* c) {
    return Record("TelTel_RegisterAudioDevices2", {a ? a : "(null)", b ? b : "(null)", c ? c : "(null)"});
}
inline int WINAPI UnregisterAudio() {
    return Record("TelTel_UnregisterAudioDevices");
}
inline int WINAPI AnswerOrCall() {
    return Record("TelTel_AnswerOrCall");
}
inline int WINAPI HangupOrReject() {
    return Record("TelTel_HangupOrReject");
}
inline int WINAPI BringToTop() {
    return Record("TelTel_BringToTop");
}
inline int WINAPI Mute() {
    return Record("TelTel_Mute");
}
inline int WINAPI Unmute() {
    return Record("TelTel_Unmute");
}

template <typename Function> FARPROC Address(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

// A fresh library: no calls, not ready, every function answering 1; the table lacks the
// functions named in `without`.
inline TelTelFunctionTable Fresh(const std::set<std::string>& without = {}, bool ringAtRegistration = false) {
    State& state = Library();
    {
        std::lock_guard<std::mutex> lock(state.lock);
        state.calls.clear();
        state.ready = 0;
        state.answer = 1;
        state.ringAtRegistration = ringAtRegistration;
        for (auto& callback : state.callbacks) {
            callback = nullptr;
        }
    }
    TelTelFunctionTable table = {
        {"TelTel_Register", Address(Register)},
        {"TelTel_Unregister", Address(Unregister)},
        {"TelTel_RegisterInCallCBV2", Address(RegisterInCall)},
        {"TelTel_RegisterIncmingCallCBV2", Address(RegisterIncoming)},
        {"TelTel_WndProc", Address(WndProc)},
        {"TelTel_IsTelTelReady", Address(IsReady)},
        {"TelTel_RegisterAudioDevices2", Address(RegisterAudio)},
        {"TelTel_UnregisterAudioDevices", Address(UnregisterAudio)},
        {"TelTel_AnswerOrCall", Address(AnswerOrCall)},
        {"TelTel_HangupOrReject", Address(HangupOrReject)},
        {"TelTel_BringToTop", Address(BringToTop)},
        {"TelTel_Mute", Address(Mute)},
        {"TelTel_Unmute", Address(Unmute)},
    };
    for (const std::string& name : without) {
        table.erase(name);
    }
    return table;
}

inline void SetReady(int value) {
    std::lock_guard<std::mutex> lock(Library().lock);
    Library().ready = value;
}

// The calls since the last look, TelTel_WndProc and TelTel_IsTelTelReady left out.
inline std::vector<std::string> Calls() {
    State& state = Library();
    std::lock_guard<std::mutex> lock(state.lock);
    std::vector<std::string> shown;
    for (const Call& call : state.calls) {
        if (call.function != "TelTel_WndProc" && call.function != "TelTel_IsTelTelReady") {
            shown.push_back(call.Shown());
        }
    }
    state.calls.clear();
    return shown;
}

inline std::vector<Call> AllCalls() {
    std::lock_guard<std::mutex> lock(Library().lock);
    return Library().calls;
}

// Runs a registered callback on a new thread, as TelTel does, and waits for it to return.
// False when none is registered.
inline bool Fire(Callback which, DWORD value = 1) {
    TelTelCallback callback;
    {
        std::lock_guard<std::mutex> lock(Library().lock);
        callback = Library().callbacks[which];
    }
    if (!callback) {
        return false;
    }
    std::thread([callback, value] { callback(value); }).join();
    return true;
}

} // namespace faketeltel
