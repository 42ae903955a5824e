// CSettingsApp: OrvinSettings.exe's run. One instance per user session: a second start
// brings the first one's window forward (at the page asked for) and ends. With " -hide"
// (the agent's argument) the program starts without its window and stays, on the monitor
// channel, until a start without it shows the window; closing the window then hides it
// again. Otherwise closing the window ends the program.
//
// Command line: [-hide] [--page softphone|answering|messages|greeting|recordings|
// diagnostics] [--root KEY] (the registry root below HKEY_LOCAL_MACHINE; by default the
// one the adapter service reports, as the agent finds it).
//
// Threads: the GUI thread.
#pragma once

#include "settings/AgentLink.h"
#include "settings/SettingsSheet.h"

#include <windows.h>

#include <memory>
#include <string>

class CSettingsApp {
public:
    CSettingsApp() = default;
    ~CSettingsApp();
    CSettingsApp(const CSettingsApp&) = delete;
    CSettingsApp& operator=(const CSettingsApp&) = delete;

    // The program's exit status: 0, or 2 for a wrong command line.
    int Run(const char* commandLine);

private:
    bool ParseCommandLine(const char* commandLine);
    // True when another instance runs (and has been asked to show itself).
    bool HandOverToFirstInstance();
    void MessageLoop();

    bool m_bHide = false;
    int m_nPage = CSettingsSheet::kSoftphone;
    std::string m_Root;
    HANDLE m_hInstanceMutex = nullptr;
    CAgentLink m_Agent;
    std::unique_ptr<CSettingsSheet> m_pSheet;
};
