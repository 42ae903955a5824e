// The Skype client's call control: Skype's call notifications become call events for the
// adapter's service (the telephone rings only once the caller is known), and the handset
// (hook, keys, keypad buttons, line) and the service's call-status requests become Skype
// commands.
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/skype/SkypeApiClient.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT_PTR kNextVoicemailTimer = 48;
constexpr UINT_PTR kStutterTimer = 64;

struct StatusWord {
    const char* word;
    int status;
    bool ends; // the call ended
};

const StatusWord kStatusWords[] = {
    {"routing", CALL_STATUS_ROUTING, false},
    {"failed", CALL_STATUS_FAILED, false},
    {"ringing", CALL_STATUS_RINGING, false},
    {"inprogress", CALL_STATUS_INPROGRESS, false},
    {"onhold", CALL_STATUS_LOCALHOLD, false},
    {"localhold", CALL_STATUS_LOCALHOLD, false},
    {"remotehold", CALL_STATUS_REMOTEHOLD, false},
    {"finished", CALL_STATUS_FINISHED, true},
    {"missed", CALL_STATUS_MISSED, true},
    {"refused", CALL_STATUS_REFUSED, true},
    {"busy", CALL_STATUS_BUSY, true},
    {"cancelled", CALL_STATUS_CANCELLED, true},
    {"vm_sent", CALL_STATUS_FINISHED, true},
    {"vm_failed", CALL_STATUS_FINISHED, true},
    {"vm_cancelled", CALL_STATUS_FINISHED, true},
};

// No call: UNKNOWN, UNPLACED, FAILED, or FINISHED to CANCELLED.
bool NoCall(int state) {
    return state == CALL_STATUS_UNKNOWN || state == CALL_STATUS_UNPLACED || state == CALL_STATUS_FAILED ||
           (state >= CALL_STATUS_FINISHED && state <= CALL_STATUS_CANCELLED);
}

} // namespace

void CSkypeApiClient::EndCall() {
    m_Session.m_nCallType = 0;
    RingIndicationOff();
    ClearCollectedDigits();
}

void CSkypeApiClient::ReportCallStatus(int status, bool notify) {
    SwitchState(status);
    TRACE("Incoming Skype Event: %s, callid:%d\n", EventName(MSG_TYPE_CALL_EVENT, status).text,
          m_Session.m_nCallId);
    if (notify && status != 0) {
        SendToService(MSG_TYPE_CALL_EVENT, status, m_Session.m_nCallId);
    }
}

void CSkypeApiClient::SendRinging() {
    SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING, m_Session.m_nCallId,
                  m_Session.m_CallerNumber.c_str(), m_Session.m_CallerName.c_str());
}

void CSkypeApiClient::OnCallNotification(const VString& tokens) {
    const int id = atoi(tokens[1].c_str());
    const std::string& what = tokens[2];
    if (what == "status") {
        OnCallStatusWord(id, tokens[3]);
    } else if (what == "pstn_status") {
        int status = 0;
        if (tokens[4] == "pstn" && tokens[5] == "hangup") {
            status = CALL_STATUS_FINISHED;
        } else if (tokens[5] == "busy") {
            status = CALL_STATUS_BUSY;
        }
        ReportCallStatus(status, true);
    } else if (what == "type") {
        if (tokens[3] == "incoming_p2p") {
            m_Session.m_nCallType = 1;
        } else if (tokens[3] == "incoming_pstn") {
            m_Session.m_nCallType = 3;
        }
        SendMessageToApiServer("get call " + std::to_string(m_Session.m_nCallId) + " partner_handle");
    } else if (what == "partner_handle") {
        m_Session.m_CallerName = tokens.Size() >= 4 ? tokens[3] : "UknownName";
        if (m_Session.m_nCallType == 1 && m_nProtocol > 4) {
            SendMessageToApiServer("get user " + m_Session.m_CallerName + " speeddial");
        } else if (m_Session.m_nCallType == 3) {
            SendMessageToApiServer("get call " + std::to_string(m_Session.m_nCallId) + " pstn_number");
        } else {
            TRACE("CSkypeApiClient m_bUserAvailable = %d", m_bUserAvailable ? 1 : 0);
            if (m_bUserAvailable && m_Session.m_nState == CALL_STATUS_RINGING) {
                SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING, m_Session.m_nCallId);
            }
        }
    } else if (what == "pstn_number") {
        TRACE("CSkypeApiClient m_bUserAvailable = %d", m_bUserAvailable ? 1 : 0);
        m_Session.m_CallerNumber = tokens.Size() >= 4 ? tokens[3] : "+0000000";
        RingIndicationOn();
        SendRinging();
    } else if (what == "failurereason") {
        static const char* const kReasons[] = {"No Valid PSTN Number for current user, callHandle:%d\n",
                                               "User/Phone Number does not exist, callHandle:%d\n",
                                               "User is offline, callHandle:%d\n",
                                               "No Proxy found, callHandle:%d\n",
                                               "Session terminated:%d\n",
                                               "No common codec found:%d\n"};
        const std::string& reason = tokens[3];
        if (reason.size() == 1 && reason[0] >= '1' && reason[0] <= '6') {
            TRACE(kReasons[reason[0] - '1'], id);
        }
        if (reason == "3") {
            SendToService(MSG_TYPE_ERROR, ERROR_UNKNOWN_USER, m_Session.m_nCallId);
        }
    } else if (what == "dtmf") {
        if (m_Session.m_nState == CALL_STATUS_INPROGRESS) {
            SendToService(MSG_TYPE_AGENT_EVENT, OOBDtmf, m_Session.m_nCallId,
                          tokens.Size() >= 4 ? tokens[3].c_str() : nullptr);
        }
        TRACE("Incoming Event: DTMF = %s\n", tokens[3].c_str());
    }
}

void CSkypeApiClient::OnCallStatusWord(int id, const std::string& word) {
    int status = 0;
    bool ends = false;
    for (const StatusWord& entry : kStatusWords) {
        if (word == entry.word) {
            status = entry.status;
            ends = entry.ends;
            break;
        }
    }
    bool notify = true;
    switch (status) {
    case CALL_STATUS_ROUTING:
        m_Session.m_nCallId = id;
        break;
    case CALL_STATUS_RINGING:
        notify = false;
        if (m_nLineState == 2) {
            if (!m_Session.m_nCallId) {
                SendMessageToApiServer("set call " + std::to_string(id) + " status finished");
            }
        } else if (id != m_Session.m_nCallId) {
            m_Session.m_nCallId = id;
            SwitchState(CALL_STATUS_RINGING);
            SendMessageToApiServer("get call " + std::to_string(id) + " type");
        }
        break;
    case CALL_STATUS_INPROGRESS:
        BusyIndication();
        break;
    case CALL_STATUS_REFUSED:
        if (m_nLineState == 2) {
            notify = false;
        }
        break;
    default:
        break;
    }
    if (ends) {
        EndCall();
    }
    ReportCallStatus(status, notify);
}

void CSkypeApiClient::OnSpeedDialNotification(const VString& tokens) {
    if (m_Session.m_nState != CALL_STATUS_RINGING) {
        return;
    }
    if (m_nProtocol > 4) {
        TRACE("m_Tokenizer.CountTokens() %d\n", tokens.Size());
        m_Session.m_CallerNumber = tokens.Size() == 4 ? tokens[3] : "00000";
        if (m_Session.m_nState == CALL_STATUS_RINGING) {
            TRACE("CSkypeApiClient m_bUserAvailable = %d", m_bUserAvailable ? 1 : 0);
            if (m_bUserAvailable) {
                SendRinging();
            }
            TRACE("CALLER ID NUMBER: %s\n", m_Session.m_CallerNumber.c_str());
        }
    }
    RingIndicationOn();
}

void CSkypeApiClient::OnUserAvailableAgain() {
    SendRinging();
    TRACE("CALLER ID NUMBER: %s\n", m_Session.m_CallerNumber.c_str());
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
    const char* word = "";
    switch (status) {
    case CALL_STATUS_UNPLACED:
    case CALL_STATUS_ROUTING:
        word = "unplaced";
        break;
    case CALL_STATUS_RINGING:
        word = "ringing";
        break;
    case CALL_STATUS_INPROGRESS:
    case CALL_STATUS_OFFHOLD:
        word = "inprogress";
        if (!m_Session.m_nCallId) {
            KillClientTimer(kStutterTimer);
        }
        break;
    case CALL_STATUS_ONHOLD:
        word = "onhold";
        break;
    case CALL_STATUS_LOCALHOLD:
        if (m_nLineState == 2 && !m_Session.m_nCallId && m_Session.m_nState == CALL_STATUS_INPROGRESS) {
            LeaveVoicemailSession();
        }
        word = "onhold";
        break;
    case CALL_STATUS_REMOTEHOLD:
        word = "remotehold";
        break;
    case CALL_STATUS_FAILED:
    case CALL_STATUS_FINISHED:
    case CALL_STATUS_MISSED:
    case CALL_STATUS_REFUSED:
    case CALL_STATUS_BUSY:
    case CALL_STATUS_CANCELLED:
        word = "finished";
        if (!m_Session.m_nCallId) {
            SwitchState(CALL_STATUS_FINISHED);
        }
        m_Session.m_nCallType = 0;
        SendMessageToApiServer("hook on");
        RingIndicationOff();
        break;
    default:
        break;
    }
    if (callId) {
        SendMessageToApiServer("SET CALL " + std::to_string(callId) + " Status " + word);
    }
}

void CSkypeApiClient::AppendDigit(char digit) {
    if (m_CollectedDigits.empty()) {
        KillClientTimer(kStutterTimer);
    }
    m_CollectedDigits += digit;
}

void CSkypeApiClient::Dial() {
    SendMessageToApiServer("CALL " + m_CollectedDigits);
    KillClientTimer(kStutterTimer);
    RingIndicationOn();
}

void CSkypeApiClient::OnDtmfKey(const IMM& message) {
    const char key = (char)message.Info;
    const char sendKey = pConfigParams ? pConfigParams->m_cSendKey : '*';
    const int state = m_Session.m_nState;
    if (m_nLineState == 0 || m_nLineState == 1) {
        if (key == sendKey && (state == CALL_STATUS_FAILED || state >= CALL_STATUS_FINISHED) &&
            !m_CollectedDigits.empty()) {
            Dial();
        }
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
    if (m_Session.m_nState == CALL_STATUS_INPROGRESS) {
        SendMessageToApiServer(std::string("BTN_PRESSED ") + key);
    }
    if (key >= '0' && key <= '9') {
        AppendDigit(key);
    } else {
        ClearCollectedDigits();
    }
    if (key == sendKey) {
        ClearCollectedDigits();
    }
    char text[160];
    snprintf(text, sizeof text, "HwEvent: %s, %c", EventName(message.Type, message.Code).text, key);
    LogTraffic(text, kTrafficServiceToAgent);
}

void CSkypeApiClient::OnKeypadEvent(const IMM& message) {
    if (m_nLineState != 0) {
        return;
    }
    const int code = message.Info;
    if (code >= 0 && code <= 9) {
        AppendDigit((char)('0' + code));
        return;
    }
    auto button = [&](const char* which) {
        SendMessageToApiServer("focus");
        SendMessageToApiServer(std::string("btn_released ") + which);
    };
    switch (code) {
    case 14:
        button("skype");
        break;
    case 16:
        if (m_Session.m_nState >= CALL_STATUS_FINISHED) {
            if (!m_CollectedDigits.empty()) {
                Dial();
            } else {
                button("yes");
            }
        }
        break;
    case 17:
        RingIndicationOff();
        ClearCollectedDigits();
        SendMessageToApiServer("hook on");
        break;
    case 18:
        button("up");
        break;
    case 19:
        button("down");
        break;
    default:
        ClearCollectedDigits();
        break;
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

// ---- Voicemail notifications

void CSkypeApiClient::OnVoicemailNotification(const VString& tokens) {
    if (tokens[0] == "voicemails") {
        m_VoiceMailMgr.OnVoicemails(tokens, m_nProtocol);
    } else if (tokens[2] == "status") {
        m_VoiceMailMgr.OnStatus(tokens);
    } else if (tokens[2] == "type") {
        m_VoiceMailMgr.OnType(tokens);
    }
}

void CSkypeApiClient::OnCanLeaveVoicemail(const VString& tokens) {
    if (tokens[3] == "true") {
        m_VoiceMailMgr.SetVMMState(1);
        TRACE("can_leave_vm = true");
    } else if (tokens[3] == "false") {
        m_VoiceMailMgr.SetVMMState(0);
        TRACE("can_leave_vm = false");
    }
}
