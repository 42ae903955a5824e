// CDialogBase: a dialog from a resource template, run modally with DialogBoxParam, whose
// messages reach virtual handlers of the derived class. The window handle is known from
// WM_INITDIALOG on (and a few messages before it, through WM_SETFONT).
//
// Threads: the thread that runs DoModal.
#pragma once

#include <windows.h>

class CDialogBase {
public:
    explicit CDialogBase(UINT templateId) : m_uTemplateId(templateId) {}
    virtual ~CDialogBase() = default;
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    INT_PTR DoModal(HWND parent = nullptr);
    // Modeless, for tests and tools that drive the dialog from their own message loop.
    bool Create(HWND parent = nullptr);
    void Destroy();
    void EndDialog(INT_PTR result);
    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // True when handled; `result` is the answer: DWLP_MSGRESULT for most messages, the
    // dialog procedure's own return value for those that answer so (WM_CTLCOLOR*, a
    // brush; WM_COMPAREITEM, WM_VKEYTOITEM, WM_CHARTOITEM, WM_QUERYDRAGICON).
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) { return false; }
    virtual void OnCommand(UINT id, UINT code, HWND control) {}
    virtual void OnDestroy() {}

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_uTemplateId;
};
