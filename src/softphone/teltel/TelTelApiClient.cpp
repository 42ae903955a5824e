#include "softphone/teltel/TelTelApiClient.h"

#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"

#include <process.h>

#include <cstdio>

namespace {

constexpr DWORD kSearchPassMs = 1000;
constexpr DWORD kDialSettleMs = 500;

} // namespace

CTelTelApiClient::CTelTelApiClient() {
    TRACE("CTelTelApiClient::CTelTelApiClient()");
    Construct();
    m_pTelTelAPIWrapper = std::make_unique<CTelTelApiWrapper>();
    TRACE("CTelTelApiClient::CTelTelApiClient");
}

CTelTelApiClient::CTelTelApiClient(IMixerApi& mixers, const TelTelFunctionTable& library)
    : COrvinApiClient(mixers) {
    TRACE("CTelTelApiClient::CTelTelApiClient()");
    Construct();
    m_pTelTelAPIWrapper = std::make_unique<CTelTelApiWrapper>(library);
    TRACE("CTelTelApiClient::CTelTelApiClient");
}

void CTelTelApiClient::Construct() {
    m_hAudioTermination =
        CreateEventA(nullptr, FALSE, FALSE, "PERSONAL_GATEWAY_AUDIO_SET_THREAD_TERMINATION_EVENT");
    m_hStopAudioWait = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_pEngine = std::make_unique<CTelTelMessageEngine>(this);
    m_pMessageEngine = m_pEngine.get();
    m_DisplayName = "TelTel";
}

CTelTelApiClient::~CTelTelApiClient() {
    TRACE("CTelTelApiClient::~CTelTelApiClient()");
    m_pEngine->KillTimer(CTelTelMessageEngine::kPollTimer);
    m_pTelTelAPIWrapper->Disconnect();
    const DWORD unregistered = GetTickCount();
    m_pEngine.reset();
    m_pMessageEngine = nullptr;
    StopAudioThread();
    if (m_hAudioTermination) {
        CloseHandle(m_hAudioTermination);
    }
    if (m_hStopAudioWait) {
        CloseHandle(m_hStopAudioWait);
    }
    // TelTel's threads may still be finishing what they began before TelTel_Unregister:
    // the library is unloaded only kUnloadGraceMs after it. The engine and the audio
    // thread went meanwhile, so this grace is the whole of the end's wait (an installer
    // that shuts the agent down waits about 40 s for it).
    const DWORD elapsed = GetTickCount() - unregistered;
    if (elapsed < kUnloadGraceMs) {
        Sleep(kUnloadGraceMs - elapsed);
    }
    m_pTelTelAPIWrapper.reset();
}

void CTelTelApiClient::Init(IOrvinAgentDialog* dialog, const std::string& registryRoot) {
    TRACE("CTelTelApiClient::Init");
    COrvinApiClient::Init(dialog, registryRoot);
    m_pTelTelAPIWrapper->SetHWND(m_pEngine->Window());
    // The sink is in place before the callbacks are registered: a ring that TelTel
    // reports at once is not lost.
    m_pTelTelAPIWrapper->SetSink(this);
    m_pTelTelAPIWrapper->Connect();
    m_nAttached = 0;
}

void CTelTelApiClient::ConnectToApiServer() {
    TRACE("CTelTelApiClient::Run");
    m_pEngine->SetTimer(CTelTelMessageEngine::kPollTimer, CTelTelMessageEngine::kPollMs);
}

void CTelTelApiClient::Ping() {
    const bool ready = m_pTelTelAPIWrapper->IsTelTelReady() == 1;
    if (ready) {
        OnApiServerAttached();
    } else {
        OnApiServerDetached();
    }
    TRACE("CTelTelApiClient::SendPing() - TelTel Client is %s", ready ? "READY" : "NOT READY");
}

// ---- Attach, connect, detach

void CTelTelApiClient::OnApiServerAttached() {
    TRACE("CTelTelApiClient::OnApiServerAttach()");
    if (!m_nAttached) {
        SetConnectionFlags(kFlagApiAttached, 0);
        OnApiServerConnected();
        m_nAttached = 1;
    }
}

void CTelTelApiClient::OnApiServerDetached() {
    TRACE("CTelTelApiClient::OnApiServerDetach()");
    if (m_nAttached) {
        OnApiServerDisconnect();
        SetConnectionFlags(0, kFlagApiAttached);
        m_nAttached = 0;
    }
}

void CTelTelApiClient::OnApiServerConnected() {
    TRACE("CTelTelApiClient::OnApiServerConnect()");
    SetConnectionFlags(kFlagSoftphoneReady, 0);
    if (m_AudioDevices.GetPlaybackAudioDeviceId() == CAudioDevices::kNoAudioDevice) {
        m_AudioDevices.FindAudioDevices(m_RegistryRoot.c_str());
    }
    if (m_AudioDevices.GetPlaybackAudioDeviceId() != CAudioDevices::kNoAudioDevice) {
        SetEvent(m_hAudioTermination);
        TRACE("Setting audio device");
        SelectAudioDevices(true);
    } else {
        TRACE("Setting thread in order to find audio device");
        StartAudioThread();
    }
    TRACE("CTelTelApiClient::OnApiServerConnect()  NotifyAgentStatus, AgentConnectedToVoip\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentConnectedToVoip);
}

void CTelTelApiClient::OnApiServerDisconnect() {
    // A search still under way would point TelTel at the adapter after this.
    StopAudioThread();
    SelectAudioDevices(false);
    RingIndicationOff();
    SwitchState(CALL_STATUS_FINISHED);
    ClearCollectedDigits();
    SetConnectionFlags(0, kFlagSoftphoneReady);
    TRACE("CTelTelApiClient::OnApiServerDisconnect()  NotifyAgentStatus, AgentDisconnectedFromVoip\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentDisconnectedFromVoip);
}

void CTelTelApiClient::OnVoipAdapterAttach() {
    COrvinApiClient::OnVoipAdapterAttach();
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentStatusAdapterAttachedQqTelTel);
}

void CTelTelApiClient::OnVoipAdapterDetach() {
    // The base has disconnected TelTel with the adapter; the attached flag goes with it,
    // or the poll after the adapter's return would find nothing new to announce. No poll
    // while the adapter is away: its return starts it again (ConnectToApiServer).
    m_pEngine->KillTimer(CTelTelMessageEngine::kPollTimer);
    COrvinApiClient::OnVoipAdapterDetach();
    m_nAttached = 0;
}

void CTelTelApiClient::ControlSoftphoneWindow(bool toVoip) {
    if (toVoip) {
        m_pTelTelAPIWrapper->BringToTop();
    }
}

// ---- TelTel's audio: the adapter's devices

void CTelTelApiClient::SelectAudioDevices(bool toAdapter) {
    if (!toAdapter) {
        m_pTelTelAPIWrapper->UnRegAudioDevices();
        return;
    }
    const AudioDeviceSelection devices = m_AudioDevices.GetSelection();
    if (devices.captureName) {
        SetAudioIn(devices.captureName->c_str());
    }
    if (devices.playbackName) {
        SetAudioOut(devices.playbackName->c_str());
    }
}

void CTelTelApiClient::SetAudioIn(const char* name) {
    const int result = m_pTelTelAPIWrapper->RegAudioDevices(name);
    TRACE("CTelTelApiClient::SetAudioIn(%s) returned %d", name ? name : "", result);
}

void CTelTelApiClient::SetAudioOut(const char* name) {
    SetAudioIn(name);
}

void CTelTelApiClient::StartAudioThread() {
    if (m_hAudioThread && WaitForSingleObject(m_hAudioThread, 0) == WAIT_TIMEOUT) {
        return; // already searching
    }
    if (m_hAudioThread) {
        CloseHandle(m_hAudioThread);
        m_hAudioThread = nullptr;
    }
    m_AudioThreadRoot = m_RegistryRoot;
    m_bStopAudioThread = false;
    ResetEvent(m_hStopAudioWait);
    m_hAudioThread = (HANDLE)_beginthreadex(nullptr, 0, SetAudioDeviceThreadProc, this, 0, nullptr);
    if (!m_hAudioThread) {
        TRACE("CTelTelApiClient: ERROR: Can not start the audio device thread (Err=%d)", (int)GetLastError());
        SetEvent(m_hAudioTermination);
    }
}

void CTelTelApiClient::StopAudioThread() {
    m_bStopAudioThread = true;
    SetEvent(m_hStopAudioWait);
    if (!m_hAudioThread) {
        return; // none ever ran: nothing to wait for
    }
    // The thread ends within its current pass (its waits end at once now), and it uses
    // this object and the wrapper: it must be gone before either is, however long its
    // pass takes. Messages sent to this thread meanwhile are taken.
    while (MsgWaitForMultipleObjects(1, &m_hAudioThread, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
    CloseHandle(m_hAudioThread);
    m_hAudioThread = nullptr;
}

unsigned __stdcall CTelTelApiClient::SetAudioDeviceThreadProc(void* data) {
    auto* self = static_cast<CTelTelApiClient*>(data);
    TRACE("CTelTelApiClient::SetAudioDeviceThreadProc()");
    while (!self->m_bStopAudioThread) {
        if (WaitForSingleObject(self->m_hStopAudioWait, kSearchPassMs) == WAIT_OBJECT_0) {
            break;
        }
        self->m_AudioDevices.FindAudioDevices(self->m_AudioThreadRoot.c_str());
        if (self->m_AudioDevices.GetPlaybackAudioDeviceId() != CAudioDevices::kNoAudioDevice) {
            self->SelectAudioDevices(true);
            break;
        }
    }
    SetEvent(self->m_hAudioTermination);
    return 0;
}

// ---- TelTel's callbacks

void CTelTelApiClient::HandOver(int event) {
    if (IsShuttingDown()) {
        TRACE("WARNING: Application is shutting down. TelTel event %d ignored!", event);
        return;
    }
    if (!HandOverToGuiThread([this, event] { ParseIncommingEvent(event); })) {
        TRACE("CTelTelApiClient: ERROR: Can not hand TelTel event %d to the GUI thread (Err=%d): dropped",
              event, (int)GetLastError());
    }
}

void CTelTelApiClient::NotifyRingStart(uint32_t value) {
    TRACE("CTelTelApiClient::NotifyRingStart");
    HandOver(0);
}

void CTelTelApiClient::NotifyRingStop(uint32_t value) {
    HandOver(1);
}

void CTelTelApiClient::NotifyCallStart(uint32_t value) {
    TRACE("CTelTelApiClient::NotifyCallStart");
    HandOver(2);
}

void CTelTelApiClient::NotifyCallEnd(uint32_t value) {
    TRACE("CTelTelApiClient::NotifyCallEnd");
    HandOver(3);
}

void CTelTelApiClient::ParseIncommingEvent(int event) {
    TRACE("CTelTelApiClient::ParseIncommingEvent");
    switch (event) {
    case 0:
        TRACE("CTelTelApiClient::ParseIncommingEvent - TELTEL_VOIP_IN_START_RING");
        m_Session.m_nCallId = kCallId;
        m_Session.m_nCallType = 1;
        SwitchState(CALL_STATUS_RINGING);
        SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING, kCallId, m_Session.m_CallerNumber.c_str(),
                      m_Session.m_CallerName.c_str());
        break;
    case 1:
        TRACE("CTelTelApiClient::ParseIncommingEvent - TELTEL_VOIP_IN_STOP_RING");
        m_Session.m_nCallType = 1;
        SwitchState(CALL_STATUS_INPROGRESS);
        m_Session.m_nCallId = kCallId;
        RingIndicationOff();
        BusyIndication();
        SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_INPROGRESS, kCallId);
        break;
    case 2:
        TRACE("CTelTelApiClient::ParseIncommingEvent - TELTEL_VOIP_IN_CALL_START");
        break;
    case 3: {
        TRACE("CTelTelApiClient::ParseIncommingEvent - TELTEL_VOIP_IN_CALL_END");
        m_Session.m_nCallType = 0;
        RingIndicationOff();
        SetConnectionFlags(0, 0, true); // the status icon back to the attached image
        ClearCollectedDigits();
        // The far end has gone, or the call never got through: the service ends it on the
        // telephone too, and the session is idle again (a ring, a dialled call or a call
        // in progress).
        const int state = m_Session.m_nState;
        if (state == CALL_STATUS_ROUTING ||
            (state >= CALL_STATUS_RINGING && state <= CALL_STATUS_REMOTEHOLD)) {
            SwitchState(CALL_STATUS_FINISHED);
            SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_FINISHED, kCallId);
        }
        break;
    }
    default:
        break;
    }
    LogTraffic("", kTrafficSoftphoneToAgent);
}

// ---- The service's requests and the handset

void CTelTelApiClient::SetCallStatus(int status, int info) {
    switch (status) {
    case CALL_STATUS_ROUTING:
        m_pTelTelAPIWrapper->Call();
        break;
    case CALL_STATUS_INPROGRESS:
        m_pTelTelAPIWrapper->Answer();
        break;
    case CALL_STATUS_UNPLACED:
        m_pTelTelAPIWrapper->Hangup();
        break;
    case CALL_STATUS_FAILED:
    case CALL_STATUS_FINISHED:
    case CALL_STATUS_MISSED:
    case CALL_STATUS_REFUSED:
    case CALL_STATUS_BUSY:
    case CALL_STATUS_CANCELLED:
        if (m_Session.m_nCallId == 0) {
            SwitchState(CALL_STATUS_FINISHED);
        }
        m_Session.m_nCallType = 0;
        RingIndicationOff();
        m_pTelTelAPIWrapper->Hangup();
        break;
    case CALL_STATUS_LOCALHOLD:
        if (m_nVoiceMailMode == 2 && m_Session.m_nCallId == 0 &&
            m_Session.m_nState == CALL_STATUS_INPROGRESS) {
            m_nVoiceMailMode = 1;
            m_VoiceMailMgr.StopPlayback();
            SwitchState(CALL_STATUS_FINISHED);
            SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_FINISHED, 0);
        }
        m_pTelTelAPIWrapper->Mute();
        break;
    case CALL_STATUS_OFFHOLD:
        m_pTelTelAPIWrapper->UnMute();
        break;
    default:
        break;
    }
}

void CTelTelApiClient::Dial() {
    TRACE("CTelTelApiClient::HandleDTMFKey - Calling m_pTelTelAPIWrapper->Call()");
    m_pTelTelAPIWrapper->Call();
    RingIndicationOn();
    m_Session.m_nCallId = kCallId;
    // TelTel tells nothing of a call it places: the session follows what the service is
    // told, so that the call counts as one (standby, the lone star, a second send key).
    SwitchState(CALL_STATUS_ROUTING);
    SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_ROUTING, kCallId);
    TRACE("CTelTelApiClient::HandleDTMFKey - Sending CALL_STATUS_ROUTING to StateMachine");
    Sleep(kDialSettleMs);
    SwitchState(CALL_STATUS_INPROGRESS);
    SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_INPROGRESS, kCallId);
    TRACE("CTelTelApiClient::HandleDTMFKey - Sending CALL_STATUS_INPROGRESS to StateMachine");
}

void CTelTelApiClient::EndVoicemailSession() {
    SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_FINISHED, 0);
    m_VoiceMailMgr.StopPlayback();
    m_nVoiceMailMode = 0;
    ClearCollectedDigits();
    SwitchState(CALL_STATUS_FINISHED);
}

void CTelTelApiClient::OnDtmfKey(const IMM& message) {
    const char key = (char)(message.Info & 0xFF);
    const char sendKey = pConfigParams ? pConfigParams->m_cSendKey : '*';
    const int state = m_Session.m_nState;
    const bool noCall = state == CALL_STATUS_FAILED || state > CALL_STATUS_REMOTEHOLD;
    if (key == sendKey && (m_nVoiceMailMode == 0 || m_nVoiceMailMode == 1) && noCall &&
        !m_CollectedDigits.empty()) {
        Dial();
    }
    if (key == '*') {
        if (m_nVoiceMailMode == 2) {
            EndVoicemailSession();
        } else if (m_CollectedDigits.empty() &&
                   (state == CALL_STATUS_UNKNOWN || state == CALL_STATUS_UNPLACED ||
                    state == CALL_STATUS_FAILED ||
                    (state >= CALL_STATUS_FINISHED && state <= CALL_STATUS_CANCELLED))) {
            SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentStatusLoneStarKey);
        }
    }
    if (key >= '0' && key <= '9') {
        m_CollectedDigits += key;
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

void CTelTelApiClient::CheckVoicemailWaiting() {
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
        // The stutter tone, twice. (TelTel's handset has no repeat of it: nothing here
        // would stop a repeating tone.)
        for (int i = 0; i < 2; ++i) {
            SendPlaybackSignalRequest(1, 4000, 600, 80);
            Sleep(100);
        }
    }
    if (m_VoiceMailMgr.IsEmpty()) {
        m_VoiceMailMgr.SetVMMState(2);
    }
}

void CTelTelApiClient::OnHookState(const IMM& message) {
    if (message.Info == HS_OnHook) {
        if (VoicemailPlaying()) {
            SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_FINISHED, 0);
            m_VoiceMailMgr.StopPlayback();
        }
        SwitchState(CALL_STATUS_FINISHED);
        if (m_nVoiceMailMode == 2) {
            m_nVoiceMailMode = 0;
        }
    } else if (message.Info == HS_OffHook) {
        if (m_nVoiceMailMode == 0) {
            CheckVoicemailWaiting();
        }
        m_pTelTelAPIWrapper->BringToTop();
    }
    COrvinApiClient::OnHookState(message);
}

void CTelTelApiClient::OnLineState(const IMM& message) {
    if (message.Info == PC_VOIP) {
        CheckVoicemailWaiting();
        ClearCollectedDigits();
        if (VoicemailPlaying()) {
            SendToService(MSG_TYPE_CALL_EVENT, CALL_STATUS_FINISHED, 0);
            SwitchState(CALL_STATUS_FINISHED);
            m_VoiceMailMgr.StopPlayback();
        }
    }
    COrvinApiClient::OnLineState(message);
}
