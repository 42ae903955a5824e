#include "softphone/skype/SkypeApiClient.h"

#include "base/config/Registry.h"
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"

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

CSkypeApiClient::CSkypeApiClient() {
    Construct();
}

CSkypeApiClient::CSkypeApiClient(IMixerApi& mixers) : COrvinApiClient(mixers) {
    Construct();
}

void CSkypeApiClient::Construct() {
    m_hAudioTermination =
        CreateEventA(nullptr, FALSE, FALSE, "PERSONAL_GATEWAY_AUDIO_SET_THREAD_TERMINATION_EVENT");
    m_hStopAudioSearch = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_pEngine = std::make_unique<CSkypeMessageEngine>(this);
    m_pMessageEngine = m_pEngine.get();
    m_DisplayName = "Skype";
}

CSkypeApiClient::~CSkypeApiClient() {
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

void CSkypeApiClient::ConnectToApiServer() {
    m_pEngine->DiscoverApiServer();
}

// ---- Commands

void CSkypeApiClient::SendMessageToApiServer(const std::string& text) {
    SendCommand(text.c_str(), "string", "");
}

void CSkypeApiClient::SendMessageToApiServer(const char* text) {
    SendCommand(text, "char *", "\n");
}

void CSkypeApiClient::SendCommand(const char* text, const char* form, const char* lineEnd) {
    if (!text) {
        return;
    }
    // Both buffers end the command: a text that does not fit with its zero is not sent.
    wchar_t wide[kCommandUnits];
    if (!MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kCommandUnits)) {
        TRACE("CSkypeApiClient::SendMessageToApiServer(%s): MultiByteToWideChar returned error!%s", form,
              lineEnd);
        return;
    }
    char utf8[kCommandUnits];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, kCommandUnits, nullptr, nullptr);
    if (!bytes) {
        TRACE("CSkypeApiClient::SendMessageToApiServer(%s): WideCharToMultiByte returned error!%s", form,
              lineEnd);
        return;
    }
    LogTraffic(text, kTrafficAgentToSoftphone);
    if (!(m_nConnectionFlags & kFlagSoftphoneReady)) {
        return; // not ready: logged above, dropped
    }
    COPYDATASTRUCT data = {0, (DWORD)bytes, utf8};
    m_pEngine->DispatchMessageToSkype(&data);
}

void CSkypeApiClient::SetAudioIn(const char* name) {
    SendMessageToApiServer(std::string("set audio_in ") + (name ? name : ""));
}

void CSkypeApiClient::SetAudioOut(const char* name) {
    SendMessageToApiServer(std::string("set audio_out ") + (name ? name : ""));
}

void CSkypeApiClient::SelectAudioDevices(bool toAdapter) {
    if (!toAdapter) {
        SetAudioIn("");
        SetAudioOut("");
        return;
    }
    const AudioDeviceSelection devices = m_AudioDevices.GetSelection();
    auto select = [&](const std::string& name, void (CSkypeApiClient::*set)(const char*)) {
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
        select(*devices.captureName, &CSkypeApiClient::SetAudioIn);
    }
    if (devices.playbackName) {
        select(*devices.playbackName, &CSkypeApiClient::SetAudioOut);
    }
}

void CSkypeApiClient::Ping() {
    // A ping that cannot be sent (a hung Skype: the send times out) is as unanswered as one
    // that gets no pong.
    SendMessageToApiServer("ping");
    if (++m_nPendingPings > 2) {
        OnApiServerDetached();
        m_nPendingPings = 0;
    }
}

void CSkypeApiClient::OnClientTimer(UINT_PTR id) {
    if (id == CSkypeMessageEngine::kPingTimer) {
        Ping();
    } else if (id == 32 || id == 48 || id == 64) {
        OnVoicemailTimer(id);
    }
}

void CSkypeApiClient::ControlSoftphoneWindow(bool toVoip) {
    if (!m_hSkypeMainWindow) {
        return;
    }
    if (toVoip) {
        ShowWindow(m_hSkypeMainWindow, SW_RESTORE);
        ShowWindow(m_hSkypeMainWindow, SW_SHOWNORMAL);
    } else {
        ShowWindow(m_hSkypeMainWindow, SW_MINIMIZE);
        ShowWindow(m_hSkypeMainWindow, SW_HIDE);
    }
}

// ---- Attach, connect, detach

void CSkypeApiClient::OnApiServerAttached() {
    if (m_pMainDialog) {
        LogTraffic("API server connected!", kTrafficAgent);
        LogTraffic("===========================", kTrafficAgent);
    }
    m_hSkypeMainWindow = FindWindowA("tSkMainForm.UnicodeClass", nullptr);
    // A Skype that has just attached (perhaps after its restart) owes no pongs.
    m_nPendingPings = 0;
    SetConnectionFlags(kFlagApiAttached, 0);
    OnApiServerConnected();
}

void CSkypeApiClient::OnApiServerConnected() {
    if (m_pMainDialog) {
        LogTraffic("API server connected!", kTrafficAgent);
        LogTraffic("===========================", kTrafficAgent);
    }
    SetConnectionFlags(kFlagSoftphoneReady, 0);
    SendMessageToApiServer("get skypeversion");
    SendMessageToApiServer("protocol " + std::to_string(kProtocol));
    SendMessageToApiServer("get userstatus");
    if (!m_AudioDevices.AreAudioDevicesFound()) {
        m_AudioDevices.FindAudioDevices(m_RegistryRoot.c_str());
    }
    if (m_AudioDevices.AreAudioDevicesFound()) {
        SetEvent(m_hAudioTermination);
        TRACE("Setting audio device");
        SelectAudioDevices(true);
    } else {
        TRACE("Setting thread in order to find audio device");
        StartAudioDeviceSearch();
    }
    m_VoiceMailMgr.Reset();
    SendMessageToApiServer("search voicemails");
    m_ContactList.Reset();
    SendMessageToApiServer("search friends");
}

void CSkypeApiClient::OnApiServerDetached() {
    OnApiServerDisconnect();
    SetConnectionFlags(0, kFlagApiAttached);
}

void CSkypeApiClient::ReportDisconnected() {
    TRACE("CSkypeApiClient::OnApiServerDisconnect()  NotifyAgentStatus, AgentDisconnectedFromVoip\n");
    SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentDisconnectedFromVoip);
}

void CSkypeApiClient::OnApiServerDisconnect() {
    if (m_Session.m_nCallId) {
        SendMessageToApiServer("set call " + std::to_string(m_Session.m_nCallId) + " status finished");
        m_Session.m_nCallId = 0;
    }
    SelectAudioDevices(false);
    m_pEngine->Detach();
    RingIndicationOff();
    SwitchState(CALL_STATUS_FINISHED);
    ClearCollectedDigits();
    SetConnectionFlags(0, kFlagSoftphoneReady);
    m_ContactList.Reset();
    ReportDisconnected();
}

// ---- Notifications

void CSkypeApiClient::OnApiServerMessage(const COPYDATASTRUCT* message) {
    if (!message || !message->lpData || !message->cbData) {
        return;
    }
    // A zero-terminated text, but never read past what was sent.
    const char* data = static_cast<const char*>(message->lpData);
    const std::string text(data, strnlen(data, message->cbData));
    if (text.size() <= 128) {
        TRACE_LEVEL(2, "Msg from Skype: %s", text.c_str());
    }
    m_Tokenizer.SetText(text);
    m_Tokenizer.ToLower();
    const VString tokens = m_Tokenizer.AllTokens();
    const std::string& first = tokens[0];
    if (first == "call") {
        const std::string& what = tokens[2];
        if (what == "duration") {
            TRACE("Incoming Event: %s, callid:%d\n", what.c_str(), atoi(tokens[1].c_str()));
        } else if (what == "subject") {
            TRACE("Incomming Event: %s, callid:%d\n", what.c_str(), atoi(tokens[1].c_str()));
        } else {
            OnCallNotification(tokens);
        }
    } else if (first == "users") {
        for (int i = 1; i < tokens.Size(); ++i) {
            m_ContactList.AddContact(tokens[i]);
            TRACE("Contact[%d]=%s\n", i - 1, tokens[i].c_str());
        }
    } else if (first == "user") {
        OnUserNotification(tokens);
    } else if (first == "voicemails" || first == "voicemail") {
        OnVoicemailNotification(tokens);
    } else if (first == "connstatus") {
        OnConnStatus(tokens[1]);
    } else if (first == "userstatus") {
        OnUserStatus(tokens[1]);
    } else if (first == "currentuserhandle") {
        m_CurrentUserHandle = tokens[1];
        TRACE("m_CurrentUserHandle %s \n", m_CurrentUserHandle.c_str());
        SendMessageToApiServer("get user " + m_CurrentUserHandle + " can_leave_vm");
    } else if (first == "protocol") {
        TRACE("protocol %s \n", tokens[1].c_str());
        m_nProtocol = atoi(tokens[1].c_str());
        SendMessageToApiServer("get currentuserhandle");
    } else if (first == "skypeversion") {
        TRACE("Skype Version %s \n", tokens[1].c_str());
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
    LogTraffic(text.c_str(), kTrafficSoftphoneToAgent);
}

void CSkypeApiClient::OnUserNotification(const VString& tokens) {
    const std::string& handle = tokens[1];
    const std::string& what = tokens[2];
    if (what == "onlinestatus") {
        m_ContactList.SetOnlineStatus(handle, tokens[3]);
    } else if (what == "buddystatus") {
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
        OnCanLeaveVoicemail(tokens);
    }
}

void CSkypeApiClient::OnConnStatus(const std::string& status) {
    TRACE("Skype connstatus: %s\n", status.c_str());
    if (status == "loggedout") {
        TRACE("LOGGED OUT SKYPE\n");
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
            TRACE("CSkypeApiClient::OnApiServerDisconnect()  NotifyAgentStatus, AgentConnectedToVoip\n");
            SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentConnectedToVoip);
        }
    }
}

void CSkypeApiClient::OnUserStatus(const std::string& status) {
    TRACE("Skype User Status: %s\n", status.c_str());
    if (status == "offline") {
        m_nOnlineStatus = 1;
        m_bUserAvailable = false;
        TRACE("CSkypeApiClient User is not Available !\n");
        ReportDisconnected();
        return;
    }
    if (status == "dnd") {
        m_bUserAvailable = false;
        TRACE("CSkypeApiClient User is not Available !\n");
        return;
    }
    if (m_nOnlineStatus != 2) {
        m_nOnlineStatus = 2;
        TRACE("CSkypeApiClient::OnApiServerDisconnect()  NotifyAgentStatus, AgentConnectedToVoip\n");
        SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, AgentConnectedToVoip);
    }
    if (!m_bUserAvailable) {
        m_bUserAvailable = true;
        TRACE("CSkypeApiClient User is Available !\n");
        TRACE("CSkypeApiClient Trying to ring after mode change from DND to available!\n");
        if (m_Session.m_nState == CALL_STATUS_RINGING) {
            OnUserAvailableAgain();
        }
    }
}

void CSkypeApiClient::OnError(const VString& tokens) {
    const int number = atoi(tokens[1].c_str());
    TRACE("Skype Error: %s\n", tokens[1].c_str());
    if (number == 50) {
        TRACE("An error occurred when changing audio device");
    } else if (number == 91 || number == 92 || number == 94) {
        SendToService(MSG_TYPE_ERROR, ERROR_UNKNOWN_USER, m_Session.m_nCallId);
        RingIndicationOff();
    } else if (number == 9) {
        RingIndicationOff();
    }
    TRACE("Skype Error: %d\n", number);
}

bool CSkypeApiClient::VersionAtLeast(const std::string& version, const int32_t minimum[4]) {
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

void CSkypeApiClient::CheckVersion(const std::string& version) {
    static const int32_t kNoMinimum[4] = {};
    if (!VersionAtLeast(version, pConfigParams ? pConfigParams->m_nMinSoftphoneVersion : kNoMinimum)) {
        ShowOldVersionBox();
    }
}

void CSkypeApiClient::ShowOldVersionBox() {
    const char* text = "Your Skype version is old, please update Skype version";
    if (TranslationAllowed()) {
        text = TranslatedText(83, text);
    }
    // The version arrives inside Skype's own WM_COPYDATA: a box shown here would hold
    // Skype's call until the user answers it. The box gets a thread of its own.
    char* copy = _strdup(text);
    HANDLE thread =
        copy ? (HANDLE)_beginthreadex(nullptr, 0, OldVersionBoxThread, copy, 0, nullptr) : nullptr;
    if (thread) {
        CloseHandle(thread);
    } else {
        free(copy);
        TRACE("CSkypeApiClient: ERROR: Can not show the old-version box (Err=%d)", (int)GetLastError());
    }
}

unsigned __stdcall CSkypeApiClient::OldVersionBoxThread(void* text) {
    MessageBoxA(nullptr, static_cast<char*>(text), "OrvinAgent", MB_OK);
    free(text);
    return 0;
}

// ---- The adapter's audio devices, found late

void CSkypeApiClient::StartAudioDeviceSearch() {
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
        TRACE("CSkypeApiClient: ERROR: Can not start the audio device search (Err=%d)", (int)GetLastError());
        SetEvent(m_hAudioTermination);
    }
}

void CSkypeApiClient::StopAudioDeviceSearch() {
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

unsigned __stdcall CSkypeApiClient::SetAudioDeviceThreadProc(void* data) {
    auto* self = static_cast<CSkypeApiClient*>(data);
    TRACE("CSkypeApiClient::SetAudioDeviceThreadProc()");
    do {
        if (WaitForSingleObject(self->m_hStopAudioSearch, kSearchPassMs) == WAIT_OBJECT_0) {
            break;
        }
        self->m_AudioDevices.FindAudioDevices(self->m_RegistryRoot.c_str());
        if (self->m_AudioDevices.AreAudioDevicesFound()) {
            self->SelectAudioDevices(true);
            break;
        }
    } while (!self->m_bStopAudioSearch);
    SetEvent(self->m_hAudioTermination);
    return 0;
}
