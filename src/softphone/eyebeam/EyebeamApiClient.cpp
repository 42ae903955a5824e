#include "softphone/eyebeam/EyebeamApiClient.h"

#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/eyebeam/EyebeamRecord.h"

#include <cstdio>

namespace {

// UNKNOWN, UNPLACED, FAILED, or FINISHED to CANCELLED: no call is set up.
bool NoCall(int state) {
    return state == CALL_STATUS_UNKNOWN || state == CALL_STATUS_UNPLACED || state == CALL_STATUS_FAILED ||
           (state >= CALL_STATUS_FINISHED && state <= CALL_STATUS_CANCELLED);
}

} // namespace

CEyebeamApiClient::CEyebeamApiClient() {
    Construct();
}

CEyebeamApiClient::CEyebeamApiClient(IMixerApi& mixers) : COrvinApiClient(mixers) {
    Construct();
}

void CEyebeamApiClient::Construct() {
    m_pEngine = std::make_unique<CEyebeamMessageEngine>(this);
    m_pMessageEngine = m_pEngine.get();
    m_DisplayName = "EyeBeam";
}

CEyebeamApiClient::~CEyebeamApiClient() {
    m_pEngine.reset();
    m_pMessageEngine = nullptr;
}

void CEyebeamApiClient::ConnectToApiServer() {
    m_pEngine->DiscoverApiServer();
}

void CEyebeamApiClient::SendEventToSoftphone(int type, int code, int info) {
    char text[96];
    snprintf(text, sizeof text, "EventType: 0x%x, Event:0x%x, Info:0x%x", (unsigned)type, (unsigned)code,
             (unsigned)info);
    LogTraffic(text, kTrafficAgentToSoftphone);
    uint8_t record[eyebeam::kRecordSize];
    eyebeam::MakeRecord(record, type, code, info);
    COPYDATASTRUCT data = {0, (DWORD)sizeof record, record};
    m_pEngine->DispatchMessageToEyeBeam(&data);
}

// ---- Attach, connect, detach

void CEyebeamApiClient::LogConnected() {
    if (m_pMainDialog) {
        LogTraffic("API server connected!", kTrafficAgent);
        LogTraffic("===========================", kTrafficAgent);
    }
}

void CEyebeamApiClient::OnApiServerAttached() {
    LogConnected();
    SetConnectionFlags(kFlagApiAttached, 0);
    OnApiServerConnected();
}

void CEyebeamApiClient::OnApiServerDetached() {
    SetConnectionFlags(0, kFlagApiAttached);
    OnApiServerDisconnect();
    SelectAudioDevices(false);
}

void CEyebeamApiClient::OnApiServerConnected() {
    LogConnected();
    SetConnectionFlags(kFlagSoftphoneReady, 0);
    if (m_AudioDevices.GetPlaybackAudioDeviceId() == CAudioDevices::kNoAudioDevice) {
        m_AudioDevices.FindAudioDevices(m_RegistryRoot.c_str());
    }
    TRACE("CEyebeamApiClient::OnApiServerConnect() NotifyAgentStatus, AgentConnectedToVoip\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentConnectedToVoip);
}

void CEyebeamApiClient::OnApiServerDisconnect() {
    if (m_Session.m_nState == CALL_STATUS_RINGING) {
        RingIndicationOff();
    }
    SelectAudioDevices(false);
    SetConnectionFlags(0, kFlagSoftphoneReady);
    TRACE("CEyebeamApiClient::OnApiServerDisconnect()  NotifyAgentStatus, AgentDisconnectedFromVoip\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentDisconnectedFromVoip);
}

// ---- EyeBeam's records

void CEyebeamApiClient::OnApiServerMessage(const COPYDATASTRUCT* message) {
    int32_t type = 0;
    int32_t event = 0;
    const size_t size = message ? message->cbData : 0;
    const void* data = message ? message->lpData : nullptr;
    if (!eyebeam::ReadField(data, size, eyebeam::kRecordTypeOffset, &type) ||
        !eyebeam::ReadField(data, size, eyebeam::kRecordCodeOffset, &event)) {
        TRACE("==>>Message From EyeBeam: record of %u bytes ignored: it needs %u\n", (unsigned)size,
              (unsigned)eyebeam::kRecordReadableSize);
        return;
    }
    bool forward = false;
    if (type == MSG_TYPE_CALL_EVENT) {
        if (event == CALL_STATUS_RINGING) {
            m_Session.m_nCallId = kCallId;
            SwitchState(CALL_STATUS_RINGING);
            forward = true;
        } else if (event >= 0 && event <= CALL_STATUS_CANCELLED) {
            SwitchState(event);
            forward = true;
        }
    }
    const EventName catalogueName(MSG_TYPE_CALL_EVENT, event);
    const char* name = event == eyebeam::kEventOffHook      ? "EUSBEvent_OffHook"
                       : event == eyebeam::kEventRingingOff ? "EUSBEvent_RingingOff"
                                                            : catalogueName.text;
    if (event == eyebeam::kEventRingingOff) {
        TRACE("EUSBEvent_RingingOff received: State = 0x%x", (unsigned)m_Session.m_nState);
        const int state = m_Session.m_nState;
        if (state == CALL_STATUS_ROUTING || state == CALL_STATUS_RINGING) {
            SwitchState(state == CALL_STATUS_ROUTING ? CALL_STATUS_INPROGRESS : CALL_STATUS_FINISHED);
            SendToService(type, m_Session.m_nState, m_Session.m_nCallId);
        }
    }
    TRACE("==>>Message From EyeBeam: Notify=%d, Type=%d, Event=%s, %d", forward ? 1 : 0, type, name, event);
    if (forward) {
        SendToService(type, m_Session.m_nState, m_Session.m_nCallId);
    }
}

// ---- The handset and the service

void CEyebeamApiClient::SetCallStatus(int status, int info) {
    if (status == CALL_STATUS_FINISHED || status == CALL_STATUS_MISSED || status == CALL_STATUS_REFUSED ||
        status == CALL_STATUS_CANCELLED) {
        m_Session.m_nCallType = 0;
    }
    if (info != 0) {
        SendEventToSoftphone(MSG_TYPE_CALL_EVENT, status, 0);
    }
}

void CEyebeamApiClient::OnHookState(const IMM& message) {
    if (message.Info == HS_OnHook) {
        SendEventToSoftphone(MSG_TYPE_HW_EVENT, NOTIFY_KEYPAD_EVENT, eyebeam::kKeypadHangUp);
    }
    COrvinApiClient::OnHookState(message);
}

void CEyebeamApiClient::OnDtmfKey(const IMM& message) {
    const char digit = (char)(message.Info & 0xFF);
    char text[160];
    snprintf(text, sizeof text, "HwEvent: %s, %d", EventName(message.Type, message.Code).text, message.Info);
    LogTraffic(text, kTrafficServiceToAgent);
    TRACE("HandleDTMFKey: DTMF=%c (%02x), State=%d, nCallNumber=%d", digit, (unsigned)(uint8_t)digit,
          m_Session.m_nState, (int)m_CollectedDigits.size());
    const char sendKey = pConfigParams ? pConfigParams->m_cSendKey : '*';
    if (m_CollectedDigits.size() > 1 && digit == sendKey) {
        ClearCollectedDigits();
        m_Session.m_nCallId = kCallId;
        SwitchState(CALL_STATUS_ROUTING);
        SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_ROUTING, kCallId);
        SendEventToSoftphone(MSG_TYPE_HW_EVENT, NOTIFY_KEYPAD_EVENT, eyebeam::kKeypadDial);
        return;
    }
    if (m_CollectedDigits.empty() && digit == '*' && NoCall(m_Session.m_nState)) {
        SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentStatusLoneStarKey);
        return;
    }
    m_CollectedDigits += digit;
    SendEventToSoftphone(MSG_TYPE_HW_EVENT, NOTIFY_DTMF_KEY, (uint8_t)digit);
}
