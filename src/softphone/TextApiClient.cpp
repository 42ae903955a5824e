#include "softphone/TextApiClient.h"

#include "base/config/Registry.h"
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/skype/VoiceMailManager.h"

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kSearchPassMs = 1000;

// The adapter's device class, instance 0000: DoNotTranslate there keeps the old-version
// box in English.
bool TranslationAllowed() {
    char key[128];
    snprintf(key, sizeof key, "SYSTEM\\CurrentControlSet\\Control\\Class\\{%s}\\0000",
             "55280429-413E-460F-A31A-E19314823119");
    orvin::RegKey classKey;
    DWORD value = 0;
    return classKey.Open(HKEY_LOCAL_MACHINE, key) != ERROR_SUCCESS ||
           classKey.QueryDword("DoNotTranslate", &value) != ERROR_SUCCESS || value == 0;
}

} // namespace

CTextApiClient::CTextApiClient(const TextApiProfile& profile) : m_Profile(profile) {
    Construct();
}

CTextApiClient::CTextApiClient(const TextApiProfile& profile, IMixerApi& mixers)
    : COrvinApiClient(mixers), m_Profile(profile) {
    Construct();
}

void CTextApiClient::Construct() {
    if (m_Profile.audioSearchThread) {
        m_hAudioTermination =
            CreateEventA(nullptr, FALSE, FALSE, "PERSONAL_GATEWAY_AUDIO_SET_THREAD_TERMINATION_EVENT");
    }
    m_hStopAudioSearch = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_DisplayName = m_Profile.displayName;
}

void CTextApiClient::SetEngine(std::unique_ptr<CTextMessageEngine> engine) {
    m_pEngine = std::move(engine);
    m_pMessageEngine = m_pEngine.get();
}

CTextApiClient::~CTextApiClient() {
    // The search thread sends through the engine: it ends before the engine goes.
    StopAudioDeviceSearch();
    m_pEngine.reset();
    m_pMessageEngine = nullptr;
    if (m_hAudioTermination) {
        CloseHandle(m_hAudioTermination);
    }
    if (m_hStopAudioSearch) {
        CloseHandle(m_hStopAudioSearch);
    }
}

void CTextApiClient::ConnectToApiServer() {
    m_pEngine->DiscoverApiServer();
}

// ---- Commands

void CTextApiClient::SendMessageToApiServer(const std::string& text) {
    SendMessageToApiServer(text.c_str());
}

void CTextApiClient::SendMessageToApiServer(const char* text) {
    if (!text) {
        return;
    }
    LogTraffic(text, kTrafficAgentToSoftphone);
    if (!*text || !(m_nConnectionFlags & kFlagSoftphoneReady)) {
        return; // nothing to send, or not ready: logged above, dropped
    }
    // As it is, in the system's code page, whatever its length.
    DispatchText(text, strlen(text) + 1);
}

void CTextApiClient::DispatchText(const char* bytes, size_t countWithZero) {
    COPYDATASTRUCT data = {0, (DWORD)countWithZero, const_cast<char*>(bytes)};
    m_pEngine->DispatchText(&data);
}

void CTextApiClient::SetAudioIn(const char* name) {
    SendMessageToApiServer(std::string("set audio_in ") + (name ? name : ""));
}

void CTextApiClient::SetAudioOut(const char* name) {
    SendMessageToApiServer(std::string("set audio_out ") + (name ? name : ""));
}

void CTextApiClient::SelectAudioDevices(bool toAdapter) {
    if (!toAdapter) {
        SetAudioIn("");
        SetAudioOut("");
        return;
    }
    const AudioDeviceSelection devices = m_AudioDevices.GetSelection();
    auto select = [&](const std::string& name, void (CTextApiClient::*set)(const char*)) {
        (this->*set)(name.c_str());
        for (int i = 2; i <= 9; ++i) {
            if (i % 2 == 0 && !devices.bNumberedVariants) {
                continue;
            }
            char variant[128];
            snprintf(variant, sizeof variant, "%s (%d)", name.c_str(), i);
            (this->*set)(variant);
        }
    };
    if (devices.captureName) {
        select(*devices.captureName, &CTextApiClient::SetAudioIn);
    }
    if (devices.playbackName) {
        select(*devices.playbackName, &CTextApiClient::SetAudioOut);
    }
}

void CTextApiClient::KeepAlive() {
    // A ping that cannot be sent (a hung softphone: the send times out) is as unanswered as
    // one that gets no pong.
    SendMessageToApiServer("ping");
    if (++m_nPendingPings > 2) {
        OnApiServerDetached();
        m_nPendingPings = 0;
    }
}

void CTextApiClient::ControlSoftphoneWindow(bool toVoip) {
    if (!m_hMainWindow) {
        return;
    }
    if (toVoip) {
        ShowWindow(m_hMainWindow, SW_RESTORE);
        ShowWindow(m_hMainWindow, SW_SHOWNORMAL);
    } else {
        ShowWindow(m_hMainWindow, SW_MINIMIZE);
        ShowWindow(m_hMainWindow, SW_HIDE);
    }
}

// ---- Attach, connect, detach

void CTextApiClient::OnApiServerAttached() {
    if (m_pMainDialog) {
        LogTraffic("API server connected!", kTrafficAgent);
        LogTraffic("===========================", kTrafficAgent);
    }
    if (m_Profile.mainWindowClass) {
        m_hMainWindow = FindWindowA(m_Profile.mainWindowClass, nullptr);
    }
    // A softphone that has just attached (perhaps after its restart) owes no pongs.
    m_nPendingPings = 0;
    SetConnectionFlags(kFlagApiAttached, 0);
    OnApiServerConnected();
}

void CTextApiClient::OnApiServerDetached() {
    SetConnectionFlags(0, kFlagApiAttached);
    OnApiServerDisconnect();
}

void CTextApiClient::ReportConnected() {
    TRACE("%s::OnApiServerDisconnect()  NotifyAgentStatus, AgentConnectedToVoip\n", m_Profile.className);
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentConnectedToVoip);
}

void CTextApiClient::ReportDisconnected() {
    TRACE("%s::OnApiServerDisconnect()  NotifyAgentStatus, AgentDisconnectedFromVoip\n", m_Profile.className);
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentDisconnectedFromVoip);
}

void CTextApiClient::OnApiServerDisconnect() {
    // The call the softphone had is over for the agent too: left "in a call", the agent
    // would refuse standby and dial nothing until the next call came in.
    const int state = m_Session.m_nState;
    if (state >= CALL_STATUS_RINGING && state <= CALL_STATUS_LOCALHOLD) {
        if (state == CALL_STATUS_RINGING) {
            RingIndicationOff();
        }
        if (state == CALL_STATUS_RINGING || state == CALL_STATUS_INPROGRESS) {
            BusyIndication();
        }
        if (m_Session.m_nCallId) {
            SendMessageToApiServer("set call " + std::to_string(m_Session.m_nCallId) + " status finished");
        }
        SwitchState(CALL_STATUS_FINISHED);
    }
    SetAudioIn("");
    SetAudioOut("");
    SetConnectionFlags(0, kFlagSoftphoneReady);
    m_ContactList.Reset();
    ForgetOnlineStatus();
    ReportDisconnected();
}

void CTextApiClient::ForgetOnlineStatus() {
    // The service is told the agent is disconnected: the user's status is unknown until
    // the softphone tells it again, and that report then says connected anew (else a user
    // who was online before would never be announced again after a reconnection).
    m_nOnlineStatus = 0;
}

bool CTextApiClient::FindAudioDevicesOnce() {
    if (!m_AudioDevices.AreAudioDevicesFound()) {
        m_AudioDevices.FindAudioDevices(m_RegistryRoot.c_str());
    }
    return m_AudioDevices.AreAudioDevicesFound();
}

// ---- Notifications

void CTextApiClient::OnApiServerMessage(const COPYDATASTRUCT* message) {
    if (!message || !message->lpData || !message->cbData) {
        return;
    }
    // A zero-terminated text, but never read past what was sent.
    const char* data = static_cast<const char*>(message->lpData);
    const std::string text(data, strnlen(data, message->cbData));
    if (text.size() <= 128) {
        TRACE_LEVEL(2, m_Profile.receivedTrace, text.c_str());
    }
    m_Tokenizer.SetText(text);
    m_Tokenizer.ToLower();
    OnNotification(m_Tokenizer.AllTokens());
    LogTraffic(text.c_str(), kTrafficSoftphoneToAgent);
}

void CTextApiClient::OnNotification(const VString& tokens) {
    if (OnOwnNotification(tokens)) {
        return;
    }
    const std::string& first = tokens[0];
    if (first == "call") {
        OnCallNotification(tokens);
    } else if (first == "users") {
        for (int i = 1; i < tokens.Size(); ++i) {
            m_ContactList.AddContact(tokens[i]);
            TRACE("Contact[%d]=%s\n", i - 1, tokens[i].c_str());
        }
    } else if (first == "user") {
        OnUserNotification(tokens);
    } else if ((first == "voicemails" || first == "voicemail") && VoiceMailList()) {
        OnVoicemailNotification(tokens);
    } else if (first == "connstatus") {
        OnConnStatus(tokens[1]);
    } else if (first == "userstatus") {
        OnUserStatus(tokens[1]);
    } else if (first == "protocol") {
        TRACE("protocol %s \n", tokens[1].c_str());
        // Without a level the notification says nothing: the level stays.
        if (tokens.Size() >= 2) {
            m_nProtocol = atoi(tokens[1].c_str());
            SendMessageToApiServer("get currentuserhandle");
        }
    } else if (m_Profile.versionKeyword && first == m_Profile.versionKeyword) {
        TRACE(m_Profile.versionTrace, tokens[1].c_str());
        CheckVersion(tokens[1]);
    } else if (first == "pong") {
        // A late pong (for a ping sent before an attach) gives no credit for later pings.
        if (m_nPendingPings > 0) {
            --m_nPendingPings;
        }
    } else if (first == "error") {
        OnError(tokens);
    } else if (first == "audio_in") {
        std::string name;
        for (int i = 1; i < tokens.Size(); ++i) {
            name += (i > 1 ? " " : "") + tokens[i];
        }
        TRACE("AUDIO ACK = %s\n", name.c_str());
    }
}

void CTextApiClient::OnUserNotification(const VString& tokens) {
    const std::string& handle = tokens[1];
    const std::string& what = tokens[2];
    if (what == "onlinestatus") {
        // A status without its word is no first status: it completes nothing.
        if (tokens.Size() >= 4) {
            m_ContactList.SetOnlineStatus(handle, tokens[3]);
        }
    } else if (what == "buddystatus") {
        if (tokens.Size() < 4) {
            return;
        }
        const std::string& value = tokens[3];
        m_ContactList.SetOnlineStatus(handle, value);
        if (value == "1") {
            m_ContactList.RemoveContact(handle);
        } else if (value == "2" || value == "3") {
            m_ContactList.AddContact(handle);
        }
        m_ContactList.Print();
    } else if (what == "speeddial") {
        if (tokens.Size() == 4) {
            m_ContactList.SetSpeedDial(handle, tokens[3]);
        }
        OnSpeedDialNotification(tokens);
    } else if (what == "can_leave_vm") {
        if (VoiceMailManager* voicemails = VoiceMailList()) {
            if (tokens[3] == "true") {
                voicemails->SetVMMState(1);
                TRACE("can_leave_vm = true");
            } else if (tokens[3] == "false") {
                voicemails->SetVMMState(0);
                TRACE("can_leave_vm = false");
            }
        }
    }
}

void CTextApiClient::OnVoicemailNotification(const VString& tokens) {
    VoiceMailManager& voicemails = *VoiceMailList();
    if (tokens[0] == "voicemails") {
        voicemails.OnVoicemails(tokens, m_nProtocol);
    } else if (tokens[2] == "status") {
        voicemails.OnStatus(tokens);
    } else if (tokens[2] == "type") {
        voicemails.OnType(tokens);
    }
}

void CTextApiClient::OnConnStatus(const std::string& status) {
    TRACE(m_Profile.connStatusTrace, status.c_str());
    if (status == "loggedout") {
        TRACE("%s", m_Profile.loggedOutTrace);
        SetConnectionFlags(0, kFlagSoftphoneReady);
        OnApiServerDetached();
    } else if (status == "offline") {
        if (m_nOnlineStatus != 1) {
            m_nOnlineStatus = 1;
            ReportDisconnected();
        }
    } else if (status == "online") {
        if (m_nOnlineStatus != 2) {
            m_nOnlineStatus = 2;
            ReportConnected();
        }
    }
}

void CTextApiClient::OnUserStatus(const std::string& status) {
    TRACE(m_Profile.userStatusTrace, status.c_str());
    if (status.empty()) {
        return; // no status given: nothing changes
    }
    if (status == "offline") {
        m_nOnlineStatus = 1;
        ReportDisconnected();
    } else if (status == "dnd") {
        m_nOnlineStatus = 3;
    } else if (m_nOnlineStatus != 2) {
        m_nOnlineStatus = 2;
        ReportConnected();
    }
}

void CTextApiClient::OnError(const VString& tokens) {
    const int number = atoi(tokens[1].c_str());
    TRACE(m_Profile.errorTextTrace, tokens[1].c_str());
    if (number == 50) {
        TRACE("An error occurred when changing audio device");
    } else if (number == 91 || number == 92 || number == 94) {
        SendToService(MSG_TYPE_ERROR, ERROR_UNKNOWN_USER, m_Session.m_nCallId);
        RingIndicationOff();
    } else if (number == 9) {
        RingIndicationOff();
    }
    TRACE(m_Profile.errorNumberTrace, number);
}

bool CTextApiClient::VersionAtLeast(const std::string& version, const int32_t minimum[4]) {
    uint32_t parts[4] = {};
    const char* part = version.c_str();
    for (int i = 0; i < 4 && *part; ++i) {
        parts[i] = (uint32_t)strtoul(part, nullptr, 10);
        const char* dot = strchr(part, '.');
        if (!dot) {
            break;
        }
        part = dot + 1;
    }
    for (int i = 0; i < 4; ++i) {
        if (parts[i] != (uint32_t)minimum[i]) {
            return parts[i] > (uint32_t)minimum[i];
        }
    }
    return true;
}

void CTextApiClient::CheckVersion(const std::string& version) {
    static const int32_t kNoMinimum[4] = {};
    if (!VersionAtLeast(version, pConfigParams ? pConfigParams->m_nMinSoftphoneVersion : kNoMinimum)) {
        ShowOldVersionBox();
    }
}

void CTextApiClient::ShowOldVersionBox() {
    const char* text = m_Profile.oldVersionText;
    if (!text) {
        return;
    }
    if (TranslationAllowed()) {
        text = TranslatedText(83, text);
    }
    // The version arrives inside the softphone's own WM_COPYDATA: a box shown here would
    // hold the softphone's call until the user answers it. The box gets a thread of its own.
    char* copy = _strdup(text);
    HANDLE thread =
        copy ? (HANDLE)_beginthreadex(nullptr, 0, OldVersionBoxThread, copy, 0, nullptr) : nullptr;
    if (thread) {
        CloseHandle(thread);
    } else {
        free(copy);
        TRACE("%s: ERROR: Can not show the old-version box (Err=%d)", m_Profile.className,
              (int)GetLastError());
    }
}

unsigned __stdcall CTextApiClient::OldVersionBoxThread(void* text) {
    MessageBoxA(nullptr, static_cast<char*>(text), "OrvinAgent", MB_OK);
    free(text);
    return 0;
}

// ---- The adapter's audio devices, found late

void CTextApiClient::SignalAudioSearchDone() {
    if (m_hAudioTermination) {
        SetEvent(m_hAudioTermination);
    }
}

void CTextApiClient::StartAudioDeviceSearch() {
    if (m_hAudioThread && WaitForSingleObject(m_hAudioThread, 0) == WAIT_TIMEOUT) {
        return; // already searching
    }
    if (m_hAudioThread) {
        CloseHandle(m_hAudioThread);
        m_hAudioThread = nullptr;
    }
    m_bStopAudioSearch = false;
    ResetEvent(m_hStopAudioSearch);
    m_hAudioThread = (HANDLE)_beginthreadex(nullptr, 0, SetAudioDeviceThreadProc, this, 0, nullptr);
    if (!m_hAudioThread) {
        TRACE("%s: ERROR: Can not start the audio device search (Err=%d)", m_Profile.className,
              (int)GetLastError());
        SignalAudioSearchDone();
    }
}

void CTextApiClient::StopAudioDeviceSearch() {
    m_bStopAudioSearch = true;
    SetEvent(m_hStopAudioSearch);
    if (m_hAudioThread) {
        // The thread uses this object: it must be gone before the object is. It may be
        // sending to a window of this thread (the event log) meanwhile: take those.
        while (MsgWaitForMultipleObjects(1, &m_hAudioThread, FALSE, INFINITE, QS_SENDMESSAGE) ==
               WAIT_OBJECT_0 + 1) {
            MSG message;
            PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
        }
        CloseHandle(m_hAudioThread);
        m_hAudioThread = nullptr;
    }
}

unsigned __stdcall CTextApiClient::SetAudioDeviceThreadProc(void* data) {
    auto* self = static_cast<CTextApiClient*>(data);
    TRACE("%s::SetAudioDeviceThreadProc()", self->m_Profile.className);
    do {
        if (WaitForSingleObject(self->m_hStopAudioSearch, kSearchPassMs) == WAIT_OBJECT_0) {
            break;
        }
        self->m_AudioDevices.FindAudioDevices(self->m_RegistryRoot.c_str());
        if (self->m_AudioDevices.AreAudioDevicesFound()) {
            self->OnAudioDevicesFoundLate();
            break;
        }
    } while (!self->m_bStopAudioSearch);
    self->SignalAudioSearchDone();
    return 0;
}
