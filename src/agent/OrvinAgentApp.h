// COrvinAgentApp: the application object. It makes sure only one agent runs, finds the
// adapter's software key (the registry root) through the service's enumeration, reads the
// configuration into one CConfigParams, runs the main dialog modally (the agent's whole
// life), creates the softphone API client the registry selects and the one error box of
// the run, and tears everything down in a fixed order when the dialog ends.
//
// Threads: GUI thread only (the application manager's sink is called from its hidden
// window, on the same thread).
#pragma once

#include "base/appmanager/OrvinAppManager.h"
#include "base/config/ConfigParams.h"
#include "softphone/AgentLinks.h"

#include <memory>
#include <string>

class COrvinApiClient;
class COrvinAgentDlg;

class COrvinAgentApp : public IOrvinAgentApplication {
public:
    static constexpr int kAgentAppId = 2;

    COrvinAgentApp();
    ~COrvinAgentApp() override;
    COrvinAgentApp(const COrvinAgentApp&) = delete;
    COrvinAgentApp& operator=(const COrvinAgentApp&) = delete;

    // The whole run. True only when another agent already runs.
    bool InitInstance();
    void LoadRegistryParameters() override;
    // 1 when the client was created, 0 otherwise (the dialog retries every 3 s).
    int InitializeSoftPhone();
    void OnOrvinAppManagerNotication(int code);
    // Config: SoftwareInstallationFolder below the registry root ("" when missing).
    std::string SoftwareInstallationFolder() const;

    CConfigParams& ConfigParams() { return m_ConfigParams; }
    int SoftPhoneType() const { return m_nSoftPhoneType; }
    const std::string& RegistryRoot() const { return m_RegistryRoot; }
    COrvinApiClient* Client() const { return m_pClient.get(); }

private:
    class NotificationSink : public COrvinAppManagerSink {
    public:
        explicit NotificationSink(COrvinAgentApp* app) : m_pApp(app) {}
        void OnOrvinAppManagerNotication(int code, int senderId) override {
            m_pApp->OnOrvinAppManagerNotication(code);
        }

    private:
        COrvinAgentApp* m_pApp;
    };

    std::string FindRegistryRoot();
    void CreateErrorBox();
    void DestroyErrorBox();
    void ShutdownSequence();

    NotificationSink m_Sink{this};
    std::unique_ptr<COrvinApiClient> m_pClient;
    std::unique_ptr<COrvinAgentDlg> m_pMainDialog;
    CConfigParams m_ConfigParams;
    int m_nSoftPhoneType = SoftPhoneTypeRecord::kNone;
    AgentRegistrySettings m_Settings; // ApplicationName and the SoftPhoneType record
    std::string m_RegistryRoot;
};
