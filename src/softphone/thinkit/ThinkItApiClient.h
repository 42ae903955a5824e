// CThinkItApiClient: the client for ThinkIt (softphone type 2), a softphone with a text API
// over window messages of the same kind as Skype's ("ThinkITControlAPIDiscover" and
// "ThinkITControlAPIAttach"). It is a text-API client (CTextApiClient) that differs from
// the Skype client where ThinkIt does:
//   - commands go as they are, in the system's ANSI code page, of any length; an empty one
//     is not sent;
//   - on connecting it asks only for the protocol, points ThinkIt's audio at the adapter's
//     devices once (no search thread) and reports itself connected at once; the friends
//     and their speed dial come only from what ThinkIt tells by itself;
//   - no keep-alive: a ThinkIt that goes away says so (attach status 3) and comes back with
//     "available again" (0x8001), or with a discover of its own; a disconnect (also the
//     adapter's going) forgets ThinkIt's window, so that the next discover finds it anew;
//   - a ringing call rings the telephone at once, and again once its caller is known; the
//     caller's name is the rest of the partner-handle notification (it may hold blanks);
//   - do-not-disturb is online status 3; the voicemail list follows ThinkIt's
//     notifications only;
//   - keys during a call go as "set call N dtmf K"; on the PSTN line a one- or two-digit
//     number is a speed dial, called only when a friend has it and is not offline
//     (ERROR_UNKNOWN_USER to the service otherwise);
//   - the service's call statuses become "SET CALL N Status WORD" with ThinkIt's words, and
//     nothing else (no "hook on").
//
// Threads: GUI thread only.
#pragma once

#include "softphone/TextApiClient.h"
#include "softphone/skype/VoiceMailManager.h"

class CThinkItApiClient : public CTextApiClient {
public:
    CThinkItApiClient();
    explicit CThinkItApiClient(IMixerApi& mixers);
    ~CThinkItApiClient() override;

    void OnApiServerConnected() override;
    void OnApiServerDisconnect() override;
    void SetCallStatus(int status, int callId) override;
    VoiceMailManager* VoiceMailList() override { return &m_VoiceMailMgr; }
    VoiceMailManager& VoiceMails() { return m_VoiceMailMgr; }

protected:
    void OnRinging(int id) override;
    void OnCallType(const VString& tokens) override;
    void OnPartnerHandle(const VString& tokens) override;
    void OnDialKey(char key, char sendKey) override;
    void SendKeyToCall(char key) override;

private:
    void Construct();

    VoiceMailManager m_VoiceMailMgr{this};
};
