#include "agent/Hyperlink.h"

#include "base/config/Registry.h"

#include <shellapi.h>

#include <cstdio>

namespace {

const char kPropertyName[] = "OrvinHyperlink";

} // namespace

CHyperlink::~CHyperlink() {
    Detach();
}

HCURSOR CHyperlink::HandCursor() {
    static HCURSOR cursor = [] {
        HCURSOR hand = nullptr;
        char path[MAX_PATH] = {};
        if (GetWindowsDirectoryA(path, MAX_PATH)) {
            std::string helper = std::string(path) + "\\winhlp32.exe";
            if (HMODULE module = LoadLibraryExA(helper.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
                if (HCURSOR found = LoadCursorA(module, MAKEINTRESOURCEA(106))) {
                    hand = CopyCursor(found); // ours once the module goes
                }
                FreeLibrary(module);
            }
        }
        return hand ? hand : LoadCursorA(nullptr, IDC_HAND);
    }();
    return cursor;
}

bool CHyperlink::Attach(HWND control) {
    Detach();
    if (!control) {
        return false;
    }
    m_hControl = control;
    SetWindowLongPtrA(control, GWL_STYLE, GetWindowLongPtrA(control, GWL_STYLE) | SS_NOTIFY);
    SetPropA(control, kPropertyName, this);
    m_pOldProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CHyperlink::ControlProc)));
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    LOGFONTA description = {};
    if (font && GetObjectA(font, sizeof description, &description)) {
        description.lfUnderline = TRUE;
        m_hFont = CreateFontIndirectA(&description);
        if (m_hFont) {
            SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);
        }
    }
    if (!m_URL.empty()) {
        SetWindowTextA(control, m_URL.c_str());
    }
    return true;
}

void CHyperlink::Detach() {
    if (m_hControl) {
        if (IsWindow(m_hControl)) {
            SetWindowLongPtrA(m_hControl, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pOldProc));
            RemovePropA(m_hControl, kPropertyName);
        }
        m_hControl = nullptr;
        m_pOldProc = nullptr;
    }
    if (m_hFont) {
        DeleteObject(m_hFont);
        m_hFont = nullptr;
    }
}

void CHyperlink::SetURL(const std::string& url) {
    m_URL = url;
    if (m_hControl) {
        SetWindowTextA(m_hControl, url.c_str());
    }
}

LRESULT CALLBACK CHyperlink::ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<CHyperlink*>(GetPropA(window, kPropertyName));
    if (!self || !self->m_pOldProc) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    switch (message) {
    case WM_SETCURSOR:
        SetCursor(HandCursor());
        return TRUE;
    case WM_NCHITTEST:
        return HTCLIENT; // statics are transparent to the mouse otherwise
    default:
        return CallWindowProcA(self->m_pOldProc, window, message, wParam, lParam);
    }
}

HBRUSH CHyperlink::OnCtlColor(HDC dc) {
    SetTextColor(dc, m_bVisited ? kVisitedColour : kLinkColour);
    SetBkMode(dc, TRANSPARENT);
    return GetSysColorBrush(COLOR_BTNFACE);
}

std::string CHyperlink::ErrorText(int result) {
    switch (result) {
    case 0:
        return "The operating system is out\nof memory or resources.";
    case ERROR_FILE_NOT_FOUND:
        return "The specified file was not found.";
    case ERROR_PATH_NOT_FOUND:
        return "The specified path was not found.";
    case ERROR_ACCESS_DENIED: // 5
        return "The operating system denied\naccess to the specified file.";
    case 8: // SE_ERR_OOM
        return "There was not enough memory to complete the operation.";
    case ERROR_BAD_FORMAT: // 11
        return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26: // SE_ERR_SHARE
        return "A sharing violation occurred. ";
    case 27: // SE_ERR_ASSOCINCOMPLETE
        return "The filename association is\nincomplete or invalid.";
    case 28: // SE_ERR_DDETIMEOUT
        return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29: // SE_ERR_DDEFAIL
        return "The DDE transaction failed.";
    case 30: // SE_ERR_DDEBUSY
        return "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.";
    case 31: // SE_ERR_NOASSOC
        return "There is no application associated\nwith the given filename extension.";
    case 32: // SE_ERR_DLLNOTFOUND
        return "The specified dynamic-link library was not found.";
    default: {
        char text[64];
        snprintf(text, sizeof text, "Unknown Error (%d) occurred.", result);
        return text;
    }
    }
}

std::string CHyperlink::CommandWithUrl(const std::string& command, const std::string& url) {
    std::string line = command;
    size_t at = line.find("\"%1\"");
    if (at == std::string::npos) {
        at = line.find("%1");
    }
    if (at != std::string::npos) {
        line.erase(at);
    }
    return line + " " + url;
}

int CHyperlink::ShellOpen(const std::string& url) {
    return (int)(INT_PTR)ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOW);
}

std::string CHyperlink::HtmlOpenCommand() {
    orvin::RegKey key;
    std::string htmlClass;
    if (key.Open(HKEY_CLASSES_ROOT, ".htm") != ERROR_SUCCESS ||
        key.QueryString(nullptr, &htmlClass, MAX_PATH) != ERROR_SUCCESS || htmlClass.empty()) {
        return "";
    }
    std::string command;
    if (key.Open(HKEY_CLASSES_ROOT, (htmlClass + "\\shell\\open\\command").c_str()) != ERROR_SUCCESS ||
        key.QueryString(nullptr, &command, 2 * MAX_PATH) != ERROR_SUCCESS) {
        return "";
    }
    return command;
}

int CHyperlink::RunCommand(const std::string& commandLine) {
    return (int)WinExec(commandLine.c_str(), SW_SHOW);
}

void CHyperlink::ReportError(const std::string& text) {
    MessageBeep(MB_ICONEXCLAMATION);
    const std::string message = "Can't open link:\n\n" + text;
    MessageBoxA(m_hControl ? GetParent(m_hControl) : nullptr, message.c_str(), nullptr,
                MB_OK | MB_ICONEXCLAMATION);
}

int CHyperlink::GotoURL() {
    int result = ShellOpen(m_URL);
    if (result <= 32) {
        const std::string command = HtmlOpenCommand();
        if (!command.empty()) {
            result = RunCommand(CommandWithUrl(command, m_URL));
        }
    }
    if (result <= 32) {
        ReportError(ErrorText(result));
        return result;
    }
    m_bVisited = true;
    if (m_hControl) {
        InvalidateRect(m_hControl, nullptr, TRUE);
    }
    return result;
}
