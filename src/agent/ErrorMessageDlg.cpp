#include "agent/ErrorMessageDlg.h"

#include "agent/resource.h"
#include "base/trace/Trace.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/OrvinApiClient.h"

CErrorMessageDlg* g_pErrorMessageDlg = nullptr;

namespace {
// The box whose thread's modal loops the filter serves (one box per process).
CErrorMessageDlg* g_pFilteredBox = nullptr;
} // namespace

void ShowErrorMessage(const char* caption, const char* message, COrvinApiClient* owner) {
    TRACE("ShowErrorMessage()");
    if (g_pErrorMessageDlg) {
        g_pErrorMessageDlg->ShowError(caption, message, owner);
    }
}

CErrorMessageDlg::CErrorMessageDlg() : CDialogBase(IDD_ERROR_MESSAGE) {}

CErrorMessageDlg::~CErrorMessageDlg() {
    // Normally gone with the window already; never left behind pointing at this box.
    OnDestroy();
}

BOOL CErrorMessageDlg::OnInitDialog() {
    TRACE("CErrorMessageDlg::OnInitDialog");
    m_bShown = true;
    ShowWindow(m_hWnd, SW_HIDE);
    if (!g_pFilteredBox) {
        m_hMessageFilter = SetWindowsHookExA(WH_MSGFILTER, MessageFilter, nullptr, GetCurrentThreadId());
        if (m_hMessageFilter) {
            g_pFilteredBox = this;
        }
    }
    return TRUE;
}

void CErrorMessageDlg::OnDestroy() {
    if (m_hMessageFilter) {
        UnhookWindowsHookEx(m_hMessageFilter);
        m_hMessageFilter = nullptr;
        g_pFilteredBox = nullptr;
    }
}

// Every message a dialog box's or message box's modal loop of this thread takes passes
// here first; those for the shown box get the box's own dialog keys.
LRESULT CALLBACK CErrorMessageDlg::MessageFilter(int code, WPARAM wParam, LPARAM lParam) {
    CErrorMessageDlg* box = g_pFilteredBox;
    auto* message = reinterpret_cast<MSG*>(lParam);
    if ((code == MSGF_DIALOGBOX || code == MSGF_MESSAGEBOX) && box && box->m_hWnd && !box->m_bFiltering &&
        message && IsWindowVisible(box->m_hWnd) &&
        (message->hwnd == box->m_hWnd || IsChild(box->m_hWnd, message->hwnd))) {
        box->m_bFiltering = true;
        const BOOL handled = IsDialogMessageA(box->m_hWnd, message);
        box->m_bFiltering = false;
        if (handled) {
            return TRUE;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CErrorMessageDlg::ApplyTexts() {
    SetDlgItemTextA(m_hWnd, IDC_ERROR_TEXT, m_Message.c_str());
    SetWindowTextA(m_hWnd, m_Caption.c_str());
}

// Above every window, then back among the others at its place: it comes to the front
// without staying on top.
void CErrorMessageDlg::BringForward() {
    SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SetWindowPos(m_hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SetFocus(m_hWnd);
}

void CErrorMessageDlg::ShowError(const char* caption, const char* message, COrvinApiClient* owner) {
    m_Caption = caption ? caption : "";
    m_Message = message ? message : "";
    m_pOwner = owner;
    if (!m_hWnd) {
        return;
    }
    if (!m_bShown) {
        ShowWindow(m_hWnd, SW_SHOW);
        m_bShown = true;
    }
    ApplyTexts();
    BringForward();
}

void CErrorMessageDlg::ForgetOwner(COrvinApiClient* owner) {
    if (m_pOwner == owner) {
        m_pOwner = nullptr;
    }
}

bool CErrorMessageDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (message != WM_ACTIVATE || LOWORD(wParam) == WA_INACTIVE) {
        return false;
    }
    SendDlgItemMessageA(m_hWnd, IDC_ERROR_ICON, STM_SETICON,
                        reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_HAND)), 0);
    if (m_Caption.empty() || m_Message.empty() || m_bActivating) {
        return false;
    }
    // Bringing the box forward may activate it again.
    m_bActivating = true;
    ApplyTexts();
    BringForward();
    m_bActivating = false;
    result = 0;
    return true;
}

void CErrorMessageDlg::OnCommand(UINT id, UINT code, HWND control) {
    if (id != IDOK && id != IDCANCEL) {
        return;
    }
    if (m_pOwner) {
        m_pOwner->SendToService(MSG_TYPE_HW_EVENT, NOTIFY_JACK_SWAP, 0);
    }
    m_bShown = false;
    ShowWindow(m_hWnd, SW_HIDE); // kept for the next error
}
