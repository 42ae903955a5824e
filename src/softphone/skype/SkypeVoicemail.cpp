// The Skype client's voicemail side: the voicemail-waiting check with its stutter tone, the
// voicemail timers and the end of activity at closing (the playback callbacks are the
// text-API clients' own, TextApiCallControl.cpp).
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/skype/SkypeApiClient.h"

namespace {

constexpr UINT_PTR kFirstLookTimer = 32;
constexpr UINT_PTR kNextVoicemailTimer = 48;
constexpr UINT_PTR kStutterTimer = 64;
constexpr UINT kStutterMs = 2500;

} // namespace

void CSkypeApiClient::StutterTwice() {
    for (int i = 0; i < 2; ++i) {
        SendPlaybackSignalRequest(1, 4000, 600, 80);
        Sleep(100);
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
