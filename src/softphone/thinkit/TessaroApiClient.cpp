#include "softphone/thinkit/TessaroApiClient.h"

#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"

#include <memory>

namespace {

const TextApiProfile kTessaroProfile = {
    "Tessaro",
    "CTessaroApiClient",
    "Msg from Tessaro: %s",
    "Incoming Tessaro Event: %s, callid:%d\n",
    "Tessaro connstatus: %s\n",
    "LOGGED OUT Tessaro\n",
    "Tessaro User Status: %s\n",
    "Tessaro Error: %s\n",
    "Tessaro Error: %d\n",
    "tSkMainForm.UnicodeClass",
    "tessaroversion",
    "Tessaro Version %s \n",
    "Your Tessaro version is old, please update Tessaro version",
    "Tessaro",
    true,  // "unplaced" is CALL_STATUS_UNPLACED
    false, // no voicemail words
    true,  // the devices are looked for from a thread
};

// "Not available" and "available" leave Tessaro's window known: the discover is sent to
// every window whether one is known or not, and the window answers it anew.
const TextAttachRow kTessaroAttachRows[] = {
    {0, TextAttachRow::kAttached, "API server connected!\n", false, false},
    {1, TextAttachRow::kDetach, "!!! Tessaro API not available\n", false, false},
    {2, TextAttachRow::kRediscover, "!!! Try connect now (API available)\n", false, false},
};

const TextEngineProfile kTessaroEngineProfile = {
    "TessaroControlAPIDiscover",
    "TessaroControlAPIAttach",
    "OrvinTessaroMessageEngine",
    "CTessaroMessageEngine",
    "DispatchMessageToTessaro",
    "Tessaro",
    true, // sent to every window at once
    false,
    kTessaroAttachRows,
    sizeof kTessaroAttachRows / sizeof kTessaroAttachRows[0],
};

} // namespace

CTessaroApiClient::CTessaroApiClient() : CTextApiClient(kTessaroProfile) {
    Construct();
}

CTessaroApiClient::CTessaroApiClient(IMixerApi& mixers) : CTextApiClient(kTessaroProfile, mixers) {
    Construct();
}

void CTessaroApiClient::Construct() {
    SetEngine(std::make_unique<CTextMessageEngine>(this, kTessaroEngineProfile));
}

CTessaroApiClient::~CTessaroApiClient() {
    // The search thread calls this client's operations: it ends first.
    StopAudioDeviceSearch();
}

void CTessaroApiClient::OnApiServerConnected() {
    if (m_pMainDialog) {
        LogTraffic("API server connected!", kTrafficAgent);
        LogTraffic("===========================", kTrafficAgent);
    }
    SetConnectionFlags(kFlagSoftphoneReady, 0);
    SendMessageToApiServer("get Tessaroversion");
    SendMessageToApiServer("protocol " + std::to_string(kProtocol));
    if (FindAudioDevicesOnce()) {
        SignalAudioSearchDone();
        TRACE("Setting audio device");
        // One view of the search: a device found a moment ago may be gone from it (the
        // search thread publishes its own result meanwhile). A missing name is not sent.
        const AudioDeviceSelection devices = m_AudioDevices.GetSelection();
        if (devices.captureName) {
            SetAudioIn(devices.captureName->c_str());
        }
        if (devices.playbackName) {
            SetAudioOut(devices.playbackName->c_str());
        }
    } else {
        TRACE("Setting thread in order to find audio device");
        StartAudioDeviceSearch();
    }
    SendMessageToApiServer("search voicemails");
    m_ContactList.Reset();
    SendMessageToApiServer("search friends");
}

void CTessaroApiClient::OnAudioDevicesFoundLate() {
    const AudioDeviceSelection devices = m_AudioDevices.GetSelection();
    if (devices.captureName) {
        TRACE("Setting audio again...");
        SetAudioIn(devices.captureName->c_str());
    }
    if (devices.playbackName) {
        TRACE("Setting audio again...");
        SetAudioOut(devices.playbackName->c_str());
    }
}

void CTessaroApiClient::ControlSoftphoneWindow(bool toVoip) {
    if (!m_hMainWindow) {
        return;
    }
    if (toVoip) {
        ShowWindow(m_hMainWindow, SW_SHOWNORMAL);
    } else {
        ShowWindow(m_hMainWindow, SW_MINIMIZE);
        ShowWindow(m_hMainWindow, SW_HIDE);
    }
}

void CTessaroApiClient::OnLineState(const IMM& message) {
    if (message.Info == PC_VOIP) {
        ClearCollectedDigits();
    }
    COrvinApiClient::OnLineState(message);
}

void CTessaroApiClient::Ping() {
    // The engine's timer outlives a detach; pings then would find Tessaro gone again and
    // again, every 30 s. Only an attached Tessaro is pinged.
    if (m_nConnectionFlags & kFlagApiAttached) {
        KeepAlive();
    }
}

void CTessaroApiClient::OnClientTimer(UINT_PTR id) {
    Ping(); // every tick, whatever its timer
}
