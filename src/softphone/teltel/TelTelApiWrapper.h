// CTelTelApiWrapper: TelTel's own library, TelTelAPI.DLL, loaded at run time and called
// through plain functions. The library is looked for, in this order, as TelTelAPI.DLL in
// the agent's own folder, as %WINDIR%\SYSTEM32\TelTelAPI.DLL and as %WINDIR%\TelTelAPI.DLL
// (always by its full path, never through the system's search). A function's address is
// looked up on its first use and kept; a function the library lacks, or every function
// when no library was found, answers -1 and is traced.
//
// The functions the agent calls, all with the system's standard calling convention (WINAPI):
//   int TelTel_Register(HWND)                      int TelTel_Unregister(HWND)
//   int TelTel_RegisterInCallCBV2(callStart, callEnd)
//   int TelTel_RegisterIncmingCallCBV2(ringStart, ringStop)
//   int TelTel_WndProc(UINT message, WPARAM, LPARAM)
//   int TelTel_IsTelTelReady()                     low byte 1: ready
//   int TelTel_RegisterAudioDevices2(const char*, const char*, const char*)
//   int TelTel_UnregisterAudioDevices()
//   int TelTel_AnswerOrCall()                      low byte used
//   int TelTel_HangupOrReject()                    low byte used
//   int TelTel_BringToTop(), TelTel_Mute(), TelTel_Unmute()
// and the four callbacks each take one 32-bit value and return nothing (WINAPI too).
//
// Threads. TelTel calls the callbacks on threads of its own. They reach the one wrapper
// of the process through a process-wide pointer, guarded by a reader-writer lock: a
// callback holds it shared while it uses the wrapper, the destructor takes it exclusively
// to clear the pointer, so a callback either finds a whole wrapper or none. The wrapper
// passes each callback to its sink on the thread it came on: the sink must return at once
// (the client hands the work over to its GUI thread). The functions may be called from
// any thread (the client calls them from its GUI thread and its audio-device thread); the
// table of addresses has a lock of its own.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// What TelTel's callbacks tell: the client. Called on the library's threads.
class ITelTelCallSink {
public:
    virtual ~ITelTelCallSink() = default;
    virtual void NotifyRingStart(uint32_t value) = 0;
    virtual void NotifyRingStop(uint32_t value) = 0;
    virtual void NotifyCallStart(uint32_t value) = 0;
    virtual void NotifyCallEnd(uint32_t value) = 0;
};

// A callback as TelTel calls it.
typedef void(WINAPI* TelTelCallback)(DWORD value);

// A library made up of functions of this process, by exported name (tests).
typedef std::map<std::string, FARPROC> TelTelFunctionTable;

class CTelTelApiWrapper {
public:
    static constexpr const char* kLibraryName = "TelTelAPI.DLL";

    // Loads TelTelAPI.DLL from its three places.
    CTelTelApiWrapper();
    // Uses `library` instead of TelTelAPI.DLL: nothing is loaded.
    explicit CTelTelApiWrapper(const TelTelFunctionTable& library);
    virtual ~CTelTelApiWrapper();
    CTelTelApiWrapper(const CTelTelApiWrapper&) = delete;
    CTelTelApiWrapper& operator=(const CTelTelApiWrapper&) = delete;

    // Each passes the callback to the sink.
    virtual void NotifyRingStart(uint32_t value);
    virtual void NotifyRingStop(uint32_t value);
    virtual void NotifyCallStart(uint32_t value);
    virtual void NotifyCallEnd(uint32_t value);

    // 0 when the library is loaded, -1 otherwise. (windows.h makes the name LoadLibraryA
    // everywhere, this member's included; the system's function is called by its own name.)
    int LoadLibrary();
    // The function's address, looked up on first use; null when missing.
    FARPROC GetFunc(const char* name);

    void SetHWND(HWND window);
    HWND GetHWND() const { return m_hWnd; }
    void SetSink(ITelTelCallSink* sink) { m_pSink = sink; }

    // TelTel_Register with the window, then both pairs of callbacks; Register's result.
    int Connect();
    // TelTel_Unregister with the window; its result.
    int Disconnect();
    // TelTel_AnswerOrCall / TelTel_HangupOrReject: the result's low byte.
    int Answer();
    int Call();
    int Hangup();
    int Reject();
    int BringToTop();
    int Mute();
    int UnMute();
    // TelTel_RegisterAudioDevices2 with `name` three times.
    int RegAudioDevices(const char* name);
    int UnRegAudioDevices();
    // TelTel_IsTelTelReady's low byte (1: ready).
    int IsTelTelReady();
    int WndProc(UINT message, WPARAM wParam, LPARAM lParam);

    // The library loaded, or null (none found, or a made-up one).
    HMODULE Library() const { return m_hDll; }

private:
    static void WINAPI NotifyCallBackStartCall(DWORD value);
    static void WINAPI NotifyCallBackEndCall(DWORD value);
    static void WINAPI NotifyInCallBackStartCall(DWORD value);
    static void WINAPI NotifyInCallBackEndCall(DWORD value);
    // Runs `deliver` on the process's wrapper, if there is one, under the shared lock.
    template <typename Work> static void Deliver(Work work);
    // The function as the given type, or null (traced) when missing.
    template <typename Function> Function Find(const char* name);
    void Publish();

    HMODULE m_hDll = nullptr;
    HWND m_hWnd = nullptr;
    std::atomic<ITelTelCallSink*> m_pSink{nullptr};
    bool m_bMadeUp = false;
    TelTelFunctionTable m_MadeUpLibrary;
    std::mutex m_FunctionsLock; // guards m_Functions
    std::map<std::string, FARPROC> m_Functions;

    static SRWLOCK s_InstanceLock; // guards s_pInstance
    static CTelTelApiWrapper* s_pInstance;
};
