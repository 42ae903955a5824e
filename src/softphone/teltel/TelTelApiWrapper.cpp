#include "softphone/teltel/TelTelApiWrapper.h"

#include "base/trace/Trace.h"

#include <string>
#include <vector>

namespace {

typedef int(WINAPI* WindowFunction)(HWND window);
typedef int(WINAPI* CallbacksFunction)(TelTelCallback first, TelTelCallback second);
typedef int(WINAPI* WndProcFunction)(UINT message, WPARAM wParam, LPARAM lParam);
typedef int(WINAPI* PlainFunction)();
typedef int(WINAPI* AudioDevicesFunction)(const char* first, const char* second, const char* third);

constexpr int kMissing = -1;

// The folder of this program, with its trailing backslash; empty when it can not be told.
std::string OwnFolder() {
    char path[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) {
        return {};
    }
    std::string folder(path, length);
    const size_t slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

std::string WindowsFolder() {
    char folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("WINDIR", folder, sizeof folder);
    return length && length < sizeof folder ? std::string(folder, length) : std::string();
}

} // namespace

SRWLOCK CTelTelApiWrapper::s_InstanceLock = SRWLOCK_INIT;
CTelTelApiWrapper* CTelTelApiWrapper::s_pInstance = nullptr;

CTelTelApiWrapper::CTelTelApiWrapper() {
    LoadLibrary();
    Publish();
}

CTelTelApiWrapper::CTelTelApiWrapper(const TelTelFunctionTable& library)
    : m_bMadeUp(true), m_MadeUpLibrary(library) {
    Publish();
}

void CTelTelApiWrapper::Publish() {
    AcquireSRWLockExclusive(&s_InstanceLock);
    s_pInstance = this;
    ReleaseSRWLockExclusive(&s_InstanceLock);
}

CTelTelApiWrapper::~CTelTelApiWrapper() {
    // After this no callback reaches this object; one that runs now finishes first.
    AcquireSRWLockExclusive(&s_InstanceLock);
    if (s_pInstance == this) {
        s_pInstance = nullptr;
    }
    ReleaseSRWLockExclusive(&s_InstanceLock);
    if (m_hDll) {
        TRACE("CTelTelApiWrapper::~CTelTelApiWrapper() - Calling FreeLibrary(%X)",
              (unsigned)(uintptr_t)m_hDll);
        FreeLibrary(m_hDll);
        m_hDll = nullptr;
    }
}

int CTelTelApiWrapper::LoadLibrary() {
    if (m_hDll) {
        return 0;
    }
    // Full paths only: a folder that can not be told is passed over, never left to the
    // system's search.
    std::vector<std::string> places;
    const std::string own = OwnFolder();
    if (!own.empty()) {
        places.push_back(own + kLibraryName);
    }
    const std::string windows = WindowsFolder();
    if (!windows.empty()) {
        places.push_back(windows + "\\SYSTEM32\\" + kLibraryName);
        places.push_back(windows + "\\" + kLibraryName);
    }
    for (const std::string& place : places) {
        m_hDll = LoadLibraryExA(place.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        TRACE("CTelTelApiWrapper::LoadLibrary() - Loading TelTelAPI from %s m_hDll = %X", place.c_str(),
              (unsigned)(uintptr_t)m_hDll);
        if (m_hDll) {
            return 0;
        }
    }
    return -1;
}

FARPROC CTelTelApiWrapper::GetFunc(const char* name) {
    if (!name || (!m_hDll && !m_bMadeUp)) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_FunctionsLock);
    auto known = m_Functions.find(name);
    if (known != m_Functions.end()) {
        return known->second;
    }
    TRACE("CTelTelApiWrapper::GetFunc - Creating new function %s", name);
    FARPROC address = nullptr;
    if (m_bMadeUp) {
        auto entry = m_MadeUpLibrary.find(name);
        address = entry == m_MadeUpLibrary.end() ? nullptr : entry->second;
    } else {
        address = GetProcAddress(m_hDll, name);
    }
    m_Functions[name] = address; // a missing one too: looked up once
    return address;
}

template <typename Function> Function CTelTelApiWrapper::Find(const char* name) {
    FARPROC address = GetFunc(name);
    if (!address) {
        TRACE("CTelTelApiWrapper - %s is not available: -1", name);
        return nullptr;
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

void CTelTelApiWrapper::SetHWND(HWND window) {
    TRACE("CTelTelApiWrapper::SetHWND - HWND = %X", (unsigned)(uintptr_t)window);
    m_hWnd = window;
}

int CTelTelApiWrapper::Connect() {
    TRACE("CTelTelApiWrapper::Connect");
    auto reg = Find<WindowFunction>("TelTel_Register");
    const int result = reg ? reg(m_hWnd) : kMissing;
    TRACE("CTelTelApiWrapper::RegisterInCallCB");
    if (auto calls = Find<CallbacksFunction>("TelTel_RegisterInCallCBV2")) {
        calls(NotifyCallBackStartCall, NotifyCallBackEndCall);
    }
    TRACE("CTelTelApiWrapper::RegisterIncomingCallCB");
    if (auto rings = Find<CallbacksFunction>("TelTel_RegisterIncmingCallCBV2")) {
        rings(NotifyInCallBackStartCall, NotifyInCallBackEndCall);
    }
    return result;
}

int CTelTelApiWrapper::Disconnect() {
    TRACE("CTelTelApiWrapper::Disconnect");
    auto unreg = Find<WindowFunction>("TelTel_Unregister");
    return unreg ? unreg(m_hWnd) : kMissing;
}

int CTelTelApiWrapper::Answer() {
    TRACE("CTelTelApiWrapper::Answer");
    auto function = Find<PlainFunction>("TelTel_AnswerOrCall");
    return function ? (function() & 0xFF) : kMissing;
}

int CTelTelApiWrapper::Call() {
    TRACE("CTelTelApiWrapper::Call");
    auto function = Find<PlainFunction>("TelTel_AnswerOrCall");
    return function ? (function() & 0xFF) : kMissing;
}

int CTelTelApiWrapper::Hangup() {
    TRACE("CTelTelApiWrapper::Hangup");
    auto function = Find<PlainFunction>("TelTel_HangupOrReject");
    return function ? (function() & 0xFF) : kMissing;
}

int CTelTelApiWrapper::Reject() {
    TRACE("CTelTelApiWrapper::Reject");
    auto function = Find<PlainFunction>("TelTel_HangupOrReject");
    return function ? (function() & 0xFF) : kMissing;
}

int CTelTelApiWrapper::BringToTop() {
    TRACE("CTelTelApiWrapper::BringToTop");
    auto function = Find<PlainFunction>("TelTel_BringToTop");
    return function ? function() : kMissing;
}

int CTelTelApiWrapper::Mute() {
    TRACE("CTelTelApiWrapper::Mute");
    auto function = Find<PlainFunction>("TelTel_Mute");
    return function ? function() : kMissing;
}

int CTelTelApiWrapper::UnMute() {
    TRACE("CTelTelApiWrapper::UnMute");
    auto function = Find<PlainFunction>("TelTel_Unmute");
    return function ? function() : kMissing;
}

int CTelTelApiWrapper::RegAudioDevices(const char* name) {
    TRACE("CTelTelApiWrapper::RegAudioDevices %s", name ? name : "");
    auto function = Find<AudioDevicesFunction>("TelTel_RegisterAudioDevices2");
    return function ? function(name, name, name) : kMissing;
}

int CTelTelApiWrapper::UnRegAudioDevices() {
    TRACE("CTelTelApiWrapper::UnRegAudioDevices");
    auto function = Find<PlainFunction>("TelTel_UnregisterAudioDevices");
    return function ? function() : kMissing;
}

int CTelTelApiWrapper::IsTelTelReady() {
    auto function = Find<PlainFunction>("TelTel_IsTelTelReady");
    return function ? (function() & 0xFF) : kMissing;
}

int CTelTelApiWrapper::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    auto function = Find<WndProcFunction>("TelTel_WndProc");
    return function ? function(message, wParam, lParam) : kMissing;
}

// ---- The callbacks, on TelTel's threads

template <typename Work> void CTelTelApiWrapper::Deliver(Work work) {
    AcquireSRWLockShared(&s_InstanceLock);
    if (s_pInstance) {
        work(s_pInstance);
    }
    ReleaseSRWLockShared(&s_InstanceLock);
}

void WINAPI CTelTelApiWrapper::NotifyCallBackStartCall(DWORD value) {
    TRACE("CTelTelApiWrapper::NotifyCallBackStartCall");
    Deliver([value](CTelTelApiWrapper* wrapper) { wrapper->NotifyCallStart(value); });
}

void WINAPI CTelTelApiWrapper::NotifyCallBackEndCall(DWORD value) {
    TRACE("CTelTelApiWrapper::NotifyCallBackEndCall");
    Deliver([value](CTelTelApiWrapper* wrapper) { wrapper->NotifyCallEnd(value); });
}

void WINAPI CTelTelApiWrapper::NotifyInCallBackStartCall(DWORD value) {
    TRACE("CTelTelApiWrapper::NotifyInCallBackStartCall");
    Deliver([value](CTelTelApiWrapper* wrapper) { wrapper->NotifyRingStart(value); });
}

void WINAPI CTelTelApiWrapper::NotifyInCallBackEndCall(DWORD value) {
    TRACE("CTelTelApiWrapper::NotifyInCallBackEndCall");
    Deliver([value](CTelTelApiWrapper* wrapper) { wrapper->NotifyRingStop(value); });
}

void CTelTelApiWrapper::NotifyCallStart(uint32_t value) {
    TRACE("CTelTelApiWrapper::NotifyCallStart");
    if (ITelTelCallSink* sink = m_pSink) {
        sink->NotifyCallStart(value);
    }
}

void CTelTelApiWrapper::NotifyCallEnd(uint32_t value) {
    TRACE("CTelTelApiWrapper::NotifyCallEnd");
    if (ITelTelCallSink* sink = m_pSink) {
        sink->NotifyCallEnd(value);
    }
}

void CTelTelApiWrapper::NotifyRingStart(uint32_t value) {
    TRACE("CTelTelApiWrapper::NotifyRingStart");
    if (ITelTelCallSink* sink = m_pSink) {
        sink->NotifyRingStart(value);
    }
}

void CTelTelApiWrapper::NotifyRingStop(uint32_t value) {
    TRACE("CTelTelApiWrapper::NotifyRingStop");
    if (ITelTelCallSink* sink = m_pSink) {
        sink->NotifyRingStop(value);
    }
}
