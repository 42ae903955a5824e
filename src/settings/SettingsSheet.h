// CSettingsSheet: the settings program's window, a modeless property sheet of the common
// controls with one page per subject (Softphone, Answering machine, Messages, Greeting,
// Recordings, Diagnostics).
//
// Apply (or OK) applies every page at once: each page that has been shown checks its
// input and names its writes; only when all are good are they written, together
// (CRegistryChanges: nothing half-written, a refusal told in words). Then the agent is
// told ("MonitorNotifyRegistryChanges"), and when the softphone changed it is restarted,
// which the user is told.
//
// Threads: the GUI thread.
#pragma once

#include "settings/model/SettingsLocation.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CAgentLink;
class CSettingsPage;

class CSettingsSheet {
public:
    enum Page { kSoftphone, kAnswering, kMessages, kGreeting, kRecordings, kDiagnostics, kPageCount };
    static constexpr const char* kCaption = "OrvinAgent Settings";
    // Sent to a page when something it shows may have changed outside it.
    static constexpr UINT kRefreshMessage = WM_APP + 1;

    CSettingsSheet(const SettingsLocation& location, CAgentLink& agent);
    ~CSettingsSheet();
    CSettingsSheet(const CSettingsSheet&) = delete;
    CSettingsSheet& operator=(const CSettingsSheet&) = delete;

    // Opens the window at `page`, or brings it forward there when it is open.
    bool Show(int page);
    HWND Window() const { return m_hWnd; }
    // For the message loop: a message of the sheet's, handled. Notices the sheet's end.
    bool PreTranslate(MSG* msg);
    bool IsOpen() const { return m_hWnd != nullptr; }

    bool ApplyAll();
    int Message(const std::string& text, UINT type) const;
    const SettingsLocation& Location() const { return m_Location; }
    CAgentLink& Agent() { return m_Agent; }
    // What plays now (one sound at a time, whichever page started it).
    bool Play(const std::string& path);
    void StopSound();

private:
    void Close();
    void RestartAgent();
    std::string Text(const std::string& english) const;

    SettingsLocation m_Location;
    CAgentLink& m_Agent;
    std::vector<std::unique_ptr<CSettingsPage>> m_Pages;
    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;
};
