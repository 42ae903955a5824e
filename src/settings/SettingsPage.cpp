#include "settings/SettingsPage.h"

#include "base/translate/Translator.h"
#include "settings/SettingsSheet.h"

#include <commdlg.h>

CSettingsPage::CSettingsPage(CSettingsSheet& sheet, UINT templateId, const char* title)
    : m_Sheet(sheet), m_uTemplateId(templateId), m_Title(Text(title)) {}

PROPSHEETPAGEA CSettingsPage::Describe() {
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_USETITLE;
    page.hInstance = GetModuleHandleA(nullptr);
    page.pszTemplate = MAKEINTRESOURCEA(m_uTemplateId);
    page.pszTitle = m_Title.c_str();
    page.pfnDlgProc = DialogProc;
    page.lParam = reinterpret_cast<LPARAM>(this);
    return page;
}

std::string CSettingsPage::Text(const std::string& english) {
    const CTranslator* translator = CTranslator::GetInstance();
    return translator ? translator->TranslateText(english) : english;
}

void CSettingsPage::TranslateTexts() {
    for (HWND child = GetWindow(m_hWnd, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char text[512] = {};
        if (GetWindowTextA(child, text, sizeof text) > 0) {
            const std::string translated = Text(text);
            if (translated != text) {
                SetWindowTextA(child, translated.c_str());
            }
        }
    }
}

void CSettingsPage::SetChanged() {
    m_bChanged = true;
    PropSheet_Changed(GetParent(m_hWnd), m_hWnd);
}

std::string CSettingsPage::ItemText(int id) const {
    HWND item = GetDlgItem(m_hWnd, id);
    std::string text((size_t)GetWindowTextLengthA(item) + 1, '\0');
    text.resize((size_t)GetWindowTextA(item, &text[0], (int)text.size()));
    return text;
}

void CSettingsPage::SetItemText(int id, const std::string& text) const {
    SetDlgItemTextA(m_hWnd, id, text.c_str());
}

int CSettingsPage::Message(const std::string& english, UINT type) const {
    return m_Sheet.Message(Text(english), type);
}

std::string CSettingsPage::AskPath(PathDialog kind, const std::string& title, const std::string& proposed,
                                   const char* filter) const {
    char path[MAX_PATH] = {};
    lstrcpynA(path, proposed.c_str(), sizeof path);
    const std::string caption = Text(title);
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetParent(m_hWnd);
    dialog.lpstrFilter = filter;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.lpstrTitle = caption.c_str();
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
    if (kind == kOpen) {
        dialog.Flags |= OFN_FILEMUSTEXIST;
        return GetOpenFileNameA(&dialog) ? std::string(path) : std::string();
    }
    dialog.Flags |= kind == kSave ? OFN_OVERWRITEPROMPT : 0;
    return GetSaveFileNameA(&dialog) ? std::string(path) : std::string();
}

INT_PTR CALLBACK CSettingsPage::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CSettingsPage*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(window, DWLP_USER, (LONG_PTR)self);
        self->m_hWnd = window;
        self->TranslateTexts();
        self->OnInit();
        return TRUE;
    }
    auto* self = reinterpret_cast<CSettingsPage*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!self) {
        return FALSE;
    }
    LRESULT result = 0;
    switch (message) {
    case WM_COMMAND:
        self->OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == PSN_SETACTIVE) {
            self->OnShow();
        } else if (header->code == PSN_KILLACTIVE) {
            self->OnHide();
        } else if (header->code == PSN_APPLY) {
            // One Apply for every page at once: the first page asked does it all.
            result = self->m_Sheet.ApplyAll() ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE;
            SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
            return TRUE;
        } else if (self->OnNotify(header, &result)) {
            SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
            return TRUE;
        }
        return FALSE;
    }
    case WM_DESTROY:
        self->OnDestroy();
        return FALSE;
    case WM_NCDESTROY:
        SetWindowLongPtrA(window, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        return FALSE;
    default:
        if (self->OnMessage(message, wParam, lParam, &result)) {
            SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
            return TRUE;
        }
        return FALSE;
    }
}
