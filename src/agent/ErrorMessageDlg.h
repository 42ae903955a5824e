// CErrorMessageDlg: the agent's error box, a modeless dialog made once at start-up
// (hidden) and reused for every error of the run: the API client raises it when the
// adapter reports that the line and phone cables are swapped. Each error replaces the
// box's caption and text and brings it to the front; OK or Cancel hides it again and, when
// an API client owns the error, tells the service that the user has seen it (a hardware
// event, code 6, Info 0).
//
// One instance per process: ShowErrorMessage reaches it through the process-wide
// pointer, which the application sets after creating the box and clears before
// destroying it; the softphone side reaches ShowErrorMessage through SetErrorBox.
//
// The box is modeless, and the loop that runs while it shows is another dialog's modal
// loop (the main dialog's, or a message box's), which gives IsDialogMessage only its own
// dialog. So the box hooks that loop (a message filter on its thread, WH_MSGFILTER) and
// runs IsDialogMessage for the messages meant for it: Enter presses the default or the
// focused button, Escape is Cancel, Tab moves between the buttons.
//
// Threads: the GUI thread (the client's handlers run there); the hook is that thread's.
#pragma once

#include "agent/DialogBase.h"

#include <string>

class COrvinApiClient;

class CErrorMessageDlg : public CDialogBase {
public:
    CErrorMessageDlg();
    ~CErrorMessageDlg() override;

    // Caption, text and owner of the next showing; shows the box and brings it forward.
    void ShowError(const char* caption, const char* message, COrvinApiClient* owner);
    // The owning client goes away (the run ends): the box reports to nobody any more.
    void ForgetOwner(COrvinApiClient* owner);

    bool IsMarkedShown() const { return m_bShown; }
    const std::string& Message() const { return m_Message; }
    const std::string& Caption() const { return m_Caption; }

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnCommand(UINT id, UINT code, HWND control) override;
    void OnDestroy() override;

private:
    void ApplyTexts();
    void BringForward();
    static LRESULT CALLBACK MessageFilter(int code, WPARAM wParam, LPARAM lParam);

    HHOOK m_hMessageFilter = nullptr;
    bool m_bFiltering = false; // IsDialogMessage runs the filter again: not twice

    std::string m_Message;
    std::string m_Caption;
    COrvinApiClient* m_pOwner = nullptr;
    bool m_bShown = false;
    bool m_bActivating = false;
};

// The process's error box (null when there is none).
extern CErrorMessageDlg* g_pErrorMessageDlg;

// The error box's entry for the softphone side (SetErrorBox): traces "ShowErrorMessage()"
// and shows the box when it exists.
void ShowErrorMessage(const char* caption, const char* message, COrvinApiClient* owner);
