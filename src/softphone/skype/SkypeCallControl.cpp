// The Skype client's call control beyond the text-API clients' own (TextApiCallControl.cpp):
// a call that rings while the handset plays voicemails is refused, and the handset and the
// service's requests also drive the voicemail session (its keys, the star that ends it, the
// hold that leaves it, the stutter tone that keys and calls stop).
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/skype/SkypeApiClient.h"

namespace {

constexpr UINT_PTR kNextVoicemailTimer = 48;
constexpr UINT_PTR kStutterTimer = 64;

// No call: UNKNOWN, UNPLACED, FAILED, or FINISHED to CANCELLED.
bool NoCall(int state) {
    return state == CALL_STATUS_UNKNOWN || state == CALL_STATUS_UNPLACED || state == CALL_STATUS_FAILED ||
           (state >= CALL_STATUS_FINISHED && state <= CALL_STATUS_CANCELLED);
}

} // namespace

void CSkypeApiClient::StopStutter() {
    KillClientTimer(kStutterTimer);
}

void CSkypeApiClient::OnRinging(int id) {
    if (m_nLineState == 2) {
        // The user listens to voicemails: a new call is refused.
        if (!m_Session.m_nCallId) {
            SendMessageToApiServer("set call " + std::to_string(id) + " status finished");
        }
        return;
    }
    CTextApiClient::OnRinging(id);
}

// ---- Requests from the service and the handset

void CSkypeApiClient::LeaveVoicemailSession() {
    m_nLineState = 1;
    KillClientTimer(kNextVoicemailTimer);
    KillClientTimer(kStutterTimer);
    m_VoiceMailMgr.StopPlayback();
    SwitchState(CALL_STATUS_FINISHED);
    SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_FINISHED, 0);
}

void CSkypeApiClient::SetCallStatus(int status, int callId) {
    switch (status) {
    case CALL_STATUS_INPROGRESS:
    case CALL_STATUS_OFFHOLD:
        if (!m_Session.m_nCallId) {
            KillClientTimer(kStutterTimer);
        }
        break;
    case CALL_STATUS_LOCALHOLD:
        if (m_nLineState == 2 && !m_Session.m_nCallId && m_Session.m_nState == CALL_STATUS_INPROGRESS) {
            LeaveVoicemailSession();
        }
        break;
    case CALL_STATUS_FAILED:
    case CALL_STATUS_FINISHED:
    case CALL_STATUS_MISSED:
    case CALL_STATUS_REFUSED:
    case CALL_STATUS_BUSY:
    case CALL_STATUS_CANCELLED:
        if (!m_Session.m_nCallId) {
            SwitchState(CALL_STATUS_FINISHED);
        }
        break;
    default:
        break;
    }
    CTextApiClient::SetCallStatus(status, callId);
}

void CSkypeApiClient::OnDialKey(char key, char sendKey) {
    if (m_nLineState == 0 || m_nLineState == 1) {
        CTextApiClient::OnDialKey(key, sendKey);
    } else if (m_nLineState == 2 && m_VoiceMailMgr.GetVMMState() >= 5) {
        if (key == '1' || key == '2' || key == '3') {
            KillClientTimer(kNextVoicemailTimer);
        }
        if (key == '1') {
            m_VoiceMailMgr.Play();
        } else if (key == '2') {
            m_VoiceMailMgr.Delete();
        } else if (key == '3') {
            m_VoiceMailMgr.KeepAndPlayNext();
        } else if (key == '9') {
            m_VoiceMailMgr.DeleteAll();
        }
    }
    if (key == '*') {
        KillClientTimer(kStutterTimer);
        if (m_nLineState == 2) {
            SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_FINISHED, 0);
            m_VoiceMailMgr.StopPlayback();
            m_nLineState = 0;
            ClearCollectedDigits();
            SwitchState(CALL_STATUS_FINISHED);
        } else if (m_CollectedDigits.empty() && NoCall(m_Session.m_nState)) {
            SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentStatusLoneStarKey);
        }
    }
}

void CSkypeApiClient::OnHookState(const IMM& message) {
    if (message.Info == HS_OnHook) {
        if (m_VoiceMailMgr.GetVMMState() > 4) {
            SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_FINISHED, 0);
            m_VoiceMailMgr.StopPlayback();
        }
        if (m_VoiceMailMgr.HasUnplayedIncoming() ||
            (pConfigParams && pConfigParams->m_nVoiceMessageWaiting)) {
            KillClientTimer(kStutterTimer);
        }
        SwitchState(CALL_STATUS_FINISHED);
        KillClientTimer(kNextVoicemailTimer);
        if (m_nLineState == 2) {
            m_nLineState = 0;
        }
    } else if (message.Info == HS_OffHook && m_nLineState == 0) {
        CheckVoicemailWaiting();
    }
    COrvinApiClient::OnHookState(message);
}

void CSkypeApiClient::OnLineState(const IMM& message) {
    if (message.Info == PC_PSTN) {
        KillClientTimer(kStutterTimer);
    } else if (message.Info == PC_VOIP) {
        CheckVoicemailWaiting();
        ClearCollectedDigits();
    }
    if (m_VoiceMailMgr.GetVMMState() > 4) {
        SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_FINISHED, 0);
        SwitchState(CALL_STATUS_FINISHED);
        KillClientTimer(kNextVoicemailTimer);
        m_VoiceMailMgr.StopPlayback();
    }
    COrvinApiClient::OnLineState(message);
}

void CSkypeApiClient::GoToVoiceMail() {
    TRACE("CSkypeApiClient::GoToVoiceMail called. Call session state is %d", m_Session.m_nState);
    if (!NoCall(m_Session.m_nState)) {
        return;
    }
    TRACE("Going to Skype Voice Mail...");
    m_nLineState = 2;
    m_VoiceMailMgr.SetVMMState(5);
    KillClientTimer(kStutterTimer);
    SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_INPROGRESS, 0);
    m_Session.m_nCallId = 0;
    SwitchState(CALL_STATUS_INPROGRESS);
    m_VoiceMailMgr.BuildPlayList();
    m_VoiceMailMgr.Play();
}
