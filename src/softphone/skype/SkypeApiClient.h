// CSkypeApiClient: the API client for Skype's desktop API. It finds and attaches to the
// running Skype through its message engine, sends text commands (UTF-8, at most 255 bytes,
// only while Skype is ready) and dispatches Skype's notifications (lower-cased and split
// into tokens). Right after the connection it asks for Skype's version, the protocol, the
// user's status, points Skype's audio at the adapter, and asks for the voicemails and the
// friends; a ping every 10 s notices a Skype that went away or hangs (the third ping
// unanswered; the count starts afresh at every attach and a late pong never takes it
// below zero).
//
// Call, voicemail and contact notifications each have a handler of their own; the contact
// list is kept here, the call and voicemail handlers belong to the call-control side.
//
// Threads: GUI thread, except the audio-device search thread, which runs the device search
// every second until the adapter's devices appear and then selects them (it sends commands
// from its own thread; each command is built in a string of its own).
#pragma once

#include "softphone/ContactList.h"
#include "softphone/OrvinApiClient.h"
#include "softphone/skype/SkypeMessageEngine.h"
#include "softphone/skype/VoiceMailManager.h"

#include <atomic>
#include <memory>
#include <string>

class CSkypeApiClient : public COrvinApiClient {
public:
    static constexpr int kProtocol = 5;
    static constexpr int kCommandUnits = 256; // UTF-16 units and UTF-8 bytes, the zero included

    CSkypeApiClient();
    explicit CSkypeApiClient(IMixerApi& mixers);
    ~CSkypeApiClient() override;

    void ConnectToApiServer() override;
    void OnApiServerMessage(const COPYDATASTRUCT* message) override;
    void OnApiServerAttached() override;
    void OnApiServerDetached() override;
    void OnApiServerConnected() override;
    void OnApiServerDisconnect() override;
    void ControlSoftphoneWindow(bool toVoip) override;
    void SetCallStatus(int status, int callId) override;
    void OnDtmfKey(const IMM& message) override;
    void OnKeypadEvent(const IMM& message) override;
    void GoToVoiceMail() override;
    void OnHookState(const IMM& message) override;
    void OnLineState(const IMM& message) override;
    void SelectAudioDevices(bool toAdapter) override;
    void SetAudioIn(const char* name) override;
    void SetAudioOut(const char* name) override;
    void Ping() override;
    void StopActivity() override;
    void SendMessageToApiServer(const std::string& text) override;
    void SendMessageToApiServer(const char* text) override;

    // The engine's timer ticks: 16 the ping; 32, 48 and 64 the voicemail timers.
    virtual void OnClientTimer(UINT_PTR id);

    // The voicemail manager's callbacks, from Skype's status notifications.
    void OnStartVoiceMailPlayback(const CVoiceMail& entry);
    void OnEndVoiceMailPlayback(const CVoiceMail& entry);
    void OnVoiceMailPlaybackLastMessage();
    // On off-hook on VoIP and on the change to VoIP: the stutter tone when voicemail waits.
    void CheckVoicemailWaiting();
    // Timers on the engine's window (ids 32, 48, 64 for voicemail).
    void SetClientTimer(UINT_PTR id, UINT elapse) { m_pEngine->SetTimer(id, elapse); }
    void KillClientTimer(UINT_PTR id) { m_pEngine->KillTimer(id); }
    VoiceMailManager& VoiceMails() { return m_VoiceMailMgr; }

    // Version texts "a.b.c.d" compared part by part as unsigned numbers (missing parts 0):
    // true when `version` is at least `minimum`.
    static bool VersionAtLeast(const std::string& version, const int32_t minimum[4]);

    CSkypeMessageEngine* Engine() const { return m_pEngine.get(); }
    CContactList& Contacts() { return m_ContactList; }
    int ProtocolLevel() const { return m_nProtocol; }
    const std::string& CurrentUserHandle() const { return m_CurrentUserHandle; }
    bool UserAvailable() const { return m_bUserAvailable; }
    int OnlineStatus() const { return m_nOnlineStatus; }
    int PendingPings() const { return m_nPendingPings; }

protected:
    // The call-control and voicemail sides: what the "call", "voicemail", "voicemails" and
    // "can_leave_vm" notifications and a friend's speed dial lead to.
    void OnCallNotification(const VString& tokens);
    void OnSpeedDialNotification(const VString& tokens);
    void OnVoicemailNotification(const VString& tokens);
    void OnCanLeaveVoicemail(const VString& tokens);
    // The user left do-not-disturb while a call rings: ring the telephone now.
    void OnUserAvailableAgain();
    // Shown when Skype's version is below MinSoftphoneVersion.
    virtual void ShowOldVersionBox();

private:
    void OnConnStatus(const std::string& status);
    void OnUserStatus(const std::string& status);
    void OnError(const VString& tokens);
    void OnUserNotification(const VString& tokens);
    void CheckVersion(const std::string& version);
    void Construct();
    void ReportDisconnected();
    void OnVoicemailTimer(UINT_PTR id);
    void OnCallStatusWord(int id, const std::string& word);
    void ReportCallStatus(int status, bool notify);
    void EndCall();
    void SendRinging();
    void AppendDigit(char digit);
    void Dial();
    void LeaveVoicemailSession();
    void StutterTwice();
    void SendCommand(const char* text, const char* form, const char* lineEnd);
    void StartAudioDeviceSearch();
    void StopAudioDeviceSearch();
    static unsigned __stdcall SetAudioDeviceThreadProc(void* data);
    static unsigned __stdcall OldVersionBoxThread(void* text);

    std::unique_ptr<CSkypeMessageEngine> m_pEngine;
    CContactList m_ContactList{this};
    VoiceMailManager m_VoiceMailMgr{this};
    HWND m_hSkypeMainWindow = nullptr;
    int m_nProtocol = 0;
    std::string m_CurrentUserHandle;
    bool m_bUserAvailable = true;
    HANDLE m_hAudioThread = nullptr;
    HANDLE m_hStopAudioSearch = nullptr;  // ends the search thread's one-second waits
    HANDLE m_hAudioTermination = nullptr; // "PERSONAL_GATEWAY_AUDIO_SET_THREAD_TERMINATION_EVENT"
    std::atomic<bool> m_bStopAudioSearch{false};
};
