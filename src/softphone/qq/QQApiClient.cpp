#include "softphone/qq/QQApiClient.h"

#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace qq;

namespace {

// UNKNOWN, UNPLACED, FAILED, or FINISHED to CANCELLED: no call is set up.
bool NoCall(int state) {
    return state == CALL_STATUS_UNKNOWN || state == CALL_STATUS_UNPLACED || state == CALL_STATUS_FAILED ||
           (state >= CALL_STATUS_FINISHED && state <= CALL_STATUS_CANCELLED);
}

// Items are binary: every byte as text, anything unprintable (tags, lengths, numbers) as '.'.
std::string ItemsAsText(const void* data, size_t length) {
    std::string text;
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; bytes && i < length && text.size() < 128; ++i) {
        text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? (char)bytes[i] : '.';
    }
    return text;
}

// The next item; a fault of the bytes is traced.
bool NextItem(CQQItemReader& reader, ReadItem* item) {
    std::string fault;
    const bool got = reader.Next(item, &fault);
    if (!fault.empty()) {
        TRACE("QQApiClient: bad item from QQ: %s\n", fault.c_str());
    }
    return got;
}

// The next item that a call status needs; its lack is traced.
bool NeededItem(CQQItemReader& reader, ReadItem* item, int status, const char* what) {
    if (NextItem(reader, item)) {
        return true;
    }
    TRACE("QQApiClient: call status %d without its %s item\n", status, what);
    return false;
}

std::string ItemText(const ReadItem& item) {
    bool terminated = false;
    std::string text = item.Text(&terminated);
    if (!terminated) {
        TRACE("QQApiClient: text of tag %d without its terminator: %u bytes taken\n", item.tag,
              (unsigned)item.taken);
    }
    return text;
}

} // namespace

constexpr int QQApiClient::kSignalTone[4];

QQApiClient::QQApiClient() {
    Construct();
}

QQApiClient::QQApiClient(IMixerApi& mixers) : COrvinApiClient(mixers) {
    Construct();
}

void QQApiClient::Construct() {
    m_pEngine = std::make_unique<CQQMessageEngine>(this);
    m_pMessageEngine = m_pEngine.get();
    m_DisplayName = "QQ";
}

QQApiClient::~QQApiClient() {
    m_pEngine.reset();
    m_pMessageEngine = nullptr;
}

void QQApiClient::ConnectToApiServer() {
    m_pEngine->DiscoverApiServer();
}

int QQApiClient::ToQQCallStatus(int status) const {
    switch (status) {
    case CALL_STATUS_ROUTING:
        return QQ_CALL_STATUS_CONNECTING;
    case CALL_STATUS_FAILED:
        return QQ_CALL_STATUS_FAIL;
    case CALL_STATUS_RINGING:
        return QQ_CALL_STATUS_RINGING;
    case CALL_STATUS_INPROGRESS:
        return QQ_CALL_STATUS_ACCEPT;
    case CALL_STATUS_ONHOLD:
    case CALL_STATUS_LOCALHOLD:
    case CALL_STATUS_REMOTEHOLD:
        return QQ_CALL_STATUS_HOLD;
    case CALL_STATUS_FINISHED:
    case CALL_STATUS_CANCELLED:
        return QQ_CALL_STATUS_FINISH;
    case CALL_STATUS_REFUSED:
        return QQ_CALL_STATUS_REJECT;
    case CALL_STATUS_BUSY:
        return QQ_CALL_STATUS_BUSY;
    case CALL_STATUS_OFFHOLD:
        return QQ_CALL_STATUS_RESUME;
    default:
        return 0;
    }
}

void QQApiClient::SendToSoftphone(uint32_t event, const void* data, size_t length) {
    char text[192];
    snprintf(text, sizeof text, "Event: 0x%x, info: %s", (unsigned)event, ItemsAsText(data, length).c_str());
    LogTraffic(text, kTrafficAgentToSoftphone);
    COPYDATASTRUCT copy = {(ULONG_PTR)event, (DWORD)length, const_cast<void*>(data)};
    m_pEngine->DispatchMessageToQQ(&copy);
}

// ---- Attach, connect, detach

void QQApiClient::LogConnected() {
    if (m_pMainDialog) {
        LogTraffic("API server connected!", kTrafficAgent);
        LogTraffic("===========================", kTrafficAgent);
    }
}

void QQApiClient::OnApiServerAttached() {
    LogConnected();
    SetConnectionFlags(kFlagApiAttached, 0);
    OnApiServerConnected();
}

void QQApiClient::OnApiServerDetached() {
    SetConnectionFlags(0, kFlagApiAttached);
    OnApiServerDisconnect();
    SelectAudioDevices(false);
}

void QQApiClient::OnApiServerConnected() {
    LogConnected();
    SetConnectionFlags(kFlagSoftphoneReady, 0);
    if (m_AudioDevices.GetPlaybackAudioDeviceId() == CAudioDevices::kNoAudioDevice) {
        m_AudioDevices.FindAudioDevices(m_RegistryRoot.c_str());
    }
    m_pEngine->SetTimer(CQQMessageEngine::kSelectAudioTimer, CQQMessageEngine::kSelectAudioMs);
    TRACE("QQApiClient::OnApiServerConnect() NotifyAgentStatus, AgentConnectedToVoip\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentConnectedToVoip);
}

void QQApiClient::OnApiServerDisconnect() {
    if (m_Session.m_nState == CALL_STATUS_RINGING) {
        RingIndicationOff();
        BusyIndication();
    } else if (m_Session.m_nState == CALL_STATUS_INPROGRESS) {
        BusyIndication();
    }
    SelectAudioDevices(false);
    SetConnectionFlags(0, kFlagSoftphoneReady);
    TRACE("QQApiClient::OnApiServerDisconnect()  NotifyAgentStatus, AgentDisconnectedFromVoip\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentDisconnectedFromVoip);
    // A disconnect within half a second of the connection: the pending device selection
    // would point QQ's audio back at an adapter that has gone. (No timer 16 is ever set.)
    m_pEngine->KillTimer(CQQMessageEngine::kSelectAudioTimer);
}

void QQApiClient::OnVoipAdapterAttach() {
    COrvinApiClient::OnVoipAdapterAttach();
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentStatusAdapterAttachedQqTelTel);
}

void QQApiClient::SelectAudioDevices(bool toAdapter) {
    const AudioDeviceSelection devices = m_AudioDevices.GetSelection();
    std::vector<uint8_t> items;
    char text[96];
    if (toAdapter && devices.playbackName && !devices.playbackName->empty()) {
        AppendTextItem(&items, QQ_TAG_DEVICE_NAME, *devices.playbackName, true);
        AppendNumberItem(&items, QQ_TAG_DEVICE_ID, devices.uPlaybackAudioDeviceId);
        snprintf(text, sizeof text, "Set Audio Device: %s", devices.playbackName->c_str());
    } else {
        AppendNumberItem(&items, QQ_TAG_DEVICE_ID, 0);
        snprintf(text, sizeof text, "Set Audio Device: %s", "Default Audio Device");
    }
    SendItems(EVENT_QQAPI_SET_AUDIO_DEVICE, items);
    LogTraffic(text, kTrafficAgentToSoftphone);
}

// ---- QQ's messages

void QQApiClient::OnApiServerMessage(const COPYDATASTRUCT* message) {
    if (!message) {
        return;
    }
    const uint32_t event = (uint32_t)message->dwData;
    const size_t length = message->lpData ? message->cbData : 0;
    TRACE("Message From QQ: EventType = 0x%x, MsgSize = 0x%x\n", (unsigned)event, (unsigned)length);
    CQQItemReader reader(message->lpData, length);
    ReadItem first;
    const bool hasFirst = NextItem(reader, &first);
    switch (event) {
    case EVENT_QQAPI_STATUS_CHANGE:
        TRACE("Message From QQ: Type = EVENT_QQAPI_STATUS_CHANGE\n");
        break;
    case EVENT_QQAPI_SHUTDOWN:
        TRACE("Message From QQ: Type = EVENT_QQAPI_SHUTDOWN\n");
        OnApiServerDetached();
        m_pEngine->Detach(); // QQ is gone: nothing more goes to its window
        break;
    case EVENT_QQAPI_ERROR:
        TRACE("Message From QQ: Type = EVENT_QQAPI_ERROR\n");
        break;
    case EVENT_QQAPI_CALL_STATUS:
        if (hasFirst && first.tag == QQ_TAG_CALL_STATUS) {
            OnCallStatusMessage(reader, first.Byte(), length);
        }
        break;
    default:
        break;
    }
}

void QQApiClient::OnCallStatusMessage(CQQItemReader& reader, int status, size_t length) {
    ReadItem item;
    uint32_t handle = 0;
    auto readHandle = [&] {
        if (NeededItem(reader, &item, status, "call handle")) {
            handle = item.Number();
        }
    };
    std::string caller;
    auto readCaller = [&] {
        if (NeededItem(reader, &item, status, "caller")) {
            caller = ItemText(item);
        }
    };
    int previous = 0;
    switch (status) {
    case QQ_CALL_STATUS_CONNECTING:
        readHandle();
        SwitchState(CALL_STATUS_ROUTING);
        m_Session.m_nCallId = (int)handle;
        TRACE("CALL STATUS: QQ_CALL_STATUS_CONNECTING (Handle = 0x%x)\n", handle);
        if (NeededItem(reader, &item, status, "first")) {
            readCaller();
            readCaller();
        }
        break;
    case QQ_CALL_STATUS_RINGING:
        readHandle();
        m_Session.m_nCallId = 0;
        SwitchState(CALL_STATUS_RINGING);
        m_Session.m_nCallId = (int)handle;
        TRACE("CALL STATUS: QQ_CALL_STATUS_RINGING (Handle = 0x%x)\n", handle);
        TRACE("Msg Len %d\n", (int)length);
        readCaller();
        break;
    case QQ_CALL_STATUS_BUSY:
        SwitchState(CALL_STATUS_BUSY);
        TRACE("CALL STATUS: QQ_CALL_STATUS_BUSY\n");
        return;
    case QQ_CALL_STATUS_ACCEPT:
        readHandle();
        SwitchState(CALL_STATUS_INPROGRESS);
        previous = m_Session.m_nCallId;
        m_Session.m_nCallId = (int)handle;
        TRACE("CALL STATUS: QQ_CALL_STATUS_ACCEPT (Handle = 0x%x)\n", handle);
        break;
    case QQ_CALL_STATUS_REJECT:
        readHandle();
        SwitchState(CALL_STATUS_REFUSED);
        m_Session.m_nCallId = (int)handle;
        TRACE("CALL STATUS: QQ_CALL_STATUS_REJECT (Handle = 0x%x)\n", handle);
        break;
    case QQ_CALL_STATUS_FINISH:
        readHandle();
        SwitchState(CALL_STATUS_FINISHED);
        m_Session.m_nCallId = (int)handle;
        TRACE("CALL STATUS: QQ_CALL_STATUS_FINISH (Handle = 0x%x)\n", handle);
        break;
    case QQ_CALL_STATUS_FAIL:
        readHandle();
        SwitchState(CALL_STATUS_FAILED);
        m_Session.m_nCallId = (int)handle;
        TRACE("CALL STATUS: QQ_CALL_STATUS_FAIL (Handle = 0x%x)\n", handle);
        break;
    case QQ_CALL_STATUS_HOLD:
        readHandle();
        m_Session.m_nCallId = (int)handle;
        SwitchState(CALL_STATUS_LOCALHOLD);
        TRACE("CALL STATUS: QQ_CALL_STATUS_HOLD: (Handle = 0x%x)\n", handle);
        break;
    case QQ_CALL_STATUS_RESUME:
        readHandle();
        m_Session.m_nCallId = (int)handle;
        SwitchState(CALL_STATUS_INPROGRESS);
        TRACE("CALL STATUS: QQ_CALL_STATUS_RESUME: (Handle = 0x%x)\n", handle);
        break;
    case QQ_CALL_STATUS_MUTE:
        readHandle();
        m_Session.m_nCallId = (int)handle;
        TRACE("CALL STATUS: QQ_CALL_STATUS_MUTE: (Handle = 0x%x)\n", handle);
        NextItem(reader, &item);
        return;
    default:
        return;
    }
    IMM record = {};
    record.Type = MSG_TYPE_CALL_EVENT;
    record.Code = m_Session.m_nState;
    record.Info = m_Session.m_nCallId;
    memcpy(record.Buffer1, caller.data(), std::min(caller.size(), sizeof record.Buffer1 - 1));
    if (status == QQ_CALL_STATUS_ACCEPT && previous != m_Session.m_nCallId) {
        // The handle QQ named before goes along, as the 4 bytes of Buffer2.
        memcpy(record.Buffer2, &previous, sizeof previous);
    }
    ReportCallStatus(record);
}

void QQApiClient::ReportCallStatus(const IMM& record) {
    static const char kNoBuffer[sizeof record.Buffer2] = {};
    if (memcmp(record.Buffer2, kNoBuffer, sizeof kNoBuffer) != 0) {
        SendRecordToService(record); // every byte as it is
        return;
    }
    // Buffer1 holds the caller's text, at most 23 bytes and its NUL.
    SendToService(record.Type, record.Code, record.Info, record.Buffer1[0] ? record.Buffer1 : nullptr);
}

// ---- The service's requests and the handset

void QQApiClient::SetCallStatus(int status, int info) {
    HandleCallStatusChange(status);
}

// The service asks to answer with INPROGRESS (5: the handset was lifted), whose QQ status
// is ACCEPT (4): QQ is told "answer" (145). RINGING (4) is never a request: it is what the
// agent reports to the service, and QQ's ringing status (2) is QQ's own to tell, so
// nothing is sent for it. Do not "correct" either to the other.
void QQApiClient::HandleCallStatusChange(int status) {
    const int qqStatus = ToQQCallStatus(status);
    TRACE("HandleCallStatusChange() CallStatus 0x%x\n", (unsigned)qqStatus);
    std::vector<uint8_t> items;
    switch (qqStatus) {
    case QQ_CALL_STATUS_BUSY:
    case QQ_CALL_STATUS_HOLD:
    case QQ_CALL_STATUS_RESUME:
        SwitchState(status);
        AppendByteItem(&items, QQ_TAG_CALL_STATUS, (uint8_t)qqStatus);
        AppendNumberItem(&items, QQ_TAG_CALL_ID, (uint32_t)m_Session.m_nCallId);
        SendItems(EVENT_QQAPI_CALL_STATUS, items);
        break;
    case QQ_CALL_STATUS_ACCEPT:
        AppendByteItem(&items, QQ_TAG_CALL_ACTION, QQ_CALL_ANSWER);
        SendItems(EVENT_QQAPI_CALL_CONTROL, items);
        break;
    case QQ_CALL_STATUS_FINISH:
        AppendByteItem(&items, QQ_TAG_CALL_ACTION, QQ_CALL_END);
        SendItems(EVENT_QQAPI_CALL_CONTROL, items);
        break;
    default:
        break;
    }
}

void QQApiClient::OnDtmfKey(const IMM& message) {
    const char key = (char)(message.Info & 0xFF);
    const char sendKey = pConfigParams ? pConfigParams->m_cSendKey : '*';
    if (key == sendKey && !m_CollectedDigits.empty()) {
        std::vector<uint8_t> items;
        AppendTextItem(&items, m_CollectedDigits.size() < 3 ? QQ_TAG_SHORT_NUMBER : QQ_TAG_NUMBER,
                       m_CollectedDigits, false);
        SendItems(EVENT_QQAPI_CALL_NUMBER, items);
        TRACE("Call Number: %s\n", m_CollectedDigits.c_str());
        char text[96];
        snprintf(text, sizeof text, "Call Number: %s", m_CollectedDigits.c_str());
        LogTraffic(text, kTrafficAgent);
        ClearCollectedDigits();
    } else if (key == '*') {
        if (m_CollectedDigits.empty()) {
            if (NoCall(m_Session.m_nState)) {
                SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentStatusLoneStarKey);
            }
        } else {
            ClearCollectedDigits();
        }
    } else if (key >= '0' && key <= '9') {
        m_CollectedDigits += key;
    } else {
        ClearCollectedDigits();
    }
    char text[160];
    snprintf(text, sizeof text, "HwEvent: %s, %d", EventName(message.Type, message.Code).text, message.Info);
    LogTraffic(text, kTrafficServiceToAgent);
}

void QQApiClient::UpdateVoiceMailsState() {
    const int messages = pConfigParams ? pConfigParams->m_nVoiceMessageWaiting : 0;
    TRACE("UpdateVoiceMailsState: VOIP State: %d, IVR messages: %d, Call State: %d", m_nLineState, messages,
          m_Session.m_nState);
    if (messages <= 0 || m_Session.m_nState == CALL_STATUS_RINGING ||
        m_Session.m_nState == CALL_STATUS_INPROGRESS) {
        return;
    }
    for (int i = 0; i < 2; ++i) {
        SendPlaybackSignalRequest(kSignalTone[0], kSignalTone[1], kSignalTone[2], kSignalTone[3]);
        Sleep(kSignalPauseMs);
    }
}

void QQApiClient::OnHookState(const IMM& message) {
    if (message.Info == HS_OffHook && m_nLineState == PC_VOIP) {
        UpdateVoiceMailsState();
    }
    COrvinApiClient::OnHookState(message);
}

void QQApiClient::OnLineState(const IMM& message) {
    if (message.Info == PC_VOIP) {
        ClearCollectedDigits();
        UpdateVoiceMailsState();
    }
    COrvinApiClient::OnLineState(message);
}
