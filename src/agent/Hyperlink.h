// CHyperlink: a static control of a dialog shown as a web link: its text is the URL,
// underlined, blue until visited and purple after; the pointer over it is a hand (one
// cursor for every link, taken once from cursor resource 106 of winhlp32.exe in the
// Windows folder, or the system's hand). A click opens the URL with the shell; when the
// shell can not, the open command of the ".htm" class is started with the URL; when that
// fails too, the user hears a beep and reads why in a box ("Can't open link:" and the
// error's text).
//
// The owning dialog forwards WM_CTLCOLORSTATIC for the control to OnCtlColor and the
// control's click (STN_CLICKED; the template gives it SS_NOTIFY) to GotoURL.
//
// Threads: the dialog's thread.
#pragma once

#include <windows.h>

#include <string>

class CHyperlink {
public:
    static constexpr COLORREF kLinkColour = RGB(0, 0, 238);
    static constexpr COLORREF kVisitedColour = RGB(85, 26, 139);

    CHyperlink() = default;
    virtual ~CHyperlink();
    CHyperlink(const CHyperlink&) = delete;
    CHyperlink& operator=(const CHyperlink&) = delete;

    // Takes over the static control: underlined font, hand cursor, SS_NOTIFY.
    bool Attach(HWND control);
    void Detach();
    void SetURL(const std::string& url);
    const std::string& URL() const { return m_URL; }
    bool IsVisited() const { return m_bVisited; }
    HWND Control() const { return m_hControl; }

    // The link's colours; the brush of the dialog's face.
    HBRUSH OnCtlColor(HDC dc);
    // Opens the URL; returns the shell's (or the started command's) result, above 32 on
    // success. On success the link is marked visited and redrawn.
    int GotoURL();

    // "Can't open link:\n\n" follows this in the box.
    static std::string ErrorText(int result);
    // The ".htm" class's open command cut at its placeholder %1 (at the opening quote of
    // a quoted "%1"; the whole command without one), then a blank and the URL.
    static std::string CommandWithUrl(const std::string& command, const std::string& url);

protected:
    // The system's side, replaceable by tests.
    virtual int ShellOpen(const std::string& url);
    virtual std::string HtmlOpenCommand();
    virtual int RunCommand(const std::string& commandLine);
    virtual void ReportError(const std::string& text);

private:
    static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static HCURSOR HandCursor();

    HWND m_hControl = nullptr;
    WNDPROC m_pOldProc = nullptr;
    HFONT m_hFont = nullptr;
    std::string m_URL;
    bool m_bVisited = false;
};
