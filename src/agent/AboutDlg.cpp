#include "agent/AboutDlg.h"

#include "agent/resource.h"
#include "base/config/Registry.h"
#include "base/trace/Trace.h"
#include "softphone/AgentLinks.h"

#include <shellapi.h>

namespace {

constexpr size_t kValueSize = 64; // each product value, terminator included

std::string Joined(const char* first, const std::string& second) {
    return std::string(first) + " " + second;
}

} // namespace

CAboutDlg::CAboutDlg(const std::string& registryRoot, const int32_t* shownFlags)
    : CDialogBase(IDD_ABOUTBOX), m_RegistryRoot(registryRoot), m_pShownFlags(shownFlags) {}

CAboutDlg::~CAboutDlg() {
    if (m_hCustomIcon) {
        DestroyIcon(m_hCustomIcon);
    }
}

void CAboutDlg::ReadRegistry() {
    orvin::RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, m_RegistryRoot.c_str()) != ERROR_SUCCESS) {
        return;
    }
    key.QueryString("ProductName", &m_ProductName, kValueSize);
    key.QueryString("ProviderName", &m_ProviderName, kValueSize);
    key.QueryString("ProviderURL", &m_ProviderURL, kValueSize);
    key.QueryString("ApplicationName", &m_ApplicationName, kValueSize);
    key.QueryString("AppProviderName", &m_AppProviderName, kValueSize);
    key.QueryString("SWVersion", &m_SWVersion, kValueSize);
}

void CAboutDlg::LoadCustomIcon() {
    char windows[MAX_PATH] = {};
    if (!GetWindowsDirectoryA(windows, sizeof windows)) {
        return;
    }
    const std::string path = std::string(windows) + "\\CustAboutIco.ico";
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    m_hCustomIcon = static_cast<HICON>(
        LoadImageA(nullptr, path.c_str(), IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
    if (!m_hCustomIcon) {
        HICON extracted = ExtractIconA(GetModuleHandleA(nullptr), path.c_str(), 0);
        m_hCustomIcon = reinterpret_cast<UINT_PTR>(extracted) > 1 ? extracted : nullptr;
    }
    if (m_hCustomIcon) {
        SendDlgItemMessageA(m_hWnd, IDC_ABOUT_ICON, STM_SETICON, reinterpret_cast<WPARAM>(m_hCustomIcon), 0);
    }
}

BOOL CAboutDlg::OnInitDialog() {
    ReadRegistry();
    SetDlgItemTextA(m_hWnd, IDC_ABOUT_PRODUCT,
                    m_ProductName.empty() ? "Orvin - Zuzerude DoDE Dozavor" : m_ProductName.c_str());
    const char* copyright = TranslatedText(48, "Copyright");
    SetDlgItemTextA(m_hWnd, IDC_ABOUT_NOTICE,
                    m_ProviderName.empty() ? copyright : Joined(copyright, m_ProviderName).c_str());
    SetDlgItemTextA(m_hWnd, IDC_ABOUT_VERSION, Joined(TranslatedText(49, "Version"), m_SWVersion).c_str());
    SetWindowTextA(m_hWnd, Joined(TranslatedText(50, "About"), m_ApplicationName).c_str());

    BOOL defaultFocus = TRUE;
    if (!m_AppProviderName.empty() && !m_ProviderURL.empty()) {
        m_Link.Attach(Item(IDC_ABOUT_LINK));
        m_Link.SetURL(m_ProviderURL);
        TRACE("URL: %s", m_ProviderURL.c_str());
        SetFocus(Item(IDC_ABOUT_LINK));
        defaultFocus = FALSE;
        SetDlgItemTextA(m_hWnd, IDC_ABOUT_PROVIDER, (m_AppProviderName + " ").c_str());
    } else {
        SetDlgItemTextA(m_hWnd, IDC_ABOUT_PROVIDER, "");
        SetDlgItemTextA(m_hWnd, IDC_ABOUT_LINK, "");
        EnableWindow(Item(IDC_ABOUT_LINK), FALSE);
    }
    LoadCustomIcon();
    if (m_pShownFlags) {
        m_uTimer = SetTimer(m_hWnd, kWatchTimer, kWatchMs, nullptr);
    }
    return defaultFocus;
}

bool CAboutDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_TIMER:
        if (wParam == kWatchTimer && m_pShownFlags && !(*m_pShownFlags & kAdapterAttached)) {
            EndDialog(IDCANCEL);
        }
        result = 0;
        return true;
    case WM_CTLCOLORSTATIC:
        if (m_Link.Control() && reinterpret_cast<HWND>(lParam) == m_Link.Control()) {
            result = reinterpret_cast<LRESULT>(m_Link.OnCtlColor(reinterpret_cast<HDC>(wParam)));
            return true;
        }
        return false;
    default:
        return false;
    }
}

void CAboutDlg::OnCommand(UINT id, UINT code, HWND control) {
    switch (id) {
    case IDOK:
    case IDCANCEL:
        EndDialog(id);
        break;
    case IDC_ABOUT_LINK:
        if (code == STN_CLICKED && m_Link.Control()) {
            m_Link.GotoURL();
        }
        break;
    default:
        break;
    }
}

void CAboutDlg::OnDestroy() {
    if (m_uTimer) {
        KillTimer(m_hWnd, kWatchTimer);
        m_uTimer = 0;
    }
    m_Link.Detach();
}
