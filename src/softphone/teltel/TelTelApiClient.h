// CTelTelApiClient: the API client for TelTel (softphone type 10). TelTel is driven through
// its own library (CTelTelApiWrapper): plain calls answer, call, hang up, mute and point
// TelTel's audio at the adapter, and four callbacks tell of TelTel's rings and calls.
// There is no handshake: every 2 s the client asks the library whether TelTel is ready,
// and attaches (AgentConnectedToVoip to the service, the adapter's audio devices to
// TelTel) or detaches (AgentDisconnectedFromVoip) when the answer changes. TelTel calls
// have the call id 1; the callbacks carry no caller data.
//
// The handset: a number keyed on the telephone is called with the send key (TelTel is
// told only "call": it dials what it has; the service hears ROUTING, then INPROGRESS);
// other keys reach nobody but the collected digits. The service's call events answer,
// hang up, mute and unmute. The voicemail side (the voicemail manager and the voicemail
// mode: 0 none, 1 left by a hold request, 2 a voicemail session) only tells of voice
// messages waiting, with the stutter tone when the handset is lifted on VoIP: TelTel has
// no voicemails of its own to play.
//
// Threads. Everything runs on the GUI thread, with three exceptions. TelTel's callbacks
// arrive on the library's threads: the sink operations hand each event over to the GUI
// thread (HandOverToGuiThread) in the order they came, and do nothing else there. The
// audio-device thread runs the device search every second until the adapter's playback
// device appears and then selects the devices in TelTel from its own thread; a disconnect
// stops it (its devices would be TelTel's no more), and the destructor waits for it
// however long it takes, before the wrapper it calls goes.
//
// The adapter's going (NOTIFY_CLOSE_DEVICE) detaches the client and stops the readiness
// poll; its return restarts the poll, whose next ready answer attaches anew: the service
// hears AgentConnectedToVoip again and TelTel gets the adapter's devices again.
#pragma once

#include "softphone/OrvinApiClient.h"
#include "softphone/skype/VoiceMailManager.h"
#include "softphone/teltel/TelTelApiWrapper.h"
#include "softphone/teltel/TelTelMessageEngine.h"

#include <atomic>
#include <memory>

class CTelTelApiClient : public COrvinApiClient, public ITelTelCallSink {
public:
    static constexpr int kCallId = 1;
    // How long the library stays loaded after TelTel_Unregister, for TelTel's own threads
    // to finish what they began.
    static constexpr DWORD kUnloadGraceMs = 2000;

    // With TelTelAPI.DLL and the system's mixers.
    CTelTelApiClient();
    // With the given mixers and a made-up library instead of TelTelAPI.DLL (tests).
    CTelTelApiClient(IMixerApi& mixers, const TelTelFunctionTable& library);
    ~CTelTelApiClient() override;

    void Init(IOrvinAgentDialog* dialog, const std::string& registryRoot) override;
    void ConnectToApiServer() override;
    void OnApiServerAttached() override;
    void OnApiServerDetached() override;
    void OnApiServerConnected() override;
    void OnApiServerDisconnect() override;
    void OnVoipAdapterAttach() override;
    void OnVoipAdapterDetach() override;
    void ControlSoftphoneWindow(bool toVoip) override;
    void SelectAudioDevices(bool toAdapter) override;
    void SetAudioIn(const char* name) override;
    void SetAudioOut(const char* name) override;
    void SetCallStatus(int status, int info) override;
    void OnDtmfKey(const IMM& message) override;
    void Ping() override;
    void OnHookState(const IMM& message) override;
    void OnLineState(const IMM& message) override;
    // Slot after the base's: 0 ring start, 1 ring stop, 2 call start, 3 call end.
    virtual void ParseIncommingEvent(int event);

    // The call-notification sink, on TelTel's threads.
    void NotifyRingStart(uint32_t value) override;
    void NotifyRingStop(uint32_t value) override;
    void NotifyCallStart(uint32_t value) override;
    void NotifyCallEnd(uint32_t value) override;

    CTelTelApiWrapper* Wrapper() const { return m_pTelTelAPIWrapper.get(); }
    CTelTelMessageEngine* Engine() const { return m_pEngine.get(); }
    bool Attached() const { return m_nAttached != 0; }
    int VoiceMailMode() const { return m_nVoiceMailMode; }
    // The voicemail side's mode (2 while a voicemail session runs).
    void SetVoiceMailMode(int mode) { m_nVoiceMailMode = mode; }
    VoiceMailManager& VoiceMails() { return m_VoiceMailMgr; }

private:
    void Construct();
    void HandOver(int event);
    // The voicemail mode's set-up: the voice-message-waiting check, with the stutter tone.
    void CheckVoicemailWaiting();
    bool VoicemailPlaying() const { return m_VoiceMailMgr.GetVMMState() == 6; }
    void EndVoicemailSession();
    void Dial();
    void StartAudioThread();
    void StopAudioThread();
    static unsigned __stdcall SetAudioDeviceThreadProc(void* data);

    std::unique_ptr<CTelTelMessageEngine> m_pEngine;
    std::unique_ptr<CTelTelApiWrapper> m_pTelTelAPIWrapper;
    int m_nAttached = 0;
    int m_nVoiceMailMode = 0;
    // TelTel lists no voicemails: the manager stays empty and never sends a command.
    VoiceMailManager m_VoiceMailMgr{nullptr};
    std::atomic<bool> m_bStopAudioThread{false};
    HANDLE m_hAudioTermination = nullptr; // "PERSONAL_GATEWAY_AUDIO_SET_THREAD_TERMINATION_EVENT"
    HANDLE m_hStopAudioWait = nullptr;    // ends the thread's one-second waits at once
    HANDLE m_hAudioThread = nullptr;
    std::string m_AudioThreadRoot; // the registry root the thread searches with
};
