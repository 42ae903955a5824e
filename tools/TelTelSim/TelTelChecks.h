// What the TelTel stand-in checks in every call the agent makes into TelTelAPI.DLL, and in
// how it takes the library's callbacks, against the library's description:
//   - every call names one of the library's functions with its number of arguments;
//   - TelTel_Register: a window of the agent's own process, and no window registered yet;
//   - TelTel_Unregister: the window that is registered;
//   - every other function but TelTel_WndProc (which gets whatever the window gets) only
//     while a window is registered, that is after TelTel_Register and before
//     TelTel_Unregister;
//   - TelTel_RegisterInCallCBV2 and TelTel_RegisterIncmingCallCBV2: both callbacks are
//     executable code of the agent's process;
//   - TelTel_RegisterAudioDevices2: three readable texts with their terminating zero, none
//     empty, each at most 259 bytes (what a MAX_PATH buffer holds), and the one device name
//     three times;
//   - no call into the library from inside one of its callbacks (on the library's thread,
//     before the callback returned): the library may hold its own locks there;
//   - every callback returns within kMaxCallbackMs: the agent does not hold the library's
//     thread.
// Each broken rule is one violation, described in words. Nothing here does I/O.
#pragma once

#include "TelTelWire.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvin::teltelsim {

constexpr double kMaxCallbackMs = 2000;
constexpr size_t kMaxDeviceNameBytes = 259;

class CallChecker {
public:
    // A new library connection: nothing registered.
    void Reset();
    std::vector<std::string> OnCall(const CallRecord& call);
    // A callback asked for has returned; `frequency` is the performance counter's.
    std::vector<std::string> OnFired(CallbackEvent event, const FiredRecord& fired, long long frequency);

    bool Registered() const { return m_bRegistered; }
    uint64_t RegisteredWindow() const { return m_uWindow; }

private:
    bool m_bRegistered = false;
    uint64_t m_uWindow = 0;
};

// How many arguments the function takes; -1 for a name that is not the library's.
int ArgumentCount(const std::string& function);

} // namespace orvin::teltelsim
