#include "softphone/thinkit/ThinkItApiClient.h"

#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"

#include <memory>

namespace {

const TextApiProfile kThinkItProfile = {
    "ThinkIt",
    "CThinkItApiClient",
    "Msg from ThinkIt: %s\n",
    "Incoming Event: %s, callid:%d\n",
    "ThinkIt connstatus: %s\n",
    "LOGGED OUT THINKIT\n",
    "ThinkIt User Status: %s\n",
    "ThinkIt Error: %s\n",
    "ThinkIt Error: %d\n",
    nullptr, // the main window is not looked for
    nullptr, // no version reply
    nullptr,
    nullptr,
    nullptr, // no keypad telephone buttons
    false,
    true,
    false, // the devices are looked for once, on connecting
};

// ThinkIt's attach statuses. Pending authorisation and refusal leave a window known from
// before as it is; "not available" ends in the disconnect, which forgets it; "available
// again" forgets it too before discovering anew, or the discover would find it known and
// ThinkIt would never be attached again.
const TextAttachRow kThinkItAttachRows[] = {
    {0, TextAttachRow::kAttached, "API server connected!\n", false, false},
    {1, TextAttachRow::kTraceOnly, "!!! Pending authorization\n", false, false},
    {2, TextAttachRow::kTraceOnly, "!!! Connection refused\n", false, false},
    {3, TextAttachRow::kDetach, "!!! THINKIT API not available\n", false, true},
    {0x8001, TextAttachRow::kRediscover, "!!! Try connect now (API available)\n", true, false},
};

const TextEngineProfile kThinkItEngineProfile = {
    "ThinkITControlAPIDiscover",
    "ThinkITControlAPIAttach",
    "OrvinThinkItMessageEngine",
    "CThinkItMessageEngine",
    "DispatchMessageTo ThinkIt",
    "ThinkIt",
    false, // posted, after the checks
    true,  // another program's discover: ThinkIt is there again
    kThinkItAttachRows,
    sizeof kThinkItAttachRows / sizeof kThinkItAttachRows[0],
};

constexpr int kContactOffline = 2; // CContactList's code of "offline"

} // namespace

CThinkItApiClient::CThinkItApiClient() : CTextApiClient(kThinkItProfile) {
    Construct();
}

CThinkItApiClient::CThinkItApiClient(IMixerApi& mixers) : CTextApiClient(kThinkItProfile, mixers) {
    Construct();
}

void CThinkItApiClient::Construct() {
    SetEngine(std::make_unique<CTextMessageEngine>(this, kThinkItEngineProfile));
}

CThinkItApiClient::~CThinkItApiClient() {
    StopAudioDeviceSearch();
}

void CThinkItApiClient::OnApiServerConnected() {
    if (m_pMainDialog) {
        LogTraffic("API server connected!", kTrafficAgent);
        LogTraffic("===========================", kTrafficAgent);
    }
    SetConnectionFlags(kFlagSoftphoneReady, 0);
    SendMessageToApiServer("protocol " + std::to_string(kProtocol));
    FindAudioDevicesOnce();
    const AudioDeviceSelection devices = m_AudioDevices.GetSelection();
    if (devices.captureName) {
        SetAudioIn(devices.captureName->c_str());
    }
    if (devices.playbackName) {
        SetAudioOut(devices.playbackName->c_str());
    }
    TRACE("CThinkItApiClient::OnApiServerConnect() NotifyAgentStatus, AgentConnectedToVoip\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentConnectedToVoip);
}

void CThinkItApiClient::OnApiServerDisconnect() {
    CTextApiClient::OnApiServerDisconnect();
    // Timer 16 stops, and ThinkIt's window is forgotten as Skype's is: a window kept known
    // would make the next discover (the adapter's return) stop at "Already discovered!",
    // and ThinkIt would never be attached again until it announced itself.
    m_pEngine->Detach();
}

// ---- Calls

void CThinkItApiClient::OnRinging(int id) {
    if (id != m_Session.m_nCallId) {
        // A new call: what is known of a caller belongs to the one before.
        m_Session.m_CallerNumber.clear();
        m_Session.m_CallerName.clear();
    }
    m_Session.m_nCallId = id;
    SwitchState(CALL_STATUS_RINGING);
    SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING, m_Session.m_nCallId);
}

void CThinkItApiClient::OnCallType(const VString& tokens) {
    if (tokens.Size() < 4) {
        return; // no type: nothing to go on with
    }
    if (tokens[3] == "incoming_pstn") {
        m_Session.m_nCallType = 3;
        TRACE("CALLER ID NAME: %s\n", m_Session.m_CallerName.c_str());
        TRACE(m_Profile.callEventTrace, EventName(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING).text,
              m_Session.m_nCallId);
        // A call from the telephone network rings whatever the user's status.
        SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING, m_Session.m_nCallId,
                      m_Session.m_CallerName.c_str());
    } else if (tokens[3] == "incoming_p2p") {
        m_Session.m_nCallType = 1;
        RingIndicationOn();
    }
    SendMessageToApiServer("get call " + std::to_string(m_Session.m_nCallId) + " partner_handle");
}

void CThinkItApiClient::OnPartnerHandle(const VString& tokens) {
    // The name is all that follows the third word; taken before anything is sent, since
    // ThinkIt may answer inside a send and so replace the notification in hand.
    std::string name = m_Tokenizer.RestAfter(3);
    m_Session.m_CallerName = name.empty() ? "UknownName" : name;
    if (m_nProtocol < kProtocol) {
        if (UserAvailable() && m_Session.m_nState == CALL_STATUS_RINGING) {
            SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING, m_Session.m_nCallId);
        }
    } else {
        SendMessageToApiServer("get user " + m_Session.m_CallerName + " speeddial");
    }
    TRACE("CALLER ID NAME: %s\n", m_Session.m_CallerName.c_str());
}

void CThinkItApiClient::SetCallStatus(int status, int callId) {
    const char* word = "";
    switch (status) {
    case CALL_STATUS_FAILED:
        word = "failed";
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
    case CALL_STATUS_FINISHED:
        word = "finished";
        break;
    case CALL_STATUS_MISSED:
        word = "missed";
        break;
    case CALL_STATUS_REFUSED:
        word = "refused";
        break;
    case CALL_STATUS_BUSY:
        word = "busy";
        break;
    case CALL_STATUS_CANCELLED:
        word = "cancelled";
        break;
    case CALL_STATUS_UNPLACED:
    case CALL_STATUS_ROUTING:
        word = "unplaced";
        break;
    default:
        break;
    }
    if (status == CALL_STATUS_FINISHED || status == CALL_STATUS_MISSED || status == CALL_STATUS_REFUSED ||
        status == CALL_STATUS_CANCELLED) {
        m_Session.m_nCallType = 0;
    }
    if (callId) {
        SendMessageToApiServer("SET CALL " + std::to_string(callId) + " Status " + word);
    }
}

// ---- The handset

void CThinkItApiClient::OnDialKey(char key, char sendKey) {
    // Any state without a call will do: after a missed or busy call (which stay the
    // session's state until the next call) the user must still be able to dial.
    if (key != sendKey || !NoCallToDialFrom() || m_CollectedDigits.empty()) {
        return;
    }
    if (m_nLineState == 1 && m_CollectedDigits.size() <= 2) {
        // On the PSTN line a short number is a friend's speed dial.
        const CContact* contact = m_ContactList.FindByNumber(m_CollectedDigits);
        if (!contact || contact->m_nStatus == kContactOffline) {
            SendToService(MSG_TYPE_ERROR, ERROR_UNKNOWN_USER, 0);
            return;
        }
    }
    if (m_nLineState == 0 || m_nLineState == 1) {
        Dial();
    }
}

void CThinkItApiClient::SendKeyToCall(char key) {
    SendMessageToApiServer("set call " + std::to_string(m_Session.m_nCallId) + " dtmf " + key);
}
