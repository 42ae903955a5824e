// CTextApiClient: what the clients of the softphones with a text API over window messages
// (Skype, Tessaro, ThinkIt) have in common. Each softphone has its own message engine
// window (CTextMessageEngine) that finds and attaches to it; commands go as text, one per
// WM_COPYDATA, only while the softphone is ready; notifications come the same way and are
// lower-cased and split into tokens, then dispatched: calls, friends and their speed dial,
// voicemails (for the clients that keep a voicemail list), connection and user status,
// protocol, version, errors.
//
// The names and the trace texts of each softphone are a table (TextApiProfile); where the
// softphones behave differently the operations are virtual. The defaults here are the plain
// ones (Tessaro's and ThinkIt's): texts sent as they are, in the system's ANSI code page and
// of any length; do-not-disturb as online status 3; a disconnect that ends the call but
// leaves the softphone's window known. The Skype client overrides what Skype does more.
//
// Call control (TextApiCallControl.cpp): the softphone's call notifications become call
// events for the adapter's service (the telephone rings once the caller is known), and the
// handset and the service's requests become commands.
//
// Threads: GUI thread, except the audio-device search thread, which runs the device search
// every second until the adapter's devices appear and then selects them (it sends commands
// from its own thread; each command is built in a string of its own). Each client's
// destructor stops that thread first, since the thread calls the client's virtual
// operations.
#pragma once

#include "softphone/ContactList.h"
#include "softphone/OrvinApiClient.h"
#include "softphone/TextMessageEngine.h"

#include <atomic>
#include <memory>
#include <string>

class VoiceMailManager;
class CVoiceMail;

// The names and trace texts of one softphone's client.
struct TextApiProfile {
    const char* displayName;      // "Skype"
    const char* className;        // "CSkypeApiClient", in the traces that name the class
    const char* receivedTrace;    // "Msg from Skype: %s"
    const char* callEventTrace;   // "Incoming Skype Event: %s, callid:%d\n"
    const char* connStatusTrace;  // "Skype connstatus: %s\n"
    const char* loggedOutTrace;   // "LOGGED OUT SKYPE\n"
    const char* userStatusTrace;  // "Skype User Status: %s\n"
    const char* errorTextTrace;   // "Skype Error: %s\n"
    const char* errorNumberTrace; // "Skype Error: %d\n"
    const char* mainWindowClass;  // the softphone's main window, looked up at attach; null: none
    const char* versionKeyword;   // the reply to the version query; null: not handled
    const char* versionTrace;     // "Skype Version %s \n"
    const char* oldVersionText;   // the box's English text (translated text 83)
    const char* keypadWord;       // button 14 sends "btn_released " + this; null: no keypad
    bool unplacedIsAStatus;       // "unplaced" gives CALL_STATUS_UNPLACED (else it means nothing)
    bool voicemailCallWords;      // "vm_sent", "vm_failed", "vm_cancelled" end a call
    bool audioSearchThread;       // the devices are looked for from a thread when not there yet
};

class CTextApiClient : public COrvinApiClient {
public:
    static constexpr int kProtocol = 5;

    ~CTextApiClient() override;

    void ConnectToApiServer() override;
    void OnApiServerMessage(const COPYDATASTRUCT* message) override;
    void OnApiServerAttached() override;
    void OnApiServerDetached() override;
    void OnApiServerDisconnect() override;
    void ControlSoftphoneWindow(bool toVoip) override;
    void SetCallStatus(int status, int callId) override;
    void OnDtmfKey(const IMM& message) override;
    void OnKeypadEvent(const IMM& message) override;
    void SelectAudioDevices(bool toAdapter) override;
    void SetAudioIn(const char* name) override;
    void SetAudioOut(const char* name) override;
    void SendMessageToApiServer(const std::string& text) override;
    void SendMessageToApiServer(const char* text) override;

    // The engine's timer ticks; the default does nothing with them.
    virtual void OnClientTimer(UINT_PTR id) {}
    // Whether a call from a friend may ring the telephone now (not in do-not-disturb).
    virtual bool UserAvailable() const { return m_nOnlineStatus != 3; }
    // The voicemail list, for the clients that keep one; null for the others.
    virtual VoiceMailManager* VoiceMailList() { return nullptr; }

    // The voicemail list's callbacks, from the softphone's status notifications.
    void OnStartVoiceMailPlayback(const CVoiceMail& entry);
    void OnEndVoiceMailPlayback(const CVoiceMail& entry);
    void OnVoiceMailPlaybackLastMessage();
    // Timers on the engine's window.
    void SetClientTimer(UINT_PTR id, UINT elapse) { m_pEngine->SetTimer(id, elapse); }
    void KillClientTimer(UINT_PTR id) { m_pEngine->KillTimer(id); }

    // Version texts "a.b.c.d" compared part by part as unsigned numbers (missing parts 0):
    // true when `version` is at least `minimum`.
    static bool VersionAtLeast(const std::string& version, const int32_t minimum[4]);

    CTextMessageEngine* TextEngine() const { return m_pEngine.get(); }
    const TextApiProfile& Profile() const { return m_Profile; }
    CContactList& Contacts() { return m_ContactList; }
    int ProtocolLevel() const { return m_nProtocol; }
    int OnlineStatus() const { return m_nOnlineStatus; }
    int PendingPings() const { return m_nPendingPings; }

protected:
    explicit CTextApiClient(const TextApiProfile& profile);
    CTextApiClient(const TextApiProfile& profile, IMixerApi& mixers);
    // Made by the derived client's constructor, which the engine calls back.
    void SetEngine(std::unique_ptr<CTextMessageEngine> engine);

    // Notifications: first the client's own keywords (true when it took the notification),
    // then the shared ones.
    virtual bool OnOwnNotification(const VString& tokens) { return false; }
    virtual void OnUserStatus(const std::string& status);
    // "call" id "status" "ringing": the default asks a new call's type (the same id is an
    // outgoing call now ringing at the far end: nothing).
    virtual void OnRinging(int id);
    // "call" id "type" t and "call" id "partner_handle" [h].
    virtual void OnCallType(const VString& tokens);
    virtual void OnPartnerHandle(const VString& tokens);
    // Step 1 of a handset key: the send key dials the keyed number when there is no call.
    virtual void OnDialKey(char key, char sendKey);
    // A handset key during a call, to the far end.
    virtual void SendKeyToCall(char key);
    // Called where the voicemail-waiting tone must stop (the Skype client's timer 64).
    virtual void StopStutter() {}
    // The search thread found the devices late.
    virtual void OnAudioDevicesFoundLate() { SelectAudioDevices(true); }
    // Shown when the softphone's version is below MinSoftphoneVersion.
    virtual void ShowOldVersionBox();

    // Helpers for the clients.
    // The tokens' keyword dispatch (the part of OnApiServerMessage after the tokenising).
    void OnNotification(const VString& tokens);
    // Sends the text (with its terminating zero, data word 0) to the softphone's window.
    void DispatchText(const char* bytes, size_t countWithZero);
    // The adapter's devices: one search when they are not known yet; true when both are.
    bool FindAudioDevicesOnce();
    void StartAudioDeviceSearch();
    void StopAudioDeviceSearch();
    void SignalAudioSearchDone();
    // "ping", and the softphone declared gone on the third unanswered one.
    void KeepAlive();
    void ReportConnected(); // NotifyAgentStatus AgentConnectedToVoip, traced
    void ReportDisconnected();
    // At a disconnect: the online status back to unknown (0).
    void ForgetOnlineStatus();
    void ReportCallStatus(int status, bool notify);
    void SendRinging(); // CALL_STATUS_RINGING with the caller's number and name
    void EndCall();
    void AppendDigit(char digit);
    void Dial();
    // The user left do-not-disturb while a call rings: ring the telephone now.
    void OnUserAvailableAgain();
    // No call set up: FAILED, or FINISHED and after.
    bool NoCallToDialFrom() const;

    const TextApiProfile& m_Profile;
    std::unique_ptr<CTextMessageEngine> m_pEngine;
    CContactList m_ContactList{this};
    HWND m_hMainWindow = nullptr; // the softphone's main window, when its class is known
    int m_nProtocol = 0;

private:
    void Construct();
    void OnCallNotification(const VString& tokens);
    void OnCallStatusWord(int id, const std::string& word);
    void OnSpeedDialNotification(const VString& tokens);
    void OnUserNotification(const VString& tokens);
    void OnVoicemailNotification(const VString& tokens);
    void OnConnStatus(const std::string& status);
    void OnError(const VString& tokens);
    void CheckVersion(const std::string& version);
    static unsigned __stdcall SetAudioDeviceThreadProc(void* data);
    static unsigned __stdcall OldVersionBoxThread(void* text);

    HANDLE m_hAudioThread = nullptr;
    HANDLE m_hStopAudioSearch = nullptr;  // ends the search thread's one-second waits
    HANDLE m_hAudioTermination = nullptr; // "PERSONAL_GATEWAY_AUDIO_SET_THREAD_TERMINATION_EVENT"
    std::atomic<bool> m_bStopAudioSearch{false};
};
