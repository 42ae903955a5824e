// Call control of the text-API clients: the softphone's call notifications become call
// events for the adapter's service (the telephone rings only once the caller is known),
// and the handset (keys, keypad buttons) and the service's call-status requests become
// commands. The voicemail side of the playback callbacks is here too; the voicemail
// session itself is the Skype client's.
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/TextApiClient.h"
#include "softphone/skype/VoiceMailManager.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr UINT_PTR kNextVoicemailTimer = 48;
constexpr UINT kNextVoicemailMs = 5000;

struct StatusWord {
    const char* word;
    int status;
    bool ends;      // the call ended
    bool voicemail; // one of the voicemail words, for the clients that know them
};

const StatusWord kStatusWords[] = {
    {"routing", CALL_STATUS_ROUTING, false, false},
    {"failed", CALL_STATUS_FAILED, false, false},
    {"ringing", CALL_STATUS_RINGING, false, false},
    {"inprogress", CALL_STATUS_INPROGRESS, false, false},
    {"onhold", CALL_STATUS_LOCALHOLD, false, false},
    {"localhold", CALL_STATUS_LOCALHOLD, false, false},
    {"remotehold", CALL_STATUS_REMOTEHOLD, false, false},
    {"finished", CALL_STATUS_FINISHED, true, false},
    {"missed", CALL_STATUS_MISSED, true, false},
    {"refused", CALL_STATUS_REFUSED, true, false},
    {"busy", CALL_STATUS_BUSY, true, false},
    {"cancelled", CALL_STATUS_CANCELLED, true, false},
    {"vm_sent", CALL_STATUS_FINISHED, true, true},
    {"vm_failed", CALL_STATUS_FINISHED, true, true},
    {"vm_cancelled", CALL_STATUS_FINISHED, true, true},
};

} // namespace

void CTextApiClient::EndCall() {
    m_Session.m_nCallType = 0;
    RingIndicationOff();
    ClearCollectedDigits();
}

void CTextApiClient::ReportCallStatus(int status, bool notify) {
    SwitchState(status);
    TRACE(m_Profile.callEventTrace, EventName(MSG_TYPE_CALL_EVENT, status).text, m_Session.m_nCallId);
    if (notify && status != 0) {
        SendToService(MSG_TYPE_CALL_EVENT, status, m_Session.m_nCallId);
    }
}

void CTextApiClient::SendRinging() {
    SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING, m_Session.m_nCallId,
                  m_Session.m_CallerNumber.c_str(), m_Session.m_CallerName.c_str());
}

void CTextApiClient::OnCallNotification(const VString& tokens) {
    const int id = atoi(tokens[1].c_str());
    const std::string& what = tokens[2];
    if (what == "duration") {
        TRACE("Incoming Event: %s, callid:%d\n", what.c_str(), id);
    } else if (what == "subject") {
        TRACE("Incomming Event: %s, callid:%d\n", what.c_str(), id);
    } else if (what == "status") {
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
        OnCallType(tokens);
    } else if (what == "partner_handle") {
        OnPartnerHandle(tokens);
    } else if (what == "pstn_number") {
        TRACE("%s m_bUserAvailable = %d", m_Profile.className, UserAvailable() ? 1 : 0);
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

void CTextApiClient::OnCallStatusWord(int id, const std::string& word) {
    int status = 0;
    bool ends = false;
    for (const StatusWord& entry : kStatusWords) {
        if (word == entry.word && (!entry.voicemail || m_Profile.voicemailCallWords)) {
            status = entry.status;
            ends = entry.ends;
            break;
        }
    }
    if (m_Profile.unplacedIsAStatus && word == "unplaced") {
        status = CALL_STATUS_UNPLACED; // the state switch ignores it; the service is told
    }
    bool notify = true;
    switch (status) {
    case CALL_STATUS_ROUTING:
        m_Session.m_nCallId = id;
        break;
    case CALL_STATUS_RINGING:
        notify = false;
        OnRinging(id);
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

void CTextApiClient::OnRinging(int id) {
    if (id != m_Session.m_nCallId) {
        m_Session.m_nCallId = id;
        SwitchState(CALL_STATUS_RINGING);
        SendMessageToApiServer("get call " + std::to_string(id) + " type");
    }
}

void CTextApiClient::OnCallType(const VString& tokens) {
    if (tokens.Size() < 4) {
        return; // no type: nothing to go on with
    }
    if (tokens[3] == "incoming_p2p") {
        m_Session.m_nCallType = 1;
    } else if (tokens[3] == "incoming_pstn") {
        m_Session.m_nCallType = 3;
    }
    SendMessageToApiServer("get call " + std::to_string(m_Session.m_nCallId) + " partner_handle");
}

void CTextApiClient::OnPartnerHandle(const VString& tokens) {
    m_Session.m_CallerName = tokens.Size() >= 4 ? tokens[3] : "UknownName";
    if (m_Session.m_nCallType == 1 && m_nProtocol > 4) {
        SendMessageToApiServer("get user " + m_Session.m_CallerName + " speeddial");
    } else if (m_Session.m_nCallType == 3) {
        SendMessageToApiServer("get call " + std::to_string(m_Session.m_nCallId) + " pstn_number");
    } else {
        TRACE("%s m_bUserAvailable = %d", m_Profile.className, UserAvailable() ? 1 : 0);
        if (UserAvailable() && m_Session.m_nState == CALL_STATUS_RINGING) {
            SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING, m_Session.m_nCallId);
        }
    }
}

void CTextApiClient::OnSpeedDialNotification(const VString& tokens) {
    if (m_Session.m_nState != CALL_STATUS_RINGING) {
        return;
    }
    if (m_nProtocol > 4) {
        TRACE("m_Tokenizer.CountTokens() %d\n", tokens.Size());
        m_Session.m_CallerNumber = tokens.Size() == 4 ? tokens[3] : "00000";
        if (m_Session.m_nState == CALL_STATUS_RINGING) {
            TRACE("%s m_bUserAvailable = %d", m_Profile.className, UserAvailable() ? 1 : 0);
            if (UserAvailable()) {
                SendRinging();
            }
            TRACE("CALLER ID NUMBER: %s\n", m_Session.m_CallerNumber.c_str());
        }
    }
    RingIndicationOn();
}

void CTextApiClient::OnUserAvailableAgain() {
    SendRinging();
    TRACE("CALLER ID NUMBER: %s\n", m_Session.m_CallerNumber.c_str());
}

// ---- Requests from the service and the handset

void CTextApiClient::SetCallStatus(int status, int callId) {
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
        break;
    case CALL_STATUS_ONHOLD:
    case CALL_STATUS_LOCALHOLD:
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

void CTextApiClient::AppendDigit(char digit) {
    if (m_CollectedDigits.empty()) {
        StopStutter();
    }
    m_CollectedDigits += digit;
}

void CTextApiClient::Dial() {
    SendMessageToApiServer("CALL " + m_CollectedDigits);
    StopStutter();
    RingIndicationOn();
}

bool CTextApiClient::NoCallToDialFrom() const {
    const int state = m_Session.m_nState;
    return state == CALL_STATUS_FAILED || state >= CALL_STATUS_FINISHED;
}

void CTextApiClient::OnDialKey(char key, char sendKey) {
    if ((m_nLineState == 0 || m_nLineState == 1) && key == sendKey && NoCallToDialFrom() &&
        !m_CollectedDigits.empty()) {
        Dial();
    }
}

void CTextApiClient::SendKeyToCall(char key) {
    SendMessageToApiServer(std::string("BTN_PRESSED ") + key);
}

void CTextApiClient::OnDtmfKey(const IMM& message) {
    const char key = (char)message.Info;
    const char sendKey = pConfigParams ? pConfigParams->m_cSendKey : '*';
    OnDialKey(key, sendKey);
    if (m_Session.m_nState == CALL_STATUS_INPROGRESS) {
        SendKeyToCall(key);
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

void CTextApiClient::OnKeypadEvent(const IMM& message) {
    if (!m_Profile.keypadWord || m_nLineState != 0) {
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
        button(m_Profile.keypadWord);
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

// ---- The voicemail list's playback callbacks

void CTextApiClient::OnStartVoiceMailPlayback(const CVoiceMail& entry) {
    TRACE("OnStartVoiceMailPlayback() VmId=%d\n", entry.m_nId);
}

void CTextApiClient::OnEndVoiceMailPlayback(const CVoiceMail& entry) {
    TRACE("OnEndVoiceMailPlayback() VmId=%d\n\n", entry.m_nId);
    VoiceMailManager* voicemails = VoiceMailList();
    if (!voicemails) {
        return;
    }
    if (voicemails->IsLast(entry)) {
        OnVoiceMailPlaybackLastMessage();
    } else {
        SendPlaybackSignalRequest(1, 5000, 1200, 300);
        if (m_nLineState == 2 && voicemails->GetVMMState() == 5) {
            SetClientTimer(kNextVoicemailTimer, kNextVoicemailMs);
        }
    }
    if (!voicemails->HasUnplayedIncoming()) {
        StopStutter();
    }
}

void CTextApiClient::OnVoiceMailPlaybackLastMessage() {
    TRACE("OnVoiceMailPlaybackLastMessage()");
    KillClientTimer(kNextVoicemailTimer);
    for (int i = 0; i < 3; ++i) {
        SendPlaybackSignalRequest(1, 5000, 1200, 200);
        if (i < 2) {
            Sleep(200);
        }
    }
}
