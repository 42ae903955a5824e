// COrvinAgentDlg: the agent's main window, the modal dialog whose run is the agent's life.
// It shows the event log (the traffic between agent, softphone and service), sends a typed
// command to the softphone, saves the log, keeps the connection status (an icon index and
// a tooltip) for a notification-area component, offers the tray menu (About, Configure,
// Exit), starts the monitor program, owns the call recorder (polled every 200 ms, and
// told the recorder interface's requests), and retries the creation of the API client
// every 3 seconds until it succeeds. It stays hidden unless Config\UI Enable is set; the
// notification-area icon (CTrayIcon) shows the status and brings the tray menu either way.
//
// The event log is drawn when the traffic pauses, not line by line: a line is kept until
// no other line has come for kLogQuietMs, then every waiting line goes into the list at
// once, in order, with one redraw. Once the oldest has waited kLogMaxDelayMs, a pause of
// kLogShortQuietMs will do; after kLogMaxWaitMs the lines go in at the next chance, pause
// or not. Drawing a list (and its scroll bar) takes milliseconds, and this thread also
// carries the softphone's and the service's messages: a call must not wait for the picture
// of the last one. The list keeps the newest kMaxLogLines lines, so a run of weeks does not
// grow.
//
// Threads: GUI thread only. The API client calls it from there too (adapter events are
// handed over to the GUI thread before they reach the client).
#pragma once

#include "agent/DialogBase.h"
#include "agent/TrayIcon.h"
#include "base/config/ConfigParams.h"
#include "recorder/CallRecorder.h"
#include "softphone/AgentLinks.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class COrvinAgentDlg : public CDialogBase, public IOrvinAgentDialog {
public:
    static constexpr UINT_PTR kRetryTimer = 16;
    static constexpr UINT kRetryMs = 3000;
    static constexpr UINT_PTR kRecorderTimer = 0x2091102;
    static constexpr UINT kRecorderMs = 200;
    static constexpr UINT_PTR kBlinkTimer = 0x2091103;
    static constexpr UINT kBlinkMs = 500;
    static constexpr UINT_PTR kLogTimer = 0x2091104;
    static constexpr UINT kLogQuietMs = 50;
    static constexpr UINT kLogShortQuietMs = 10;
    static constexpr ULONGLONG kLogMaxDelayMs = 500;
    static constexpr ULONGLONG kLogMaxWaitMs = 2000;
    static constexpr LRESULT kMaxLogLines = 2000;

    // Reads DoNotTranslate, SoftwareInstallationFolder, MonitorExeName and Config\UI
    // NoConfigure below `registryRoot`.
    explicit COrvinAgentDlg(const std::string& registryRoot);
    ~COrvinAgentDlg() override;

    void SetConfigParams(CConfigParams* params) { m_pConfigParams = params; }
    // What initialisation and the retry timer call: 1 once the client exists.
    void SetInitializeSoftPhone(std::function<int()> initialize) {
        m_InitializeSoftPhone = std::move(initialize);
    }

    // IOrvinAgentDialog
    void SetApiClient(COrvinApiClient* client) override { m_pClient = client; }
    void SetMessageEngine(CMessageEngine* engine) override { m_pMessageEngine = engine; }
    void SetRegistryRoot(const std::string& root) override { m_RegistryRoot = root; }
    void RefreshStatus() override;
    void AddTrafficLine(const char* text, int direction) override;
    void RingIndicationOn() override;
    void RingIndicationOff() override;
    void BusyIndication() override;
    // The lines still waiting go into the list now.
    void FlushTrafficLines();
    bool IsCallRecording() override;
    void StopCallRecording() override;

    // The recorder driver's device (for tests); before the dialog is created.
    void SetRecorderDevice(const std::string& name) { m_RecorderDevice = name; }
    CCallRecorder* CallRecorder() const { return m_pCallRecorder.get(); }
    HWND RecorderGuiWindow() const { return m_hRecorderGui; }
    UINT RecorderMessage() const { return m_uRecorderMessage; }
    // Where the connection flags shown last live: the About box closes itself when the
    // adapter goes.
    const int32_t* ShownFlags() const { return &m_nShownFlags; }

    int StatusIndex() const { return m_nStatusIndex; }
    const std::string& StatusTooltip() const { return m_StatusTooltip; }
    HICON StatusIcon() const { return m_hStatusIcons[m_nStatusIndex]; }
    bool NoConfigure() const { return m_bNoConfigure; }
    const std::string& MonitorPath() const { return m_MonitorPath; }
    UINT TrayMessage() const { return m_uTrayMessage; }
    void StartOrvinMonitor(bool hide);
    // The tray menu as the shown status allows it (its first submenu is the popup); the
    // caller destroys it.
    HMENU CreateTrayMenu();
    const CTrayIcon& TrayIcon() const { return m_TrayIcon; }

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnCommand(UINT id, UINT code, HWND control) override;
    void OnDestroy() override;

private:
    void OnSend();
    void OnSave();
    void OnTrayNotification(LPARAM mouseMessage);
    void ShowTrayMenu();
    void ShowAboutBox();
    LRESULT OnRecorderMessage(WPARAM command, LPARAM window);
    void RememberRecorderGui(LPARAM window);
    void CloseCallRecorder();
    void SetStatusIcon(int index);
    // The notification area follows the status icon and tooltip.
    void ShowStatusInTray();
    // A line for the list: it follows every line still waiting; `scroll` unless the list
    // should stay where it is (the Send button's echo).
    void QueueLogLine(std::string line, bool scroll);
    const char* Translated(int id, const char* text) const;
    std::string LoadText(UINT id) const;

    HICON m_hMainIcon = nullptr;
    HICON m_hStatusIcons[4] = {};
    UINT m_uTrayMessage = 0;
    UINT m_uRecorderMessage = 0;
    bool m_bHoldScroll = false;
    bool m_bMinimised = false;
    std::string m_RegistryRoot;
    std::string m_MonitorPath;
    bool m_bDoNotTranslate = false;
    bool m_bNoConfigure = false;
    int32_t m_nShownFlags = 0;
    COrvinApiClient* m_pClient = nullptr;
    CMessageEngine* m_pMessageEngine = nullptr;
    CConfigParams* m_pConfigParams = nullptr;
    std::unique_ptr<CCallRecorder> m_pCallRecorder;
    std::string m_RecorderDevice = CCallRecorder::kDeviceName;
    HWND m_hRecorderGui = nullptr;
    bool m_bBlinkOn = false;
    int m_nStatusIndex = 0;
    std::string m_StatusTooltip;
    CTrayIcon m_TrayIcon;
    std::function<int()> m_InitializeSoftPhone;
    struct PendingLine {
        std::string text;
        bool scroll;
    };
    std::vector<PendingLine> m_PendingLines;
    ULONGLONG m_ullFirstPending = 0; // when the oldest waiting line came
};
