// CSettingsPage: one page of the settings sheet, a dialog template of the resources whose
// messages reach virtual handlers of the page's class.
//
// Apply: the sheet asks every page that has been shown for its changes (Prepare), all of
// them checked before any is written; a page refuses bad input with the problem in words
// and the control to correct. After the writes it tells each page (Committed), which shows
// what the registry now holds.
//
// The page's fixed texts go through the product's translation when it opens; every text
// the code shows goes through Text().
//
// Threads: the GUI thread.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <string>

class CRegistryChanges;
class CSettingsSheet;

class CSettingsPage {
public:
    CSettingsPage(CSettingsSheet& sheet, UINT templateId, const char* title);
    virtual ~CSettingsPage() = default;
    CSettingsPage(const CSettingsPage&) = delete;
    CSettingsPage& operator=(const CSettingsPage&) = delete;

    PROPSHEETPAGEA Describe();
    HWND Window() const { return m_hWnd; }
    bool HasChanges() const { return m_hWnd && m_bChanged; }

    // Checks the page's input and adds its writes. False: `problem` in words, `control`
    // the one to correct (0: none).
    virtual bool Prepare(CRegistryChanges& changes, std::string* problem, int* control) { return true; }
    // The writes of an Apply are done: show the registry's values again.
    virtual void Committed() { m_bChanged = false; }
    // The restart of the agent this page's change needs (the softphone).
    virtual bool NeedsAgentRestart() const { return false; }

protected:
    virtual void OnInit() {}
    virtual void OnShow() {}
    virtual void OnHide() {}
    virtual void OnCommand(UINT id, UINT code) {}
    virtual bool OnNotify(NMHDR* header, LRESULT* result) { return false; }
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) { return false; }
    virtual void OnDestroy() {}

    // The user changed something: Apply becomes possible.
    void SetChanged();
    std::string ItemText(int id) const;
    void SetItemText(int id, const std::string& text) const;
    bool IsChecked(int id) const { return IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED; }
    void Check(int id, bool checked) const {
        CheckDlgButton(m_hWnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    void Enable(int id, bool enabled) const { EnableWindow(GetDlgItem(m_hWnd, id), enabled); }
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

public:
    // The translated English text.
    static std::string Text(const std::string& english);

protected:
    // A box over the sheet with the translated text; the button pressed.
    int Message(const std::string& english, UINT type) const;
    // A file dialog over the sheet: a file to save into (asking before one is replaced), a
    // file to name (not asking), or one to open. Empty when cancelled.
    enum PathDialog { kSave, kName, kOpen };
    std::string AskPath(PathDialog kind, const std::string& title, const std::string& proposed,
                        const char* filter) const;

    CSettingsSheet& m_Sheet;
    HWND m_hWnd = nullptr;
    bool m_bChanged = false;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void TranslateTexts();

    UINT m_uTemplateId;
    std::string m_Title;
};
