#include "agent/OrvinAgentDlg.h"

#include "agent/AboutDlg.h"
#include "agent/resource.h"
#include "base/config/Registry.h"
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/MessageEngine.h"
#include "softphone/OrvinApiClient.h"

#include <commdlg.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <vector>

using orvin::RegKey;
using orvin::SubKey;

namespace {

const char* const kLogPrefixes[] = {"[AG]==>", "[SP-->AG]==>", "[AG-->SP]==>", "[SM-->AG]==>",
                                    "[AG-->SM]==>"};
std::atomic<bool> g_bAboutShown{false}; // one About box at a time, process-wide

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

COrvinAgentDlg::COrvinAgentDlg(const std::string& registryRoot)
    : CDialogBase(IDD_ORVINAGENT_DIALOG), m_RegistryRoot(registryRoot) {
    std::string folder;
    std::string monitorName;
    bool hasMonitorName = false;
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, registryRoot.c_str()) == ERROR_SUCCESS) {
        DWORD value = 0;
        if (key.QueryDword("DoNotTranslate", &value) == ERROR_SUCCESS) {
            m_bDoNotTranslate = value != 0;
        }
        key.QueryString("SoftwareInstallationFolder", &folder, MAX_PATH);
        hasMonitorName = key.QueryString("MonitorExeName", &monitorName, MAX_PATH) == ERROR_SUCCESS;
    }
    m_MonitorPath = folder + "\\" + (hasMonitorName ? monitorName + ".exe" : std::string("OrvinMonitor.exe"));
    if (!FileExists(m_MonitorPath)) {
        m_bNoConfigure = true;
    } else if (key.Open(HKEY_LOCAL_MACHINE, SubKey(registryRoot, "Config\\UI").c_str()) == ERROR_SUCCESS) {
        DWORD value = 0;
        if (key.QueryDword("NoConfigure", &value) == ERROR_SUCCESS) {
            m_bNoConfigure = value != 0;
        }
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    m_hMainIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    for (int i = 0; i < 4; ++i) {
        m_hStatusIcons[i] = static_cast<HICON>(
            LoadImageA(instance, MAKEINTRESOURCEA(IDI_STATUS0 + i), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    }
    m_uTrayMessage = RegisterWindowMessageA("TBHide tray notification");
    m_StatusTooltip = LoadText(IDS_VOIP_ADAPTOR) + " Device Not Present";
}

COrvinAgentDlg::~COrvinAgentDlg() {
    CloseCallRecorder();
    for (HICON& icon : m_hStatusIcons) {
        if (icon) {
            DestroyIcon(icon);
            icon = nullptr;
        }
    }
}

std::string COrvinAgentDlg::LoadText(UINT id) const {
    char text[256] = {};
    LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text);
    return text;
}

const char* COrvinAgentDlg::Translated(int id, const char* text) const {
    return TranslatedText(id, text);
}

BOOL COrvinAgentDlg::OnInitDialog() {
    if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
        const std::string about = LoadText(IDS_ABOUTBOX);
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, (LPARAM)m_hMainIcon);
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, (LPARAM)m_hMainIcon);
    SetDlgItemTextA(m_hWnd, IDC_HOLD_SCROLL, "AutoScroll");
    m_TrayIcon.Attach(m_hWnd, m_uTrayMessage);
    ShowStatusInTray();
    // The recorder and its message before the client's start: the client's start lets
    // messages sent to this thread through, and a recorder interface that speaks then is
    // answered, not lost.
    m_uRecorderMessage = RegisterWindowMessageA("ORVIN_RECORDER_INTERFACE_MESSAGE");
    m_pCallRecorder = std::make_unique<CCallRecorder>(m_RegistryRoot, m_RecorderDevice.c_str());
    // The client of the moment tells the service; it may come later (the retry timer).
    m_pCallRecorder->SetAgentStatusNotifier([this](int info) {
        if (m_pClient) {
            m_pClient->SendToService(MSG_TYPE_AGENT_EVENT, NotifyAgentStatus, info);
        }
    });
    if (!m_InitializeSoftPhone || m_InitializeSoftPhone() == 0) {
        SetTimer(m_hWnd, kRetryTimer, kRetryMs, nullptr);
    }
    SetWindowTextA(m_hWnd, "OrvinAgent");
    SetTimer(m_hWnd, kRecorderTimer, kRecorderMs, nullptr);
    return TRUE;
}

void COrvinAgentDlg::OnDestroy() {
    m_TrayIcon.Remove();
    KillTimer(m_hWnd, kRecorderTimer);
    KillTimer(m_hWnd, kBlinkTimer);
    KillTimer(m_hWnd, kRetryTimer);
    KillTimer(m_hWnd, kLogTimer);
    m_PendingLines.clear();
    // A recording in progress is finished while the client can still tell the service.
    CloseCallRecorder();
}

void COrvinAgentDlg::CloseCallRecorder() {
    if (m_pCallRecorder) {
        m_pCallRecorder->Close();
        m_pCallRecorder.reset();
    }
}

bool COrvinAgentDlg::IsCallRecording() {
    return m_pCallRecorder && m_pCallRecorder->IsRecording();
}

void COrvinAgentDlg::StopCallRecording() {
    if (m_pCallRecorder) {
        m_pCallRecorder->StopRecording();
    }
}

void COrvinAgentDlg::RefreshStatus() {
    const int32_t flags = m_pClient ? m_pClient->ConnectionFlags() : 0;
    if (m_hWnd && ((flags ^ m_nShownFlags) & kFlagAdapterAttached)) {
        SendMessageA(m_hWnd, WM_CANCELMODE, 0, 0);
    }
    int index = 0;
    if ((flags & (kFlagAdapterAttached | kFlagApiAttached)) == (kFlagAdapterAttached | kFlagApiAttached)) {
        index = (flags & kFlagOffHook) ? 3 : 2;
    } else if (flags & kFlagAdapterAttached) {
        index = 1;
    }
    std::string tooltip;
    if (flags & kFlagAdapterAttached) {
        const bool api = (flags & kFlagApiAttached) != 0;
        const char* state = api ? "Connected" : "Disconnected";
        if (!m_bDoNotTranslate) {
            state = Translated(api ? 66 : 67, state);
        }
        tooltip = (m_pClient ? m_pClient->DisplayName() : std::string()) + " " + state;
    } else {
        const char* state = "Device Not Present";
        if (!m_bDoNotTranslate) {
            state = Translated(142, state);
        }
        tooltip = LoadText(IDS_VOIP_ADAPTOR) + " " + state;
    }
    m_nStatusIndex = index;
    m_StatusTooltip = tooltip;
    m_nShownFlags = flags;
    ShowStatusInTray();
}

void COrvinAgentDlg::ShowStatusInTray() {
    if (m_hWnd) {
        m_TrayIcon.Show(m_hStatusIcons[m_nStatusIndex], m_StatusTooltip);
    }
}

void COrvinAgentDlg::AddTrafficLine(const char* text, int direction) {
    if (!m_pConfigParams || m_pConfigParams->m_nUiEnable != 1 || !text || direction < 0 || direction > 4) {
        return;
    }
    if (!m_hWnd || !Item(IDC_EVENT_LOG)) {
        return;
    }
    char line[1024];
    snprintf(line, sizeof line, "%s%.128s", kLogPrefixes[direction], text);
    QueueLogLine(line, true);
}

void COrvinAgentDlg::QueueLogLine(std::string line, bool scroll) {
    const ULONGLONG now = GetTickCount64();
    if (m_PendingLines.empty()) {
        m_ullFirstPending = now;
    }
    m_PendingLines.push_back({std::move(line), scroll});
    // Each line puts the drawing off again: to the next pause, a shorter one once the
    // oldest line has waited long, and no more once it has waited too long.
    const ULONGLONG waited = now - m_ullFirstPending;
    if (waited < kLogMaxWaitMs) {
        SetTimer(m_hWnd, kLogTimer, waited < kLogMaxDelayMs ? kLogQuietMs : kLogShortQuietMs, nullptr);
    }
}

void COrvinAgentDlg::FlushTrafficLines() {
    if (m_hWnd) {
        KillTimer(m_hWnd, kLogTimer);
    }
    HWND list = m_hWnd ? Item(IDC_EVENT_LOG) : nullptr;
    if (!list || m_PendingLines.empty()) {
        m_PendingLines.clear();
        return;
    }
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    LRESULT top = -1;
    for (const PendingLine& line : m_PendingLines) {
        const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)line.text.c_str());
        if (line.scroll && index >= 0) {
            top = index;
        }
    }
    m_PendingLines.clear();
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    if (count > kMaxLogLines) {
        const LRESULT excess = count - kMaxLogLines;
        for (LRESULT i = 0; i < excess; ++i) {
            SendMessageA(list, LB_DELETESTRING, 0, 0);
        }
        top -= excess;
        count = kMaxLogLines;
    }
    if (!m_bHoldScroll && top >= 0) {
        SendMessageA(list, LB_SETTOPINDEX, (WPARAM)top, 0);
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void COrvinAgentDlg::SetStatusIcon(int index) {
    m_nStatusIndex = index;
    ShowStatusInTray();
}

void COrvinAgentDlg::RingIndicationOn() {
    if (m_hWnd) {
        SetTimer(m_hWnd, kBlinkTimer, kBlinkMs, nullptr);
    }
}

void COrvinAgentDlg::RingIndicationOff() {
    if (m_hWnd) {
        KillTimer(m_hWnd, kBlinkTimer);
    }
    SetStatusIcon(2);
}

void COrvinAgentDlg::BusyIndication() {
    if (m_hWnd) {
        KillTimer(m_hWnd, kBlinkTimer);
    }
    SetStatusIcon(3);
}

void COrvinAgentDlg::OnSend() {
    HWND combo = Item(IDC_COMMAND_COMBO);
    char text[1024] = {};
    GetWindowTextA(combo, text, sizeof text);
    if (!*text) {
        return;
    }
    SendMessageA(combo, CB_INSERTSTRING, 0, (LPARAM)text);
    // After the lines still waiting, and shown at once: the user has just pressed Send.
    QueueLogLine(std::string("==>>") + text, false);
    FlushTrafficLines();
    if (!m_pMessageEngine) {
        TRACE("Message Window does not exsist!");
        return;
    }
    COPYDATASTRUCT data = {0, (DWORD)strlen(text) + 1, text};
    m_pMessageEngine->DispatchMessageToApiServer(&data);
}

void COrvinAgentDlg::OnSave() {
    char path[MAX_PATH] = "OrvinAgent.log";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_hWnd;
    dialog.lpstrFilter = "Log File (*.log)\0*.log\0\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrTitle = "Save log file as";
    dialog.lpstrDefExt = "log";
    dialog.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    if (!GetSaveFileNameA(&dialog)) {
        return;
    }
    FlushTrafficLines();
    FILE* file = fopen(path, "wt");
    if (!file) {
        return;
    }
    char date[128];
    time_t now = time(nullptr);
    strftime(date, sizeof date, "%A, %B %d, %Y\n\n", localtime(&now));
    fprintf(file, "OrvinAgent Log file, Created on: %s", date);
    HWND list = Item(IDC_EVENT_LOG);
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, (WPARAM)i, 0);
        if (length < 0) {
            continue;
        }
        std::vector<char> line((size_t)length + 1, 0);
        SendMessageA(list, LB_GETTEXT, (WPARAM)i, (LPARAM)line.data());
        fprintf(file, "%s\n", line.data());
    }
    fclose(file);
}

void COrvinAgentDlg::StartOrvinMonitor(bool hide) {
    TRACE("COrvinAgentDlg::StartOrvinMonitor(%d)", hide ? 1 : 0);
    if (m_bNoConfigure) {
        return;
    }
    char commandLine[2 * MAX_PATH];
    snprintf(commandLine, sizeof commandLine, "\"%s\"%s", m_MonitorPath.c_str(), hide ? " -hide" : "");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        TRACE("Failed to run OrvinMonitor\n");
        return;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

void COrvinAgentDlg::ShowAboutBox() {
    if (g_bAboutShown.exchange(true)) {
        return;
    }
    CAboutDlg about(m_RegistryRoot, &m_nShownFlags);
    about.DoModal(m_hWnd);
    g_bAboutShown = false;
}

HMENU COrvinAgentDlg::CreateTrayMenu() {
    HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAY_MENU));
    HMENU popup = menu ? GetSubMenu(menu, 0) : nullptr;
    if (!popup) {
        if (menu) {
            DestroyMenu(menu);
        }
        return nullptr;
    }
    const bool attached = (m_nShownFlags & kFlagAdapterAttached) != 0;
    if (attached) {
        ModifyMenuA(popup, ID_TRAY_ABOUT, MF_BYCOMMAND | MF_STRING, ID_TRAY_ABOUT, Translated(50, "About"));
    } else {
        DeleteMenu(popup, ID_TRAY_ABOUT, MF_BYCOMMAND);
    }
    DeleteMenu(popup, ID_TRAY_RESTORE, MF_BYCOMMAND);
    if (m_bNoConfigure || !attached) {
        DeleteMenu(popup, ID_TRAY_CONFIGURE, MF_BYCOMMAND);
        if (!attached) {
            DeleteMenu(popup, 0, MF_BYPOSITION); // the separator
        }
    } else {
        ModifyMenuA(popup, ID_TRAY_CONFIGURE, MF_BYCOMMAND | MF_STRING, ID_TRAY_CONFIGURE,
                    Translated(51, "&Configure"));
    }
    ModifyMenuA(popup, ID_TRAY_EXIT, MF_BYCOMMAND | MF_STRING, ID_TRAY_EXIT, Translated(32, "E&xit"));
    return menu;
}

void COrvinAgentDlg::ShowTrayMenu() {
    HMENU menu = CreateTrayMenu();
    if (!menu) {
        return;
    }
    POINT cursor = {};
    GetCursorPos(&cursor);
    SetForegroundWindow(m_hWnd);
    TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTBUTTON, cursor.x, cursor.y, 0, m_hWnd, nullptr);
    PostMessageA(m_hWnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void COrvinAgentDlg::OnTrayNotification(LPARAM mouseMessage) {
    if (mouseMessage == WM_RBUTTONUP) {
        ShowTrayMenu();
    } else if (mouseMessage == WM_LBUTTONDBLCLK) {
        if (m_nShownFlags & kFlagAdapterAttached) {
            StartOrvinMonitor(false);
        } else {
            SetForegroundWindow(m_hWnd);
            const std::string text = LoadText(IDS_VOIP_ADAPTOR) + " " + Translated(142, "Device Not Present");
            MessageBoxA(m_hWnd, text.c_str(), "OrvinAgent", MB_OK);
        }
    }
}

void COrvinAgentDlg::RememberRecorderGui(LPARAM window) {
    m_hRecorderGui = reinterpret_cast<HWND>(window);
    TRACE("Recorder GUI window - 0x%x", (unsigned)(uintptr_t)m_hRecorderGui);
    // A start that follows at once is notified to it, not only after the next poll.
    if (m_pCallRecorder) {
        m_pCallRecorder->SetGuiWindow(m_hRecorderGui, m_uRecorderMessage);
    }
}

LRESULT COrvinAgentDlg::OnRecorderMessage(WPARAM command, LPARAM window) {
    switch (command) {
    case CCallRecorder::SESSION_RECORDER_MESSAGE_START:
        TRACE("CallRecorder Message>>> SESSION_RECORDER_MESSAGE_START");
        if (m_pCallRecorder) {
            m_pCallRecorder->StartRecording();
        }
        return 1;
    case CCallRecorder::SESSION_RECORDER_MESSAGE_STOP:
        TRACE("CallRecorder Message>>> SESSION_RECORDER_MESSAGE_STOP");
        if (m_pCallRecorder) {
            m_pCallRecorder->StopRecording();
        }
        return 1;
    case CCallRecorder::SESSION_RECORDER_GUI_ALIVE:
        TRACE("CallRecorder Message>>> SESSION_RECORDER_GUI_ALIVE");
        RememberRecorderGui(window);
        return 0;
    case CCallRecorder::SESSION_RECORDER_SETTINGS_UPDATE_MESSAGE:
        TRACE("CallRecorder Message>>> SESSION_RECORDER_SETTINGS_UPDATE_MESSAGE");
        RememberRecorderGui(window);
        if (m_pCallRecorder) {
            m_pCallRecorder->ReadSettings();
        }
        return 1;
    case CCallRecorder::SESSION_RECORDER_QUERY_RECORDING:
        RememberRecorderGui(window);
        return m_pCallRecorder && m_pCallRecorder->IsRecording() ? 1 : 0;
    default:
        return 0;
    }
}

bool COrvinAgentDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Never seen while the user interface is off.
    if (m_hWnd && (!m_pConfigParams || m_pConfigParams->m_nUiEnable == 0) && IsWindowVisible(m_hWnd)) {
        ShowWindow(m_hWnd, SW_HIDE);
    }
    if (message == m_uTrayMessage && m_uTrayMessage) {
        OnTrayNotification(lParam);
        result = 0;
        return true;
    }
    if (message == CTrayIcon::TaskbarCreatedMessage()) {
        m_TrayIcon.Recreate(); // Explorer has started again: its icons are gone
        return false;
    }
    if (message == m_uRecorderMessage && m_uRecorderMessage) {
        result = OnRecorderMessage(wParam, lParam);
        return true;
    }
    switch (message) {
    case WM_TIMER:
        if (wParam == kRetryTimer) {
            if (m_InitializeSoftPhone && m_InitializeSoftPhone() == 1) {
                KillTimer(m_hWnd, kRetryTimer);
                TRACE("KillTimer(%d)", (int)kRetryTimer);
            }
        } else if (wParam == kRecorderTimer) {
            if (m_pCallRecorder && m_pCallRecorder->Poll(m_hRecorderGui, m_uRecorderMessage) != 0) {
                SetTimer(m_hWnd, kRecorderTimer, kRecorderMs, nullptr);
            }
        } else if (wParam == kLogTimer) {
            FlushTrafficLines();
        } else if (wParam == kBlinkTimer) {
            m_bBlinkOn = !m_bBlinkOn;
            SetStatusIcon(m_bBlinkOn ? 3 : 2);
        }
        result = 0;
        return true;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
            ShowAboutBox();
            return true;
        }
        if ((wParam & 0xFFF0) == SC_MINIMIZE || (wParam & 0xFFF0) == SC_RESTORE) {
            m_bMinimised = (wParam & 0xFFF0) == SC_MINIMIZE;
            ShowWindow(m_hWnd, SW_HIDE);
            return true;
        }
        return false;
    case WM_CLOSE:
        ShowWindow(m_hWnd, SW_HIDE);
        return true;
    case WM_COPYDATA: {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (reinterpret_cast<HWND>(wParam) == m_hWnd) {
            TRACE("Self, 0x%x\n", (unsigned)(uintptr_t)wParam);
        } else {
            TRACE("Other, 0x%x\n", (unsigned)(uintptr_t)wParam);
        }
        if (data && data->lpData && data->cbData) {
            // The sender's text need not end with a zero.
            std::string text(static_cast<const char*>(data->lpData),
                             strnlen(static_cast<const char*>(data->lpData), data->cbData));
            TRACE("text: %s\n", text.c_str());
        }
        result = TRUE;
        return true;
    }
    default:
        return false;
    }
}

void COrvinAgentDlg::OnCommand(UINT id, UINT code, HWND control) {
    switch (id) {
    case IDOK: // the Enter key sends, it does not close
    case IDC_SEND:
        OnSend();
        break;
    case IDCANCEL: // the Escape key
    case ID_TRAY_EXIT:
        EndDialog(IDCANCEL);
        break;
    case IDC_CLEAR:
        m_PendingLines.clear();
        KillTimer(m_hWnd, kLogTimer);
        SendMessageA(Item(IDC_EVENT_LOG), LB_RESETCONTENT, 0, 0);
        break;
    case IDC_HOLD_SCROLL:
        m_bHoldScroll = IsDlgButtonChecked(m_hWnd, IDC_HOLD_SCROLL) == BST_CHECKED;
        SetDlgItemTextA(m_hWnd, IDC_HOLD_SCROLL, m_bHoldScroll ? "HoldScroll" : "AutoScroll");
        break;
    case IDC_SAVE:
        OnSave();
        break;
    case IDC_CLOSE:
        ShowWindow(m_hWnd, SW_HIDE);
        break;
    case ID_TRAY_ABOUT:
        ShowAboutBox();
        break;
    case ID_TRAY_CONFIGURE:
        StartOrvinMonitor(false);
        break;
    default:
        break;
    }
}
