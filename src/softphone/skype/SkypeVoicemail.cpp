// The Skype client's voicemail side: the playback callbacks, the voicemail-waiting check
// with its stutter tone, the voicemail timers and the end of activity at closing.
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/skype/SkypeApiClient.h"

namespace {

constexpr UINT_PTR kFirstLookTimer = 32;
constexpr UINT_PTR kNextVoicemailTimer = 48;
constexpr UINT_PTR kStutterTimer = 64;
constexpr UINT kNextVoicemailMs = 5000;
constexpr UINT kStutterMs = 2500;

} // namespace

void CSkypeApiClient::StutterTwice() {
    for (int i = 0; i < 2; ++i) {
        SendPlaybackSignalRequest(1, 4000, 600, 80);
        Sleep(100);
    }
}

void CSkypeApiClient::OnStartVoiceMailPlayback(const CVoiceMail& entry) {
    TRACE("OnStartVoiceMailPlayback() VmId=%d\n", entry.m_nId);
}

void CSkypeApiClient::OnEndVoiceMailPlayback(const CVoiceMail& entry) {
    TRACE("OnEndVoiceMailPlayback() VmId=%d\n\n", entry.m_nId);
    if (m_VoiceMailMgr.IsLast(entry)) {
        OnVoiceMailPlaybackLastMessage();
    } else {
        SendPlaybackSignalRequest(1, 5000, 1200, 300);
        if (m_nLineState == 2 && m_VoiceMailMgr.GetVMMState() == 5) {
            SetClientTimer(kNextVoicemailTimer, kNextVoicemailMs);
        }
    }
    if (!m_VoiceMailMgr.HasUnplayedIncoming()) {
        KillClientTimer(kStutterTimer);
    }
}

void CSkypeApiClient::OnVoiceMailPlaybackLastMessage() {
    TRACE("OnVoiceMailPlaybackLastMessage()");
    KillClientTimer(kNextVoicemailTimer);
    for (int i = 0; i < 3; ++i) {
        SendPlaybackSignalRequest(1, 5000, 1200, 200);
        if (i < 2) {
            Sleep(200);
        }
    }
}

void CSkypeApiClient::CheckVoicemailWaiting() {
    TRACE("m_VoiceMailMgr.GetVMMState()=%d", m_VoiceMailMgr.GetVMMState());
    if (m_Session.m_nState == CALL_STATUS_INPROGRESS || m_Session.m_nCallType == 1) {
        return;
    }
    m_VoiceMailMgr.SetVMMState(2);
    if (!m_VoiceMailMgr.IsEmpty()) {
        m_VoiceMailMgr.SetVMMState(3);
    }
    const bool waiting =
        m_VoiceMailMgr.HasUnplayedIncoming() || (pConfigParams && pConfigParams->m_nVoiceMessageWaiting);
    if (!LowCost() && waiting) {
        m_VoiceMailMgr.SetVMMState(4);
        StutterTwice();
        if (m_Session.m_nState == CALL_STATUS_FINISHED) {
            SetClientTimer(kStutterTimer, kStutterMs);
        }
    }
    if (m_VoiceMailMgr.IsEmpty()) {
        m_VoiceMailMgr.SetVMMState(2);
    }
}

void CSkypeApiClient::OnVoicemailTimer(UINT_PTR id) {
    if (id == kFirstLookTimer) {
        if (m_VoiceMailMgr.GetVMMState() != 1) {
            return; // keeps running
        }
        KillClientTimer(kFirstLookTimer);
        m_VoiceMailMgr.Print();
        if (const int unplayed = m_VoiceMailMgr.CountUnplayedIncoming()) {
            m_VoiceMailMgr.SetVMMState(4);
            TRACE("Pending Voicemails : %d messages", unplayed);
        }
    } else if (id == kNextVoicemailTimer) {
        if (m_VoiceMailMgr.GetVMMState() < 6) {
            KillClientTimer(kNextVoicemailTimer);
            m_VoiceMailMgr.KeepAndPlayNext();
        }
    } else if (id == kStutterTimer) {
        StutterTwice();
    }
}

void CSkypeApiClient::StopActivity() {
    if (m_VoiceMailMgr.GetVMMState() == 6) {
        KillClientTimer(kNextVoicemailTimer);
    }
}
