#include "ivr/IvrStateMachine.h"

#include "audio/AudioThreadPriority.h"
#include "base/config/Registry.h"
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "ivr/MenuFile.h"
#include "ivr/MessageMenus.h"
#include "ivr/PinGuard.h"
#include "ivr/VoiceMailStore.h"
#include "ivr/VoiceMenu.h"

#include <dsconf.h>
#include <dsound.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

using orvin::RegKey;
using orvin::SubKey;

namespace {

const char kStarLine[] = "*****************************************";
const char kIvrDeviceInterface[] = "{55280429-413E-460f-A31A-E19314823119}";

// IKsPropertySet, as dsound.dll's private object answers it.
const GUID kIidKsPropertySet = {0x31efac30, 0x515c, 0x11d0, {0xa9, 0xaa, 0x00, 0xaa, 0x00, 0x61, 0xbe, 0x93}};
const GUID kClsidDirectSoundPrivate = {
    0x11ab3ec0, 0x25ec, 0x11d1, {0xa4, 0xd8, 0x00, 0xc0, 0x4f, 0xc2, 0x8a, 0xca}};
const GUID kPropSetDirectSoundDevice = {
    0x84624f82, 0x25ec, 0x11d1, {0xa4, 0xd8, 0x00, 0xc0, 0x4f, 0xc2, 0x8a, 0xca}};
const GUID kIidClassFactory = {0x00000001, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

std::string FormatGuid(const GUID& g) {
    char text[40];
    snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned)g.Data1,
             g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
             g.Data4[6], g.Data4[7]);
    return text;
}

std::string Narrow(const wchar_t* text) {
    if (!text) {
        return std::string();
    }
    char buffer[512];
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return n > 0 ? std::string(buffer) : std::string();
}

struct DeviceSearch {
    GUID* pPlayback;
    GUID* pCapture;
};

BOOL CALLBACK IdentifyCallback(PDSPROPERTY_DIRECTSOUNDDEVICE_DESCRIPTION_W_DATA pData, LPVOID pContext) {
    auto* search = static_cast<DeviceSearch*>(pContext);
    TRACE("myCallB*********************************************");
    switch (pData->Type) {
    case DIRECTSOUNDDEVICE_TYPE_EMULATED:
        TRACE("Type = DIRECTSOUNDDEVICE_TYPE_EMULATED");
        break;
    case DIRECTSOUNDDEVICE_TYPE_VXD:
        TRACE("Type = DIRECTSOUNDDEVICE_TYPE_VXD");
        break;
    case DIRECTSOUNDDEVICE_TYPE_WDM:
        TRACE("Type = DIRECTSOUNDDEVICE_TYPE_WDM");
        break;
    default:
        TRACE("Type = %d", (int)pData->Type);
        break;
    }
    switch (pData->DataFlow) {
    case DIRECTSOUNDDEVICE_DATAFLOW_RENDER:
        TRACE("DataFlow = DIRECTSOUNDDEVICE_DATAFLOW_RENDER");
        break;
    case DIRECTSOUNDDEVICE_DATAFLOW_CAPTURE:
        TRACE("DataFlow = DIRECTSOUNDDEVICE_DATAFLOW_CAPTURE");
        break;
    default:
        TRACE("DataFlow = %d", (int)pData->DataFlow);
        break;
    }
    const std::string interfacePath = Narrow(pData->Interface);
    TRACE("DeviceId = %s", FormatGuid(pData->DeviceId).c_str());
    TRACE("Description = %s", Narrow(pData->Description).c_str());
    TRACE("Module = %s", Narrow(pData->Module).c_str());
    TRACE("Interface = %s", interfacePath.c_str());
    TRACE("WaveDeviceId = 0x%X", (unsigned)pData->WaveDeviceId);
    TRACE("myCallB*********************************************");
    if (pData->Type == DIRECTSOUNDDEVICE_TYPE_WDM &&
        interfacePath.find(kIvrDeviceInterface) != std::string::npos &&
        (interfacePath.find("VoIPIvrAudio") != std::string::npos ||
         interfacePath.find("Wave2") != std::string::npos)) {
        if (pData->DataFlow == DIRECTSOUNDDEVICE_DATAFLOW_RENDER) {
            *search->pPlayback = pData->DeviceId;
        } else if (pData->DataFlow == DIRECTSOUNDDEVICE_DATAFLOW_CAPTURE) {
            *search->pCapture = pData->DeviceId;
        }
    }
    return TRUE; // always to the end
}

// The legacy enumeration: the adapter's driver module, the IVR device preferred.
struct LegacySearch {
    GUID* pDevice;
    bool bFound = false;
};

BOOL CALLBACK LegacyCallback(LPGUID pGuid, LPCSTR pszDescription, LPCSTR pszModule, LPVOID pContext) {
    auto* search = static_cast<LegacySearch*>(pContext);
    if (!pGuid || !pszModule || strcmp(pszModule, "zuvad.sys") != 0) {
        return TRUE;
    }
    if (pszDescription && strstr(pszDescription, "IVR")) {
        *search->pDevice = *pGuid;
        return FALSE;
    }
    if (!search->bFound) {
        *search->pDevice = *pGuid;
        search->bFound = true;
        return TRUE;
    }
    if (pGuid->Data4[7] >= search->pDevice->Data4[7]) {
        *search->pDevice = *pGuid;
    }
    return FALSE;
}

// A message box on a thread of its own: the IVR manager's thread, which initializes the
// dialogues, must not wait for the user, or every later control record (and the agent's
// end) would wait with it.
void ShowBox(const char* text) {
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
            MessageBoxA(nullptr, static_cast<const char*>(parameter), "OrvinAgent",
                        MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
            return 0;
        },
        const_cast<char*>(text), 0, nullptr);
    if (thread) {
        CloseHandle(thread);
    } else {
        TRACE("CIvrStateMachine: %s", text);
    }
}

} // namespace

CIvrEvents::CIvrEvents() {
    m_hCaptureEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hPlaybackEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

CIvrEvents::~CIvrEvents() {
    for (HANDLE h : {m_hCaptureEvent, m_hPlaybackEvent, m_hStopEvent}) {
        if (h) {
            CloseHandle(h);
        }
    }
}

CIvrStateMachine::CIvrStateMachine(IIvrReportSink* pManager, int nIvrId, bool bPstn)
    : m_pManager(pManager), m_nIvrId(nIvrId), m_bPstn(bPstn) {
    SetListenAhead(true);
}

CIvrStateMachine::~CIvrStateMachine() {
    TRACE("CIvrStateMachine::~CIvrStateMachine()");
    StartOrStopRecord(false);
    m_bExit = true;
    if (m_hStopEvent) {
        SetEvent(m_hStopEvent);
    }
    if (m_hPlaybackEvent) {
        SetEvent(m_hPlaybackEvent);
    }
    StopCapture();
    WaitForThreadDone();
    // The menus go first: a voice message the caller hung up on is judged as they go (an
    // empty one is deleted and no longer counts).
    CurrentMenuPath.clear();
    m_pRootMenu.reset();
    m_pGoodByeMenu.reset();
    // A caller who hangs up while leaving a message ends the dialogue before its report:
    // the message is on disk and counts.
    if (m_WaitingMsgCount != m_WrittenMsgCount && !m_RegistryRoot.empty()) {
        WriteWaitingMsgCount();
    }
    if (m_pStream) {
        m_pStream->Stop();
    }
    m_pStream.reset();
    m_pSoundManager.reset();
}

// ---- Initialization

bool CIvrStateMachine::Initialize(HWND hWnd, const std::string& installationFolder,
                                  const std::string& registryRoot) {
    TRACE("CIvrStateMachine::Initialize(0x%x, %s, %s)", (unsigned)(uintptr_t)hWnd, installationFolder.c_str(),
          registryRoot.c_str());
    m_RegistryRoot = registryRoot;
    m_InstallationFolder = installationFolder;
    GetRegParams();
    if (!SetLanguage()) {
        return false;
    }
    if (!m_hCaptureEvent || !m_hPlaybackEvent || !m_hStopEvent) {
        TRACE("CIvrStateMachine::Initialize failed err = 0x%x", (unsigned)GetLastError());
        return false;
    }
    return OpenAudio(hWnd);
}

bool CIvrStateMachine::OpenAudio(HWND hWnd) {
    m_dwDirectXVersion = GetDirectXVersion();
    if (m_dwDirectXVersion >= CCapture::kDirectX8) {
        TRACE("IdentifyIvrAudioDev");
        IdentifyIvrAudioDev();
    } else {
        IdentifyLegacyAudioDev();
    }
    TRACE("CIvrStateMachine Playback Device GUID %s", FormatGuid(m_PlaybackDevice).c_str());
    TRACE("CIvrStateMachine Capture Device GUID %s", FormatGuid(m_CaptureDevice).c_str());

    m_pSoundManager.reset(new (std::nothrow) CSoundManager());
    if (!m_pSoundManager) {
        ShowBox("Not enougth memory!");
        return false;
    }
    if (FAILED(m_pSoundManager->Initialize(hWnd, DSSCL_PRIORITY, &m_PlaybackDevice))) {
        m_pSoundManager.reset();
        ShowBox("Error initializing DirectSound.");
        return false;
    }
    m_pSoundManager->SetPrimaryBufferFormat(2, 22050, 16);
    TRACE("CSoundManager initialized successfully");

    long result = CCapture::Initialize(&m_CaptureDevice, m_hCaptureEvent, m_dwDirectXVersion);
    if (result != 0) {
        TRACE("CIvrStateMachine::Initialize failed err = 0x%x", (unsigned)result);
        m_pSoundManager.reset();
        return false;
    }
    std::unique_ptr<CPlaylistSound> pStream;
    if (FAILED(m_pSoundManager->CreateStreaming(m_hPlaybackEvent, &pStream)) || !pStream) {
        TRACE("CIvrStateMachine::Initialize: the streaming sound can not be created");
        m_pSoundManager.reset();
        return false;
    }
    return OpenStream(std::move(pStream));
}

bool CIvrStateMachine::OpenAudioOn(std::unique_ptr<ICaptureDevice> pCapture,
                                   std::unique_ptr<IPlaybackBuffer> pPlayback) {
    if (CCapture::Initialize(std::move(pCapture), m_hCaptureEvent, CCapture::kDirectX8) != 0) {
        return false;
    }
    auto pStream = std::make_unique<CPlaylistSound>(std::move(pPlayback), m_hPlaybackEvent);
    return SUCCEEDED(pStream->Initialize()) && OpenStream(std::move(pStream));
}

bool CIvrStateMachine::OpenStream(std::unique_ptr<CPlaylistSound> pStream) {
    if (!pStream) {
        return false;
    }
    m_pStream = std::move(pStream);
    m_pStream->SetBackgroundFile(m_InstallationFolder + m_WavPath + "\\background.wav");
    return true;
}

bool CIvrStateMachine::Initialize(HWND hWnd, const std::string& installationFolder,
                                  const std::string& rootSection, const std::string& registryRoot,
                                  bool bLineAttach) {
    m_bLineAttach = bLineAttach;
    if (!Initialize(hWnd, installationFolder, registryRoot)) {
        return false;
    }
    // The root menu alone: its submenus are read once its prompt plays (Start).
    TRACE("CIvrStateMachine::CreateVoiceMenuFromFile: orvin_path = %s, section = %s",
          installationFolder.c_str(), rootSection.c_str());
    m_pTreeBuilder = std::make_unique<CMenuBuilder>(*this);
    m_pRootMenu.reset(m_pTreeBuilder->BuildRoot(installationFolder, rootSection));
    if (m_pRootMenu) {
        CurrentMenuPath.push_back(m_pRootMenu.get());
    }
    m_pGoodByeMenu.reset(CreateVoiceMenuFromFile(installationFolder, "GoodBye"));
    return true;
}

void CIvrStateMachine::CompleteMenuTree() {
    if (m_pTreeBuilder) {
        m_pTreeBuilder->CompleteTree(m_pRootMenu.get());
        m_pTreeBuilder.reset();
    }
}

bool CIvrStateMachine::InitializeSimplePlayFileMenu(const char* pszFile) {
    TRACE("CIvrStateMachine::InitializeSimplePlayFileMenu file %s", pszFile ? pszFile : "");
    m_pRootMenu = CreateSimplePlayFileMenu(*this, pszFile ? pszFile : "");
    if (!m_pRootMenu) {
        return false;
    }
    CurrentMenuPath.push_back(m_pRootMenu.get());
    return true;
}

bool CIvrStateMachine::InitializeReminderRecording(const std::string& folder) {
    m_pRootMenu = CreateReminderRecordingMenu(*this, folder);
    if (!m_pRootMenu) {
        return false;
    }
    CurrentMenuPath.push_back(m_pRootMenu.get());
    return true;
}

CVoiceMenu* CIvrStateMachine::CreateVoiceMenuFromFile(const std::string& installationFolder,
                                                      const std::string& section) {
    TRACE("CIvrStateMachine::CreateVoiceMenuFromFile: orvin_path = %s, section = %s",
          installationFolder.c_str(), section.c_str());
    CMenuBuilder builder(*this);
    return builder.Build(installationFolder, section);
}

HRESULT CIvrStateMachine::Start() {
    // The first prompt plays before anything else is done: DirectSound (under Wine at least)
    // queues silence from the moment its device opens, so whatever is done between the
    // opening and the first play is heard as delay.
    PlayCurrentMenu();
    CompleteMenuTree();
    m_bCapturing = true;
    m_ullCaptureHeard = GetTickCount64();
    m_nCaptureRestarts = 0;
    return StartCapture();
}

void CIvrStateMachine::GetRegParams() {
    const std::string ivrKey = SubKey(m_RegistryRoot, "Config\\IVR");
    RegKey ivr;
    ivr.Open(HKEY_LOCAL_MACHINE, ivrKey.c_str());
    auto number = [](const RegKey& key, const char* name) {
        DWORD value = 0;
        return key.QueryDword(name, &value) == ERROR_SUCCESS ? (int)value : 0;
    };
    auto text = [](const RegKey& key, const char* name, size_t capacity) {
        std::string value;
        return key.QueryString(name, &value, capacity) == ERROR_SUCCESS ? value : std::string();
    };
    m_SupportedLangs = SplitLanguages(text(ivr, "SupportedLanguages", 260));
    m_UserDefinedLang = text(ivr, "UserDefinedLanguage", 260);
    m_WaitingMsgCount = number(ivr, "VoiceMessageWaiting");
    m_WrittenMsgCount = m_WaitingMsgCount;
    m_Pin = text(ivr, "Pin", 260);
    m_VoiceMsgDuration = number(ivr, "VoiceMsgDurationSec");
    DWORD minDuration = kDefaultVoiceMsgMinDurationSec;
    ivr.QueryDword("VoiceMsgMinDurationSec", &minDuration); // missing: the default
    m_VoiceMsgMinDuration = (int)std::min<DWORD>(minDuration, 24 * 3600);
    m_AMGreetingDuration = number(ivr, "AMGreetingDurationSec");
    m_AMGreetingRecordOnPound = number(ivr, "RecordGreetingOnPound");
    m_AttachLineOnDCFToPstn = number(ivr, "AttachLineOnDCF") != 0;
    RegKey pstn, voip;
    pstn.Open(HKEY_LOCAL_MACHINE, SubKey(m_RegistryRoot, "Config\\IVR\\Pstn").c_str());
    voip.Open(HKEY_LOCAL_MACHINE, SubKey(m_RegistryRoot, "Config\\IVR\\Voip").c_str());
    m_PstnEnableAdminMode = number(pstn, "EnableAdminMode");
    m_VoipEnableAdminMode = number(voip, "EnableAdminMode");

    TRACE("%s", kStarLine);
    TRACE("CIvrStateMachine::GetRegParams: m_WaitingMsgCount = %d", m_WaitingMsgCount);
    TRACE("CIvrStateMachine::GetRegParams: m_Pin = %s", CPinGuard::Masked(m_Pin).c_str());
    TRACE("CIvrStateMachine::GetRegParams: m_UserDefinedLang = %s", m_UserDefinedLang.c_str());
    for (const std::string& language : m_SupportedLangs) {
        TRACE("CIvrStateMachine::GetRegParams: m_SupportedLangs = %s", language.c_str());
    }
    TRACE("CIvrStateMachine::GetRegParams: m_VoiceMsgDuration = %d", m_VoiceMsgDuration);
    TRACE("CIvrStateMachine::GetRegParams: m_VoiceMsgMinDuration = %d", m_VoiceMsgMinDuration);
    TRACE("CIvrStateMachine::GetRegParams: m_AMGreetingDuration = %d", m_AMGreetingDuration);
    TRACE("CIvrStateMachine::GetRegParams: m_PstnEnableAdminMode = %d", m_PstnEnableAdminMode);
    TRACE("CIvrStateMachine::GetRegParams: m_VoipEnableAdminMode = %d", m_VoipEnableAdminMode);
    TRACE("CIvrStateMachine::GetRegParams: m_AttachLineOnDCFToPstn = %d", (int)m_AttachLineOnDCFToPstn);
    TRACE("CIvrStateMachine::GetRegParams: m_AMGreetingRecordOnPound = %d", m_AMGreetingRecordOnPound);
    TRACE("%s", kStarLine);
}

std::string CIvrStateMachine::GetSystemLanguageName() {
    return SystemLanguageName();
}

bool CIvrStateMachine::SetLanguage() {
    // A name from the registry that is not a language folder's name is passed over: it
    // would take the menus, prompts and greeting from a folder users may write, or from
    // outside the installation.
    const std::string language = ChooseIvrLanguage(m_UserDefinedLang, m_SupportedLangs, GetSystemLanguageName());
    if (language.empty()) {
        TRACE("CIvrStateMachine::SetLanguage: IVR Voice Menu Language cannot be identified!");
        return false;
    }
    m_WavPath = "\\IVR\\" + language;
    TRACE("CIvrStateMachine::SetLanguage: m_WavFilesPath = %s\n", m_WavPath.c_str());
    return true;
}

// DirectX's own record of its version ("4.09.00.0904" is 9.0c); without one, whether
// dsound.dll has the 8.0 entry.
DWORD CIvrStateMachine::GetDirectXVersion() {
    int major = 0, minor = 0;
    char letter = ' ';
    RegKey key;
    char version[32] = {};
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (key.Open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\DirectX") == ERROR_SUCCESS &&
        key.QueryString("Version", version, sizeof version) == ERROR_SUCCESS &&
        sscanf(version, "%u.%u.%u.%u", &a, &b, &c, &d) == 4 && a == 4) {
        major = (int)b;
        minor = (int)c;
        if (d >= 901 && d <= 904) {
            letter = "abbc"[d - 901];
        }
    } else if (HMODULE dsound = LoadLibraryA("dsound.dll")) {
        major = GetProcAddress(dsound, "DirectSoundCreate8") ? 8 : 7;
        FreeLibrary(dsound);
    }
    char text[16];
    snprintf(text, sizeof text, "%d.%d%c", major, minor, letter);
    if (char* end = strchr(text, ' ')) {
        *end = '\0';
    }
    TRACE("DirectX version %s is installed... ", text);
    return ((DWORD)major << 16) | ((DWORD)minor << 8);
}

void CIvrStateMachine::IdentifyIvrAudioDev() {
    HMODULE dsound = LoadLibraryA("Dsound.dll");
    if (!dsound) {
        return;
    }
    typedef HRESULT(WINAPI * GetClassObject)(REFCLSID, REFIID, LPVOID*);
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(dsound, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    IKsPropertySet* properties = nullptr;
    if (getClassObject &&
        SUCCEEDED(getClassObject(kClsidDirectSoundPrivate, kIidClassFactory, (void**)&factory)) &&
        SUCCEEDED(factory->CreateInstance(nullptr, kIidKsPropertySet, (void**)&properties))) {
        DeviceSearch search{&m_PlaybackDevice, &m_CaptureDevice};
        DSPROPERTY_DIRECTSOUNDDEVICE_ENUMERATE_W_DATA data{};
        data.Callback = IdentifyCallback;
        data.Context = &search;
        properties->Get(kPropSetDirectSoundDevice, DSPROPERTY_DIRECTSOUNDDEVICE_ENUMERATE_W, nullptr, 0,
                        &data, sizeof data, nullptr);
    }
    if (properties) {
        properties->Release();
    }
    if (factory) {
        factory->Release();
    }
    FreeLibrary(dsound);
}

void CIvrStateMachine::IdentifyLegacyAudioDev() {
    LegacySearch playback{&m_PlaybackDevice};
    DirectSoundEnumerateA(LegacyCallback, &playback);
    LegacySearch capture{&m_CaptureDevice};
    DirectSoundCaptureEnumerateA(LegacyCallback, &capture);
}

// ---- The thread

void CIvrStateMachine::ThreadBody() {
    // Named, so that the dialogue's share of the process shows in a profile.
    typedef HRESULT(WINAPI * SetDescription)(HANDLE, PCWSTR);
    if (auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")))) {
        set(GetCurrentThread(), L"OrvinIvrDialog");
    }
    // It feeds the playback buffer and drains the capture buffer: an audio thread.
    const CAudioThreadPriority priority;
    TRACE("CIvrStateMachine::MyThreadProc: audio thread priority %s", priority.GetKind());
    HANDLE events[3] = {m_hCaptureEvent, m_hPlaybackEvent, m_hStopEvent};
    while (!m_bExit && !IsStopRequested()) {
        DWORD wait = WaitForMultipleObjects(3, events, FALSE, CaptureWaitMs());
        if (m_bExit || IsStopRequested()) {
            break;
        }
        if (wait == WAIT_OBJECT_0) {
            m_ullCaptureHeard = GetTickCount64();
            m_nCaptureRestarts = 0;
            // The first tenth captured: the dialogue hears its caller (its prompt was started
            // with it).
            if (!m_bPlaybackStarted) {
                m_bPlaybackStarted = true;
                TRACE("Starting Playback");
            }
            // Every tenth captured since the last wake-up, one at a time: its key (or the
            // tick) is dispatched before the next is taken, so a recording stopped at some
            // tick holds exactly the tenths counted up to it.
            // A tenth whose key went out early (below) has had its dispatch: no tick.
            DWORD tenths = 0;
            for (;;) {
                SetDigitsMasked(IsPinEntryActive()); // the keys of a PIN stay out of the trace
                if (!m_bCapturing || m_bExit || RecordCapturedData(&tenths, 1) != 0 ||
                    tenths != 1) {
                    break;
                }
                const std::string digits = GetDigits();
                if (digits.empty() && GetEarlyDigitCount() > 0) {
                    continue;
                }
                DispatchKeyHeard(digits);
            }
            // The tenth being captured, heard 10 ms at a time: its key goes out 20 ms after
            // the caller let go of it, not when the tenth is complete.
            std::string early;
            SetDigitsMasked(IsPinEntryActive());
            if (m_bCapturing && !m_bExit && ListenAhead(&early) == 0 && !early.empty()) {
                DispatchKeyHeard(early);
            }
        } else if (wait == WAIT_OBJECT_0 + 1) {
            if (m_pStream) {
                m_pStream->HandleNotification();
            }
        } else if (wait == WAIT_OBJECT_0 + 2) {
            TRACE("CIvrStateMachine::MyThreadProc IVR_TERMINATE_THREAD");
            break;
        } else if (wait != WAIT_TIMEOUT) {
            Sleep(10); // a failed wait: look again
        }
        WatchCapture();
    }
}

DWORD CIvrStateMachine::CaptureWaitMs() const {
    if (!m_bCapturing) {
        return INFINITE;
    }
    const ULONGLONG silent = GetTickCount64() - m_ullCaptureHeard;
    const DWORD allowed = m_nCaptureRestarts == 0 ? kCaptureSilenceMs : kRestartSilenceMs;
    return silent >= allowed ? 0 : (DWORD)(allowed - silent);
}

void CIvrStateMachine::WatchCapture() {
    if (!m_bCapturing || m_bExit || IsStopRequested() || CaptureWaitMs() > 0) {
        return;
    }
    const unsigned silentMs = (unsigned)(GetTickCount64() - m_ullCaptureHeard);
    if (m_nCaptureRestarts < kMaxCaptureRestarts) {
        TRACE("CIvrStateMachine::MyThreadProc: no capture notification for %u ms: the capture is restarted",
              silentMs);
        ++m_nCaptureRestarts;
        m_ullCaptureHeard = GetTickCount64();
        const HRESULT hr = RestartCapture();
        if (FAILED(hr)) {
            TRACE("CIvrStateMachine::MyThreadProc: the capture did not restart (err = 0x%x)", (unsigned)hr);
        }
        return;
    }
    TRACE("CIvrStateMachine::MyThreadProc: no capture notification for %u ms after %d restarts: the dialogue "
          "ends (IVR_TERMINATE_REQUEST)",
          silentMs, m_nCaptureRestarts);
    Report(nullptr);
}

void CIvrStateMachine::DispatchKeyHeard(const std::string& digits) {
    char key = 0;
    if (!digits.empty()) {
        key = digits.back();
        TRACE("CIvrStateMachine DTMF detected: %c", CPinGuard::MaskedKey(key, IsPinEntryActive()));
    }
    DispatchKey(key);
}

void CIvrStateMachine::DispatchKey(char key) {
    CompleteMenuTree(); // when driven before its start
    if (CurrentMenuPath.empty()) {
        return;
    }
    CVoiceMenu* before = CurrentMenuPath.back();
    // Menus may push and pop while they handle the call: walk by position, re-checked.
    for (size_t i = CurrentMenuPath.size(); i-- > 0;) {
        if (i >= CurrentMenuPath.size()) {
            i = CurrentMenuPath.size();
            continue;
        }
        if (CurrentMenuPath[i]->InterpretControl(key)) {
            break;
        }
    }
    if (!CurrentMenuPath.empty() && CurrentMenuPath.back() != before) {
        PlayCurrentMenu();
    }
}

// ---- The menu path

void CIvrStateMachine::PushMenu(CVoiceMenu* pMenu) {
    if (pMenu) {
        CurrentMenuPath.push_back(pMenu);
    }
}

bool CIvrStateMachine::GoBack() {
    if (CurrentMenuPath.size() <= 1 || CurrentMenuPath.back() == m_pFloorMenu) {
        return false;
    }
    CVoiceMenu* menu = CurrentMenuPath.back();
    menu->StopPrompt();
    menu->Reset();
    CurrentMenuPath.pop_back();
    return true;
}

CVoiceMenu* CIvrStateMachine::GetCurrentMenu() {
    return CurrentMenuPath.empty() ? nullptr : CurrentMenuPath.back();
}

void CIvrStateMachine::PlayCurrentMenu() {
    if (CurrentMenuPath.empty()) {
        TRACE("CIvrStateMachine::PlayCurrentMenu iter == CurrentMenuPath.rend()");
        return;
    }
    TRACE("CIvrStateMachine::PlayCurrentMenu Play");
    CurrentMenuPath.back()->Play();
}

// ---- Reports and the waiting messages

void CIvrStateMachine::Report(IMM* pReport) {
    SendReport(pReport, true);
}

void CIvrStateMachine::ReportKeepRecording(IMM* pReport) {
    SendReport(pReport, false);
}

void CIvrStateMachine::SendReport(IMM* pReport, bool bHandBack) {
    IMM record = {};
    if (pReport) {
        record = *pReport;
    } else {
        record.Type = MSG_TYPE_IVR_EVENT;
        record.Code = IVR_TERMINATE_REQUEST;
    }
    if (bHandBack) {
        m_bCapturing = false;
        StartOrStopRecord(false);
    }
    record.Info = m_WaitingMsgCount;
    const int32_t id = m_nIvrId;
    memcpy(record.Buffer1, &id, sizeof id);
    if (m_pManager) {
        m_pManager->SendControlMsg(&record);
    }
    if (bHandBack) {
        WriteWaitingMsgCount();
    }
}

void CIvrStateMachine::AddWaitingMessage() {
    ++m_WaitingMsgCount;
}

void CIvrStateMachine::RemoveWaitingMessage() {
    m_WaitingMsgCount = CountAfterDeletion(m_WaitingMsgCount);
    WriteWaitingMsgCount();
}

void CIvrStateMachine::ResetWaitingMessages() {
    m_WaitingMsgCount = 0;
    WriteWaitingMsgCount();
}

void CIvrStateMachine::WriteWaitingMsgCount() {
    const LONG result = WriteVoiceMessageWaiting(m_RegistryRoot, m_WaitingMsgCount);
    if (result == ERROR_SUCCESS) {
        m_WrittenMsgCount = m_WaitingMsgCount;
    } else {
        TRACE("CIvrStateMachine: VoiceMessageWaiting = %d can not be written (Err=%d)", m_WaitingMsgCount,
              (int)result);
    }
}

bool CIvrStateMachine::IsLastRecordingEmpty() const {
    // A minimum longer than the recording time would drop every message.
    const int minSeconds = std::min(m_VoiceMsgMinDuration, std::max(m_VoiceMsgDuration, 0));
    const DWORD bytesPerSecond = TelephonePcmFormat().nAvgBytesPerSec;
    return GetRecordedBytes() < (DWORD)minSeconds * bytesPerSecond || GetRecordedLoudestRms() <= kSilenceRms;
}

bool CIvrStateMachine::IsAdminModeEnabled() const {
    return (m_bPstn ? m_PstnEnableAdminMode : m_VoipEnableAdminMode) != 0;
}
