#include "agent/OrvinAgentApp.h"

#include "agent/ErrorMessageDlg.h"
#include "agent/OrvinAgentDlg.h"
#include "base/config/Registry.h"
#include "base/trace/Trace.h"
#include "base/translate/Translator.h"
#include "devicelink/AdapterEnum.h"
#include "softphone/AnsweringMachineClient.h"
#include "softphone/eyebeam/EyebeamApiClient.h"
#include "softphone/qq/QQApiClient.h"
#include "softphone/skype/SkypeApiClient.h"
#include "softphone/teltel/TelTelApiClient.h"
#include "softphone/thinkit/ThinkItApiClient.h"

#include <commctrl.h>

#include <map>
#include <mutex>

namespace {

// The softphone side asks for texts by number and falls back on its own English when there
// is no translation; each translation is fetched once and kept for the run.
std::mutex g_textsLock;
std::map<int, std::string> g_texts;

const char* TranslatedTextOf(int number) {
    CTranslator* translator = CTranslator::GetInstance();
    if (!translator) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_textsLock);
    auto found = g_texts.find(number);
    if (found == g_texts.end()) {
        char text[512];
        if (translator->Translate(number, text, sizeof text) != 1) {
            return nullptr; // English: the caller's own text
        }
        found = g_texts.emplace(number, text).first;
    }
    return found->second.c_str();
}

} // namespace

COrvinAgentApp::COrvinAgentApp() {
    SetAgentApplication(this);
    CTranslator::SetRegistryRootFinder(FindAdapterRegistryRoot);
}

COrvinAgentApp::~COrvinAgentApp() {
    SetAgentApplication(nullptr);
    OrvinAppManager::DestroyInstance();
    orvin::TraceStop();
}

std::string COrvinAgentApp::FindRegistryRoot() {
    char root[kAdapterKeySize] = {};
    FindAdapterRegistryRoot(root, sizeof root);
    return root;
}

bool COrvinAgentApp::InitInstance() {
    TRACE("OrvinAgent Application InitInstance() Started!");
    m_nSoftPhoneType = SoftPhoneTypeRecord::kNone;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    if (OrvinAppManager* manager = OrvinAppManager::GetInstance()) {
        manager->SetParentID(kAgentAppId);
        manager->SetNotificationSink(&m_Sink);
        manager->QuitOnShutdown = FALSE;
        if (manager->IsAppRunning(kAgentAppId)) {
            TRACE("An instance of OrvinAgent is already running. InitInstance() Finished!");
            return true;
        }
    }

    m_RegistryRoot = FindRegistryRoot();
    m_pMainDialog = std::make_unique<COrvinAgentDlg>(m_RegistryRoot);
    CreateErrorBox();
    CTranslator::GetInstance(); // loads the translation while the service answers
    SetTranslator(TranslatedTextOf);
    m_pMainDialog->SetConfigParams(&m_ConfigParams);
    m_pMainDialog->SetInitializeSoftPhone([this] { return InitializeSoftPhone(); });
    m_pMainDialog->DoModal();

    TRACE("OrvinAgent Application InitInstance() CleanUp!");
    ShutdownSequence();
    TRACE("OrvinAgent Application InitInstance() Finished!");
    return false;
}

void COrvinAgentApp::LoadRegistryParameters() {
    ::LoadRegistryParameters(m_RegistryRoot, &m_ConfigParams, &m_Settings);
}

int COrvinAgentApp::InitializeSoftPhone() {
    m_RegistryRoot = FindRegistryRoot();
    if (!m_RegistryRoot.empty()) {
        LoadRegistryParameters();
    }
    m_nSoftPhoneType = m_Settings.softPhoneType.SelectedIndex();
    switch (m_nSoftPhoneType) {
    case 0:
        m_pClient = std::make_unique<CSkypeApiClient>();
        break;
    case 1:
        m_pClient = std::make_unique<QQApiClient>();
        break;
    case 2:
        m_pClient = std::make_unique<CThinkItApiClient>();
        break;
    case 4:
        m_pClient = std::make_unique<CEyebeamApiClient>();
        break;
    case 8:
        m_pClient = std::make_unique<CAnsweringMachineClient>(0);
        break;
    case 9:
        m_pClient = std::make_unique<CAnsweringMachineClient>(1);
        break;
    case 10:
        m_pClient = std::make_unique<CTelTelApiClient>();
        break;
    default: // 3, 5, 6, 7 and 11 (or an invalid record) select none
        break;
    }
    TRACE("InitializeSoftPhone: SP = %d:%s created", m_nSoftPhoneType, m_pClient ? " " : " NOT");
    if (!m_pClient) {
        return 0;
    }
    m_pClient->SetConfigParams(&m_ConfigParams);
    m_pClient->Init(m_pMainDialog.get(), m_RegistryRoot);
    m_pClient->OnVoipAdapterAttach();
    return 1;
}

void COrvinAgentApp::OnOrvinAppManagerNotication(int code) {
    if (code != 768) {
        return;
    }
    if (m_pClient) {
        m_pClient->SetShuttingDown();
        TRACE("OnOrvinAppManagerNotication: API client's ShuttingDown flag set");
    }
    if (m_pMainDialog) {
        m_pMainDialog->EndDialog(IDCANCEL);
        TRACE("OnOrvinAppManagerNotication: Dialog's EndDialog(...) called");
    }
}

std::string COrvinAgentApp::SoftwareInstallationFolder() const {
    std::string folder;
    orvin::RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, m_RegistryRoot.c_str()) == ERROR_SUCCESS) {
        key.QueryString("SoftwareInstallationFolder", &folder, MAX_PATH);
    }
    return folder;
}

// The one error box of the run: modeless, hidden until the first error.
void COrvinAgentApp::CreateErrorBox() {
    auto box = std::make_unique<CErrorMessageDlg>();
    if (!box->Create()) {
        TRACE("COrvinAgentApp: the error box could not be created (error %lu)", GetLastError());
        return;
    }
    g_pErrorMessageDlg = box.release();
    SetErrorBox(ShowErrorMessage);
}

void COrvinAgentApp::DestroyErrorBox() {
    SetErrorBox(nullptr);
    if (CErrorMessageDlg* box = g_pErrorMessageDlg) {
        g_pErrorMessageDlg = nullptr;
        box->Destroy();
        delete box;
    }
}

void COrvinAgentApp::ShutdownSequence() {
    if (m_pClient) {
        m_pClient->OnApiServerDetached();
        m_pClient->PrepareForClosing();
        if (g_pErrorMessageDlg) {
            g_pErrorMessageDlg->ForgetOwner(m_pClient.get());
        }
        if (m_pMainDialog) {
            m_pMainDialog->SetApiClient(nullptr);
        }
        m_pClient.reset();
    }
    m_pMainDialog.reset();
    SetTranslator(nullptr);
    {
        std::lock_guard<std::mutex> lock(g_textsLock);
        g_texts.clear();
    }
    CTranslator::DestroyInstance();
    DestroyErrorBox();
}
