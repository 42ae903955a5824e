// CTextMessageEngine: the window of a client whose softphone speaks a text API over window
// messages (Skype, Tessaro, ThinkIt). It broadcasts the softphone's registered discover
// message with its own window, takes the softphone's registered attach message (first
// parameter the softphone's API window, second an attach status) and exchanges one command
// or notification per WM_COPYDATA with that window. The client's timers run on this window;
// their ticks go to the client's OnClientTimer.
//
// What differs between the softphones is a table (TextEngineProfile): the two registered
// message names, whether the discover is posted after checks or sent to every window at
// once, what each attach status does, and the names in the traces.
//
// Commands go by the engine's SendCopyData (at most kSendTimeoutMs, not at all to a
// softphone the system knows to hang), so a hung softphone cannot freeze the agent;
// notifications sent meanwhile are handled inside the wait, as with SendMessage.
//
// Threads: GUI thread, except DispatchText, which the audio-device search thread may also
// call (a synchronous send of a record of its own).
#pragma once

#include "softphone/MessageEngine.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class CTextApiClient;

// What the engine does with one attach status.
struct TextAttachRow {
    enum Action {
        kAttached,   // remember the window; if not null: trace, the client's attach, ping timer
        kTraceOnly,  // the trace alone
        kDetach,     // the client's OnApiServerDetached and the trace
        kRediscover, // the trace, then a new discover
    };
    uint32_t status;
    Action action;
    const char* trace; // null: none
    bool forgetWindow; // the softphone's window is forgotten
    bool traceFirst;   // kDetach: the trace comes before the client's detach
};

struct TextEngineProfile {
    const char* discoverMessage; // registered names, e.g. "SkypeControlAPIDiscover"
    const char* attachMessage;   // "SkypeControlAPIAttach"
    const char* windowClass;     // the engine's own window class
    const char* engineName;      // for the discover's traces, e.g. "CSkypeMessageEngine"
    const char* dispatchName;    // "DispatchMessageToSkype": "%s returned - %x"
    const char* softphoneName;   // "Skype": "... did not take the message"
    // false: the discover is posted, and only when no window is known yet and the engine
    // has its own; true: it is sent to every top-level window at once, without checks.
    bool sendDiscoverToAll;
    // A discover broadcast by another window (not this engine's own) counts as the
    // softphone's "available again".
    bool foreignDiscoverRediscovers;
    const TextAttachRow* attachRows;
    size_t attachRowCount;
};

class CTextMessageEngine : public CMessageEngine {
public:
    static constexpr UINT_PTR kPingTimer = 16;
    static constexpr UINT kPingMs = 10000;

    CTextMessageEngine(CTextApiClient* client, const TextEngineProfile& profile);

    int DiscoverApiServer() override;
    void OnAttachMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DispatchMessageToApiServer(COPYDATASTRUCT* data) override { return DispatchText(data); }
    void OnTimer(UINT_PTR id) override;
    void Detach() override;

    // One WM_COPYDATA to the softphone's API window; 0 when none is known or it did not
    // take it.
    LRESULT DispatchText(COPYDATASTRUCT* data);
    HWND ApiWindow() const { return m_hApiWindow; }
    UINT DiscoverMessage() const { return m_uDiscoverMessage; }
    UINT AttachMessage() const { return m_uAttachMessage; }
    const TextEngineProfile& Profile() const { return m_Profile; }

protected:
    const char* WindowClassName() const override { return m_Profile.windowClass; }

private:
    void OnAttachStatus(HWND window, uint32_t status);

    CTextApiClient* m_pTextClient;
    const TextEngineProfile& m_Profile;
    UINT m_uDiscoverMessage = 0;
    UINT m_uAttachMessage = 0;
    std::atomic<HWND> m_hApiWindow{nullptr};
};
