#include "TelTelChecks.h"

#include <cinttypes>
#include <cstdio>

namespace orvin::teltelsim {

namespace {

std::string Hex(uint64_t value) {
    char text[24];
    snprintf(text, sizeof text, "0x%" PRIx64, value);
    return text;
}

void CheckCallback(const CallRecord& call, size_t index, const char* which,
                   std::vector<std::string>* faults) {
    const CallArg& arg = call.args[index];
    if (arg.kind != CallArg::Kind::Callback || arg.fact != CallArg::Fact::Code) {
        faults->push_back(call.function + ": the " + which + " callback " + arg.Shown() +
                          (arg.fact == CallArg::Fact::Null
                               ? " is null"
                               : " is not executable code of the agent's process"));
    }
}

} // namespace

int ArgumentCount(const std::string& function) {
    if (function == "TelTel_Register" || function == "TelTel_Unregister") {
        return 1;
    }
    if (function == "TelTel_RegisterInCallCBV2" || function == "TelTel_RegisterIncmingCallCBV2") {
        return 2;
    }
    if (function == "TelTel_WndProc" || function == "TelTel_RegisterAudioDevices2") {
        return 3;
    }
    return IsTelTelFunction(function) ? 0 : -1;
}

void CallChecker::Reset() {
    m_bRegistered = false;
    m_uWindow = 0;
}

std::vector<std::string> CallChecker::OnCall(const CallRecord& call) {
    std::vector<std::string> faults;
    const int count = ArgumentCount(call.function);
    if (count < 0) {
        faults.push_back("a call of " + call.function + ", which is not one of the library's functions");
        return faults;
    }
    if ((int)call.args.size() != count) {
        faults.push_back(call.function + " called with " + std::to_string(call.args.size()) +
                         " arguments, not " + std::to_string(count));
        return faults;
    }
    if (call.inCallback) {
        faults.push_back(call.function + " called from inside one of the library's callbacks, on its thread");
    }
    const std::string& f = call.function;
    if (f == "TelTel_Register") {
        const CallArg& window = call.args[0];
        if (window.kind != CallArg::Kind::Window || window.fact != CallArg::Fact::Own) {
            faults.push_back(
                "TelTel_Register(" + window.Shown() + "): " +
                (window.fact == CallArg::Fact::Foreign ? "a window of another process" : "not a window") +
                ", not one of the agent's own");
        }
        if (m_bRegistered) {
            faults.push_back("TelTel_Register(" + window.Shown() + ") while window " + Hex(m_uWindow) +
                             " is registered (no TelTel_Unregister before it)");
        } else {
            m_bRegistered = true;
            m_uWindow = window.value;
        }
        return faults;
    }
    if (f == "TelTel_WndProc") {
        return faults;
    }
    if (!m_bRegistered) {
        faults.push_back(f + " called while no window is registered (before TelTel_Register or after "
                             "TelTel_Unregister)");
        return faults;
    }
    if (f == "TelTel_Unregister") {
        if (call.args[0].value != m_uWindow) {
            faults.push_back("TelTel_Unregister(" + call.args[0].Shown() +
                             "), but the window registered is " + Hex(m_uWindow));
        }
        m_bRegistered = false;
        m_uWindow = 0;
    } else if (f == "TelTel_RegisterInCallCBV2" || f == "TelTel_RegisterIncmingCallCBV2") {
        CheckCallback(call, 0, "first", &faults);
        CheckCallback(call, 1, "second", &faults);
    } else if (f == "TelTel_RegisterAudioDevices2") {
        bool texts = true;
        for (size_t i = 0; i < 3; ++i) {
            const CallArg& arg = call.args[i];
            const std::string which = std::to_string(i + 1);
            if (arg.kind == CallArg::Kind::Unreadable) {
                faults.push_back("TelTel_RegisterAudioDevices2: text " + which + " can not be read (" +
                                 arg.Shown() + ")");
            } else if (arg.kind == CallArg::Kind::Unterminated) {
                faults.push_back("TelTel_RegisterAudioDevices2: text " + which +
                                 " has no terminating zero within " + std::to_string(kMaxTextBytes) +
                                 " bytes");
            } else if (arg.kind != CallArg::Kind::Text) {
                faults.push_back("TelTel_RegisterAudioDevices2: argument " + which + " is not a text");
            } else if (arg.text.empty()) {
                faults.push_back("TelTel_RegisterAudioDevices2: text " + which + " is empty");
            } else if (arg.text.size() > kMaxDeviceNameBytes) {
                faults.push_back("TelTel_RegisterAudioDevices2: text " + which + " is " +
                                 std::to_string(arg.text.size()) + " bytes long, more than " +
                                 std::to_string(kMaxDeviceNameBytes));
            } else {
                continue;
            }
            texts = false;
        }
        if (texts && (call.args[0].text != call.args[1].text || call.args[0].text != call.args[2].text)) {
            faults.push_back("TelTel_RegisterAudioDevices2: three different names " + call.args[0].Shown() +
                             ", " + call.args[1].Shown() + ", " + call.args[2].Shown() +
                             " (the device name three times)");
        }
    }
    return faults;
}

std::vector<std::string> CallChecker::OnFired(CallbackEvent event, const FiredRecord& fired,
                                              long long frequency) {
    std::vector<std::string> faults;
    const double ms =
        frequency > 0 ? (double)(fired.qpcEnd - fired.qpcStart) * 1000.0 / (double)frequency : 0;
    if (ms > kMaxCallbackMs) {
        char text[160];
        snprintf(text, sizeof text, "the %s callback held the library's thread for %.0f ms (at most %.0f)",
                 CallbackEventName(event), ms, kMaxCallbackMs);
        faults.push_back(text);
    }
    return faults;
}

} // namespace orvin::teltelsim
