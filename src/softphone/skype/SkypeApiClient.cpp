#include "softphone/skype/SkypeApiClient.h"

#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"

#include <memory>

namespace {

const TextApiProfile kSkypeProfile = {
    "Skype",
    "CSkypeApiClient",
    "Msg from Skype: %s",
    "Incoming Skype Event: %s, callid:%d\n",
    "Skype connstatus: %s\n",
    "LOGGED OUT SKYPE\n",
    "Skype User Status: %s\n",
    "Skype Error: %s\n",
    "Skype Error: %d\n",
    "tSkMainForm.UnicodeClass",
    "skypeversion",
    "Skype Version %s \n",
    "Your Skype version is old, please update Skype version",
    "skype",
    false, // "unplaced" means nothing
    true,  // the voicemail words end a call
    true,  // the devices are looked for from a thread
};

} // namespace

CSkypeApiClient::CSkypeApiClient() : CTextApiClient(kSkypeProfile) {
    Construct();
}

CSkypeApiClient::CSkypeApiClient(IMixerApi& mixers) : CTextApiClient(kSkypeProfile, mixers) {
    Construct();
}

void CSkypeApiClient::Construct() {
    SetEngine(std::make_unique<CSkypeMessageEngine>(this));
}

CSkypeApiClient::~CSkypeApiClient() {
    // The search thread calls this client's operations: it ends first.
    StopAudioDeviceSearch();
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
    DispatchText(utf8, (size_t)bytes);
}

void CSkypeApiClient::Ping() {
    KeepAlive();
}

void CSkypeApiClient::OnClientTimer(UINT_PTR id) {
    if (id == CSkypeMessageEngine::kPingTimer) {
        Ping();
    } else if (id == 32 || id == 48 || id == 64) {
        OnVoicemailTimer(id);
    }
}

// ---- Connect, detach

void CSkypeApiClient::OnApiServerConnected() {
    if (m_pMainDialog) {
        LogTraffic("API server connected!", kTrafficAgent);
        LogTraffic("===========================", kTrafficAgent);
    }
    SetConnectionFlags(kFlagSoftphoneReady, 0);
    SendMessageToApiServer("get skypeversion");
    SendMessageToApiServer("protocol " + std::to_string(kProtocol));
    SendMessageToApiServer("get userstatus");
    if (FindAudioDevicesOnce()) {
        SignalAudioSearchDone();
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
    ForgetOnlineStatus();
    ReportDisconnected();
}

// ---- Notifications

bool CSkypeApiClient::OnOwnNotification(const VString& tokens) {
    if (tokens[0] != "currentuserhandle") {
        return false;
    }
    m_CurrentUserHandle = tokens[1];
    TRACE("m_CurrentUserHandle %s \n", m_CurrentUserHandle.c_str());
    SendMessageToApiServer("get user " + m_CurrentUserHandle + " can_leave_vm");
    return true;
}

void CSkypeApiClient::OnUserStatus(const std::string& status) {
    TRACE("Skype User Status: %s\n", status.c_str());
    if (status.empty()) {
        return; // no status given: nothing changes
    }
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
        ReportConnected();
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
