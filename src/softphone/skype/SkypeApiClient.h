// CSkypeApiClient: the API client for Skype's desktop API, a text-API client (CTextApiClient)
// with what Skype does more. Its commands go as UTF-8 of at most 255 bytes. Right after the
// connection it asks for Skype's version, the protocol, the user's status, points Skype's
// audio at the adapter, and asks for the voicemails and the friends; a ping every 10 s
// notices a Skype that went away or hangs (the third ping unanswered; the count starts
// afresh at every attach and a late pong never takes it below zero). Do-not-disturb makes
// the user unavailable (`m_bUserAvailable`) and the change back rings a waiting call again.
//
// The voicemail session is Skype's own: the handset plays the voicemails (line state 2),
// a stutter tone tells of waiting ones, and its keys keep or delete them.
//
// Threads: GUI thread, except the audio-device search thread (see CTextApiClient).
#pragma once

#include "softphone/TextApiClient.h"
#include "softphone/skype/SkypeMessageEngine.h"
#include "softphone/skype/VoiceMailManager.h"

#include <string>

class CSkypeApiClient : public CTextApiClient {
public:
    static constexpr int kCommandUnits = 256; // UTF-16 units and UTF-8 bytes, the zero included

    CSkypeApiClient();
    explicit CSkypeApiClient(IMixerApi& mixers);
    ~CSkypeApiClient() override;

    void OnApiServerDetached() override;
    void OnApiServerConnected() override;
    void OnApiServerDisconnect() override;
    void SetCallStatus(int status, int callId) override;
    void GoToVoiceMail() override;
    void OnHookState(const IMM& message) override;
    void OnLineState(const IMM& message) override;
    void Ping() override;
    void StopActivity() override;
    void SendMessageToApiServer(const std::string& text) override;
    void SendMessageToApiServer(const char* text) override;

    // The engine's timer ticks: 16 the ping; 32, 48 and 64 the voicemail timers.
    void OnClientTimer(UINT_PTR id) override;
    bool UserAvailable() const override { return m_bUserAvailable; }
    VoiceMailManager* VoiceMailList() override { return &m_VoiceMailMgr; }

    // On off-hook on VoIP and on the change to VoIP: the stutter tone when voicemail waits.
    void CheckVoicemailWaiting();
    VoiceMailManager& VoiceMails() { return m_VoiceMailMgr; }

    CSkypeMessageEngine* Engine() const { return static_cast<CSkypeMessageEngine*>(TextEngine()); }
    const std::string& CurrentUserHandle() const { return m_CurrentUserHandle; }

protected:
    bool OnOwnNotification(const VString& tokens) override;
    void OnUserStatus(const std::string& status) override;
    void OnRinging(int id) override;
    void OnDialKey(char key, char sendKey) override;
    void StopStutter() override;

private:
    void Construct();
    void OnVoicemailTimer(UINT_PTR id);
    void LeaveVoicemailSession();
    void StutterTwice();
    void SendCommand(const char* text, const char* form, const char* lineEnd);

    VoiceMailManager m_VoiceMailMgr{this};
    std::string m_CurrentUserHandle;
    bool m_bUserAvailable = true;
};
