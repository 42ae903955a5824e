// The Diagnostics page: the trace (on or off, and its file), offered for change only to
// those who may write the machine-wide trace settings (settings/model/Diagnostics.h says
// why), and "Save a report", one file with the trace and the agent's event log.
//
// Threads: the GUI thread.
#pragma once

#include "settings/SettingsPage.h"
#include "settings/model/Diagnostics.h"

class CDiagnosticsPage : public CSettingsPage {
public:
    explicit CDiagnosticsPage(CSettingsSheet& sheet);

    bool Prepare(CRegistryChanges& changes, std::string* problem, int* control) override;
    void Committed() override;

protected:
    void OnInit() override;
    void OnCommand(UINT id, UINT code) override;

private:
    void Load();
    void SaveReport();

    TraceSettings m_Trace;
    bool m_bCanChange = false;
    bool m_bLoading = false;
};
