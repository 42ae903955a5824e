#include "softphone/OrvinApiClient.h"

#include "base/trace/Trace.h"
#include "devicelink/AdapterEnum.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/MessageEngine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// A heap copy of one adapter message on its way to the GUI thread (lParam).
const UINT kAdapterEventMessage = WM_APP + 0x41;
const UINT kTrafficLineMessage = WM_APP + 0x42; // lParam: a heap copy of the text
const UINT kStandbyReviewMessage = WM_APP + 0x43;
const UINT kHandOverWorkMessage = WM_APP + 0x44; // lParam: a heap std::function<void()>
const char* const kHandOverClass = "OrvinApiClientEvents";

const char* const kPrefixes[] = {"[AG]==>", "[SF-->AG]==>", "[AG-->SF]==>", "[SM-->AG]==>", "[AG-->SM]==>"};

// Into a zeroed field: at most size - 1 characters, so that a zero always ends the text
// (the service reads each field up to its zero). Never past the caller's text.
void CopyText(char* to, size_t size, const char* from) {
    if (from && size) {
        memcpy(to, from, strnlen(from, size - 1));
    }
}

void PutLittleEndian32(char* to, int32_t value) {
    const uint32_t bits = (uint32_t)value;
    for (int i = 0; i < 4; ++i) {
        to[i] = (char)(bits >> (8 * i) & 0xFF);
    }
}

} // namespace

const char* TrafficPrefix(int direction) {
    return direction >= 0 && direction < 5 ? kPrefixes[direction] : nullptr;
}

COrvinApiClient::COrvinApiClient() {
    m_uAppChannelMessage = RegisterWindowMessageA("WM_APP_MESSAGE_CHANNEL");
}

COrvinApiClient::COrvinApiClient(IMixerApi& mixers) : m_AudioDevices(mixers) {
    m_uAppChannelMessage = RegisterWindowMessageA("WM_APP_MESSAGE_CHANNEL");
}

COrvinApiClient::~COrvinApiClient() {
    // The voice dialogues report through this client: they end before it does.
    EndVoiceDialogues();
    Close();
    DestroyHandOverWindow();
    if (m_bHoldingStandby) {
        SetThreadExecutionState(ES_CONTINUOUS);
    }
}

void COrvinApiClient::Init(IOrvinAgentDialog* dialog, const std::string& registryRoot) {
    m_RegistryRoot = registryRoot;
    m_pMainDialog = dialog;
    m_uAppChannelMessage = RegisterWindowMessageA("WM_APP_MESSAGE_CHANNEL");
    if (m_pMainDialog) {
        m_pMainDialog->SetApiClient(this);
        m_pMainDialog->SetMessageEngine(m_pMessageEngine);
    }
    m_Tokenizer.SetDelimiters(" ,");
    SetConnectionFlags(0, 0, true);
    OnAudioDevicesRoot(m_RegistryRoot);

    // The window that carries adapter messages over to this thread exists before the first
    // message can arrive.
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HandOverWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kHandOverClass;
    RegisterClassA(&windowClass); // fails harmlessly when already registered
    m_dwGuiThreadId = GetCurrentThreadId();
    m_hHandOverWindow = CreateWindowExA(0, kHandOverClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    if (m_hHandOverWindow) {
        SetWindowLongPtrA(m_hHandOverWindow, GWLP_USERDATA, (LONG_PTR)this);
    } else {
        TRACE("COrvinApiClient::Init - ERROR: Can not create the event window (Err=%d)", (int)GetLastError());
    }

    Open(EventEntry, 0, this);
    if (m_pMessageEngine) {
        m_pMessageEngine->Create(this);
    }
    if (IvrManagerFactory factory = GetIvrManagerFactory()) {
        m_pIvrManager = factory(this, m_RegistryRoot);
    }
    RegisterWithService();
    TRACE("COrvinApiClient::Init()    NotifyAgentStatus, AgentAlive\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentAlive);
}

void COrvinApiClient::ReloadConfiguration() {
    if (IOrvinAgentApplication* application = GetAgentApplication()) {
        application->LoadRegistryParameters();
    }
    UpdateStandbyHold();
}

void COrvinApiClient::SetMainDialog(IOrvinAgentDialog* dialog) {
    m_pMainDialog = dialog;
}

void COrvinApiClient::SetConfigParams(CConfigParams* params) {
    pConfigParams = params;
}

void COrvinApiClient::OnVoipAdapterAttach() {
    TRACE("OnVoipAdapterAttach(Status=0x%08x)", (unsigned)m_nConnectionFlags);
    LogTraffic("Orvin Adapter connected!", kTrafficAgent);
    SetConnectionFlags(kFlagAdapterAttached, 0);
    if (m_nConnectionFlags & kFlagApiAttached) {
        OnApiServerConnected();
    } else {
        ConnectToApiServer();
    }
}

void COrvinApiClient::OnVoipAdapterDetach() {
    LogTraffic("Orvin Adapter disconnected!", kTrafficAgent);
    SetConnectionFlags(0, kFlagAdapterAttached);
    if (m_nConnectionFlags & kFlagApiAttached) {
        OnApiServerDisconnect();
        SetConnectionFlags(0, kFlagApiAttached);
    }
    OnAudioDevicesReset();
}

void COrvinApiClient::Reinitialize() {
    if (!IsAdapterAvailable()) {
        return;
    }
    char root[kAdapterKeySize];
    FindAdapterRegistryRoot(root, sizeof root);
    m_RegistryRoot = root;
    if (m_pMainDialog) {
        m_pMainDialog->SetRegistryRoot(m_RegistryRoot);
    }
    OnAudioDevicesReinitialize(m_RegistryRoot);
    RegisterWithService();
    TRACE("COrvinApiClient::Init()    NotifyAgentStatus, AgentAlive\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentAlive);
    ReloadConfiguration();
    if (m_nConnectionFlags & kFlagSoftphoneReady) {
        SelectAudioDevices(true);
    }
    SetConnectionFlags(0, 0, true);
}

LRESULT COrvinApiClient::OnPowerManagementNotification(WPARAM event) {
    const int32_t flags = m_nConnectionFlags;
    if ((flags & 0x0F) != 0x0F) {
        TRACE("COrvinApiClient::OnPowerManagementNotification - Got power management request but not in the "
              "correct connection state %04X.",
              (unsigned)flags);
        return 0;
    }
    TRACE("COrvinApiClient::OnPowerManagementNotification - Got power management request and in the correct "
          "connection state %04X.",
          (unsigned)flags);
    switch (event) {
    case PBT_APMQUERYSUSPEND: {
        TRACE("COrvinApiClient::OnPowerManagementNotification - PBT_APMQUERYSUSPEND");
        LRESULT result = 0;
        if (InCall()) {
            TRACE(
                "COrvinApiClient::OnPowerManagementNotification - Automatically denying request for standby - "
                "in call");
            result = BROADCAST_QUERY_DENY;
        }
        if (m_pIvrManager && m_pIvrManager->HasActiveStateMachines()) {
            TRACE(
                "COrvinApiClient::OnPowerManagementNotification - Automatically denying request for standby - "
                "IVR Active");
            result = BROADCAST_QUERY_DENY;
        }
        if (pConfigParams && pConfigParams->IsCallForwardingActive()) {
            const bool denied = pConfigParams->IsPCStandbyOnCFWActiveDisabled();
            if (denied) {
                TRACE("COrvinApiClient::OnPowerManagementNotification - Automatically denying request for "
                      "standby - CF Active");
            } else {
                TRACE(
                    "COrvinApiClient::OnPowerManagementNotification - Ack request for standby - CF not Active");
            }
            TRACE("pConfigParams->IsPCStandbyOnCFWActiveDisabled() - %d", denied ? 1 : 0);
            if (denied) {
                return BROADCAST_QUERY_DENY;
            }
        }
        return result;
    }
    case PBT_APMQUERYSUSPENDFAILED:
        TRACE("COrvinApiClient::OnPowerManagementNotification - PBT_APMQUERYSUSPENDFAILED");
        return 0;
    case PBT_APMSUSPEND:
        TRACE("COrvinApiClient::OnPowerManagementNotification - PBT_APMSUSPEND");
        if (m_pMainDialog && m_pMainDialog->IsCallRecording()) {
            TRACE("PBT_APMSUSPEND received during active logging session. The logging will be stopped");
            m_pMainDialog->StopCallRecording();
        }
        return 0;
    case PBT_APMPOWERSTATUSCHANGE:
        TRACE("COrvinApiClient::OnPowerManagementNotification - PBT_APMPOWERSTATUSCHANGE");
        return 0;
    default:
        return 0;
    }
}

void COrvinApiClient::LogTraffic(const char* text, int direction) {
    const char* prefix = TrafficPrefix(direction);
    if (!prefix || !text) {
        return;
    }
    if (m_pMainDialog) {
        m_pMainDialog->AddTrafficLine(text, direction);
    }
    TRACE("%s%.128s\n", prefix, text);
}

void COrvinApiClient::SetVoiceMessageWaiting(int flag) {
    if (pConfigParams) {
        pConfigParams->m_nVoiceMessageWaiting = flag;
    }
}

void COrvinApiClient::OnHookState(const IMM& message) {
    m_nHookState = message.Info;
    const EventName name(message.Type, message.Code);
    char text[160];
    if (message.Info == HS_OnHook) {
        snprintf(text, sizeof text, "HwEvent: %s, OnHook", name.text);
        ClearCollectedDigits();
        RingIndicationOff();
        SetConnectionFlags(0, kFlagOffHook);
    } else if (message.Info == HS_OffHook) {
        snprintf(text, sizeof text, "HwEvent: %s, OffHook", name.text);
        SetConnectionFlags(kFlagOffHook, 0);
    } else {
        return;
    }
    LogTraffic(text, kTrafficServiceToAgent);
}

void COrvinApiClient::OnLineState(const IMM& message) {
    m_nLineState = message.Info;
    const EventName name(message.Type, message.Code);
    const bool windowControl = pConfigParams && pConfigParams->m_nSoftphoneWindowControl;
    char text[160];
    if (message.Info == PC_PSTN) {
        snprintf(text, sizeof text, "HwEvent: %s, PSTN", name.text);
        ClearCollectedDigits();
        if (windowControl) {
            ControlSoftphoneWindow(false);
        }
    } else if (message.Info == PC_VOIP) {
        if (windowControl) {
            ControlSoftphoneWindow(true);
        }
        snprintf(text, sizeof text, "HwEvent: %s, VOIP", name.text);
    } else {
        return;
    }
    LogTraffic(text, kTrafficServiceToAgent);
}

void COrvinApiClient::RegisterWithService() {
    SendEvent(0, 3, nullptr);
}

void COrvinApiClient::NotifyMonitor(LPARAM lParam, WPARAM wParam) {
    // Any program may have announced itself as the monitor, and every top-level window gets
    // a broadcast: one that hangs must not hang the agent's GUI thread.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(m_hMonitorWindow ? m_hMonitorWindow : HWND_BROADCAST, m_uAppChannelMessage, wParam, lParam,
                        SMTO_ABORTIFHUNG | SMTO_NORMAL, 2000, &ignored);
}

void COrvinApiClient::SendToService(int type, int code, int info, const char* buffer1, const char* buffer2,
                                    const char* payload) {
    IMM message = {};
    message.Type = type;
    message.Code = code;
    message.Info = info;
    CopyText(message.Buffer1, sizeof message.Buffer1, buffer1);
    CopyText(message.Buffer2, sizeof message.Buffer2, buffer2);
    CopyText(message.Payload, sizeof message.Payload, payload);
    if (type == MSG_TYPE_CALL_EVENT && code == CALL_STATUS_RINGING) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        snprintf(message.Buffer3, sizeof message.Buffer3, "%02u%02u%02u%02u", now.wMonth, now.wDay, now.wHour,
                 now.wMinute);
    }
    SendEvent(0, 1, &message);
    char text[128];
    snprintf(text, sizeof text, "%s, info:%d, buffer:%.32s", EventName(type, code).text, info,
             message.Buffer1);
    LogTraffic(text, kTrafficAgentToService);
}

void COrvinApiClient::SendRecordToService(const IMM& message) {
    SendEvent(0, 1, &message);
    char text[128];
    snprintf(text, sizeof text, "%s, info:%d, buffer:%.32s", EventName(message.Type, message.Code).text,
             message.Info, message.Buffer1);
    if (GetCurrentThreadId() == m_dwGuiThreadId) {
        LogTraffic(text, kTrafficAgentToService);
        return;
    }
    char* copy = _strdup(text);
    if (!copy || !m_hHandOverWindow ||
        !PostMessageA(m_hHandOverWindow, kTrafficLineMessage, 0, reinterpret_cast<LPARAM>(copy))) {
        free(copy);
        TRACE("%s%.128s", TrafficPrefix(kTrafficAgentToService), text);
    }
}

bool COrvinApiClient::HandOverToGuiThread(std::function<void()> work) {
    auto* copy = new (std::nothrow) std::function<void()>(std::move(work));
    if (!copy) {
        return false;
    }
    if (!m_hHandOverWindow ||
        !PostMessageA(m_hHandOverWindow, kHandOverWorkMessage, 0, reinterpret_cast<LPARAM>(copy))) {
        delete copy;
        return false;
    }
    return true;
}

void COrvinApiClient::RequestStandbyReview() {
    if (m_hHandOverWindow) {
        PostMessageA(m_hHandOverWindow, kStandbyReviewMessage, 0, 0);
    }
}

void COrvinApiClient::SendPlaybackSignalRequest(int a, int b, int c, int d) {
    // Numbers, not text: the first 16 bytes of Buffer1 hold them little-endian, the rest of
    // Buffer1 stays zero, and every byte goes (SendToService would stop at the first zero).
    IMM message = {};
    message.Type = MSG_TYPE_AGENT_EVENT;
    message.Code = PlaybackSignalRequest;
    message.Info = 1;
    const int32_t numbers[4] = {a, b, c, d};
    for (int i = 0; i < 4; ++i) {
        PutLittleEndian32(message.Buffer1 + 4 * i, numbers[i]);
    }
    SendRecordToService(message);
}

void COrvinApiClient::OnApiServerConnect() {
    TRACE("COrvinApiClient::NotifyEndInitization()\n");
    TRACE("COrvinApiClient::OnApiServerConnect() NotifyAgentStatus, AgentConnectedToVoip\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentConnectedToVoip);
    SetConnectionFlags(0, 0, true);
}

void COrvinApiClient::SwitchState(int state) {
    const int old = m_Session.m_nState;
    if (state >= 2 && state <= 13) {
        if (state == CALL_STATUS_REFUSED || state == CALL_STATUS_CANCELLED) {
            m_Session.m_nState = CALL_STATUS_FINISHED;
        } else if (state != CALL_STATUS_ONHOLD) {
            m_Session.m_nState = state;
        }
    }
    TRACE("Switch State: 0x%x-->0x%x\n", (unsigned)old, (unsigned)m_Session.m_nState);
    UpdateStandbyHold();
}

void COrvinApiClient::SetConnectionFlags(int32_t set, int32_t clear, bool force) {
    const int32_t flags = set | (m_nConnectionFlags & ~clear);
    if (flags == m_nConnectionFlags && !force) {
        return;
    }
    m_nConnectionFlags = flags;
    if (m_pMainDialog) {
        m_pMainDialog->RefreshStatus();
    }
    UpdateStandbyHold();
}

void COrvinApiClient::RingIndicationOn() {
    if ((m_nConnectionFlags & (kFlagAdapterAttached | kFlagSoftphoneReady)) ==
            (kFlagAdapterAttached | kFlagSoftphoneReady) &&
        m_nOnlineStatus == 2 && m_pMainDialog) {
        m_pMainDialog->RingIndicationOn();
    }
}

void COrvinApiClient::RingIndicationOff() {
    if (m_pMainDialog) {
        m_pMainDialog->RingIndicationOff();
    }
}

void COrvinApiClient::BusyIndication() {
    if (m_pMainDialog) {
        m_pMainDialog->BusyIndication();
    }
}

void COrvinApiClient::HandleJackSwapNotification(const IMM& message) {
    TRACE("COrvinApiClient::HandleJackSwapNotification");
    if (m_pMainDialog) {
        char text[160];
        snprintf(text, sizeof text, "HwEvent: %s, %d", EventName(message.Type, message.Code).text,
                 message.Info);
        LogTraffic(text, kTrafficServiceToAgent);
    }
    ShowErrorBox("Orvin Adapter", TranslatedText(41, "Line and phone cables are reversed!"), this);
}

void COrvinApiClient::PrepareForClosing() {
    TRACE("COrvinApiClient: PrepareForClosing...");
    // The voice dialogues end while the link is open: a report one sends on its way out
    // reaches the service before the closing status, and none can follow it.
    EndVoiceDialogues();
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentStatusClosing);
    Close();
    Sleep(200);
    StopActivity();
    if (m_bHoldingStandby) {
        m_bHoldingStandby = false;
        SetThreadExecutionState(ES_CONTINUOUS);
        TRACE("COrvinApiClient: the system may sleep again");
    }
}

void COrvinApiClient::EndVoiceDialogues() {
    if (m_pIvrManager) {
        IIvrManagerLink* manager = m_pIvrManager;
        m_pIvrManager = nullptr;
        manager->Release(); // waits for every dialogue's thread
    }
}

void COrvinApiClient::UpdateStandbyHold() {
    if (m_bShuttingDown) {
        return;
    }
    const bool ivrActive = m_pIvrManager && m_pIvrManager->HasActiveStateMachines();
    const bool forwarding = pConfigParams && pConfigParams->IsCallForwardingActive() &&
                            pConfigParams->IsPCStandbyOnCFWActiveDisabled();
    const bool hold = (m_nConnectionFlags & 0x0F) == 0x0F && (InCall() || ivrActive || forwarding);
    if (hold == m_bHoldingStandby) {
        return;
    }
    // Windows no longer asks before it sleeps: answering the query broadcast is not enough.
    if (SetThreadExecutionState(hold ? ES_SYSTEM_REQUIRED | ES_CONTINUOUS : ES_CONTINUOUS) == 0) {
        TRACE("COrvinApiClient: SetThreadExecutionState failed (Err=%d)", (int)GetLastError());
        return;
    }
    m_bHoldingStandby = hold;
    TRACE(hold ? "COrvinApiClient: the system is kept awake (call %d, IVR %d, call forwarding %d)"
               : "COrvinApiClient: the system may sleep again (call %d, IVR %d, call forwarding %d)",
          InCall() ? 1 : 0, ivrActive ? 1 : 0, forwarding ? 1 : 0);
}

// ---- Audio devices

void COrvinApiClient::OnAudioDevicesRoot(const std::string& root) {
    m_AudioDevices.FindAudioDevices(root.c_str());
}

void COrvinApiClient::OnAudioDevicesReset() {
    m_AudioDevices.Reset();
}

void COrvinApiClient::OnAudioDevicesReinitialize(const std::string& root) {
    if (m_AudioDevices.GetPlaybackAudioDeviceId() == CAudioDevices::kNoAudioDevice) {
        m_AudioDevices.FindAudioDevices(root.c_str());
    }
}

// ---- The adapter's messages

void COrvinApiClient::EventEntry(const IMM* message, uint32_t length, void* userData) {
    COrvinApiClient* self = static_cast<COrvinApiClient*>(userData);
    if (!self || !message || length != sizeof(IMM)) {
        return;
    }
    if (self->m_bShuttingDown) {
        TRACE("WARNING: Application is shutting down. Message (%s) ignored!",
              EventName(message->Type, message->Code).text);
        return;
    }
    IMM* copy = new (std::nothrow) IMM(*message);
    if (!copy) {
        TRACE("COrvinApiClient: ERROR: no memory for message (%s): dropped",
              EventName(message->Type, message->Code).text);
        return;
    }
    if (!self->m_hHandOverWindow ||
        !PostMessageA(self->m_hHandOverWindow, kAdapterEventMessage, 0, reinterpret_cast<LPARAM>(copy))) {
        TRACE("COrvinApiClient: ERROR: Can not hand message (%s) to the GUI thread (Err=%d): dropped",
              EventName(message->Type, message->Code).text, (int)GetLastError());
        delete copy;
    }
}

LRESULT CALLBACK COrvinApiClient::HandOverWindowProc(HWND window, UINT message, WPARAM wParam,
                                                     LPARAM lParam) {
    if (message == kAdapterEventMessage) {
        IMM* copy = reinterpret_cast<IMM*>(lParam);
        auto* self = reinterpret_cast<COrvinApiClient*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && copy) {
            self->HandleAdapterEvent(*copy);
        }
        delete copy;
        return 0;
    }
    if (message == kHandOverWorkMessage) {
        auto* work = reinterpret_cast<std::function<void()>*>(lParam);
        if (work && *work && GetWindowLongPtrA(window, GWLP_USERDATA)) {
            (*work)();
        }
        delete work;
        return 0;
    }
    if (message == kTrafficLineMessage || message == kStandbyReviewMessage) {
        auto* self = reinterpret_cast<COrvinApiClient*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        char* text = reinterpret_cast<char*>(lParam);
        if (self && message == kTrafficLineMessage && text) {
            self->LogTraffic(text, kTrafficAgentToService);
        } else if (self && message == kStandbyReviewMessage) {
            self->UpdateStandbyHold();
        }
        free(text);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void COrvinApiClient::DestroyHandOverWindow() {
    if (!m_hHandOverWindow) {
        return;
    }
    // Copies still queued belong to us.
    MSG message;
    while (PeekMessageA(&message, m_hHandOverWindow, kAdapterEventMessage, kAdapterEventMessage, PM_REMOVE)) {
        delete reinterpret_cast<IMM*>(message.lParam);
    }
    while (PeekMessageA(&message, m_hHandOverWindow, kTrafficLineMessage, kTrafficLineMessage, PM_REMOVE)) {
        free(reinterpret_cast<char*>(message.lParam));
    }
    while (PeekMessageA(&message, m_hHandOverWindow, kHandOverWorkMessage, kHandOverWorkMessage, PM_REMOVE)) {
        delete reinterpret_cast<std::function<void()>*>(message.lParam);
    }
    DestroyWindow(m_hHandOverWindow);
    m_hHandOverWindow = nullptr;
}

void COrvinApiClient::HandleAdapterEvent(const IMM& message) {
    const EventName name(message.Type, message.Code);
    if (m_bShuttingDown) {
        TRACE("WARNING: Application is shutting down. Message (%s) ignored!", name.text);
        return;
    }
    char text[160];
    switch (message.Type) {
    case MSG_TYPE_CALL_EVENT:
        snprintf(text, sizeof text, "CallEvent: %s, %d", name.text, message.Info);
        LogTraffic(text, kTrafficServiceToAgent);
        switch (message.Code) {
        case CALL_STATUS_INPROGRESS:
        case CALL_STATUS_FINISHED:
        case CALL_STATUS_OFFHOLD:
            SetCallStatus(message.Code, message.Info);
            ClearCollectedDigits();
            break;
        case CALL_STATUS_LOCALHOLD:
        case CALL_STATUS_REMOTEHOLD:
            SetCallStatus(message.Code, message.Info);
            break;
        case CALL_STATUS_UNPLACED:
        case CALL_STATUS_FAILED:
        case CALL_STATUS_MISSED:
        case CALL_STATUS_REFUSED:
        case CALL_STATUS_BUSY:
            ClearCollectedDigits();
            break;
        default:
            break;
        }
        break;
    case MSG_TYPE_HW_EVENT:
        switch (message.Code) {
        case NOTIFY_HOOK_STATE:
            OnHookState(message);
            break;
        case NOTIFY_DTMF_KEY:
            OnDtmfKey(message);
            break;
        case NOTIFY_VOIP_STATE:
            OnLineState(message);
            break;
        case NOTIFY_JACK_SWAP:
            HandleJackSwapNotification(message);
            break;
        case NOTIFY_OPEN_DEVICE:
            OnVoipAdapterAttach();
            SendToService(MSG_TYPE_HW_EVENT, 6, 0);
            break;
        case NOTIFY_CLOSE_DEVICE:
            OnVoipAdapterDetach();
            break;
        case NOTIFY_KEYPAD_EVENT:
            OnKeypadEvent(message);
            break;
        default:
            snprintf(text, sizeof text, "HwEvent: %s, %d", name.text, message.Info);
            LogTraffic(text, kTrafficServiceToAgent);
            break;
        }
        break;
    case MSG_TYPE_IVR_EVENT:
        if (m_pIvrManager) {
            m_pIvrManager->PostIvrEvent(message);
        }
        break;
    case MSG_TYPE_SM2AGENT_REQUEST:
        if (message.Code == SM2AGENT_GOTO_VOICEMAIL) {
            GoToVoiceMail();
        } else if (message.Code == SM2AGENT_SET_VOICE_MESSAGE_WAITING) {
            SetVoiceMessageWaiting(message.Info);
        }
        break;
    default: // monitor events and the rest: ignored
        break;
    }
}
