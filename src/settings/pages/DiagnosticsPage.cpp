#include "settings/pages/DiagnosticsPage.h"

#include "settings/SettingsSheet.h"
#include "settings/model/AgentWindows.h"
#include "settings/resource.h"

CDiagnosticsPage::CDiagnosticsPage(CSettingsSheet& sheet)
    : CSettingsPage(sheet, IDD_PAGE_DIAGNOSTICS, "Diagnostics") {}

void CDiagnosticsPage::OnInit() {
    m_bCanChange = CDiagnostics::CanChange();
    SetItemText(IDC_TRACE_NOTE,
                Text(m_bCanChange
                         ? "The trace is the same for every user of this computer; OrvinAgent follows a "
                           "change from its next start."
                         : "The trace is the same for every user of this computer: only an administrator "
                           "can change it."));
    Load();
}

void CDiagnosticsPage::Load() {
    m_bLoading = true;
    m_Trace = CDiagnostics::Load();
    Check(IDC_TRACE_ON, m_Trace.on);
    SetItemText(IDC_TRACE_FILE, m_Trace.file);
    Enable(IDC_TRACE_ON, m_bCanChange);
    Enable(IDC_TRACE_FILE, m_bCanChange);
    Enable(IDC_TRACE_BROWSE, m_bCanChange);
    m_bChanged = false;
    m_bLoading = false;
}

void CDiagnosticsPage::SaveReport() {
    const std::string path =
        AskPath(kSave, "Save a report", "OrvinAgent report.txt", "Text (*.txt)\0*.txt\0");
    if (path.empty()) {
        return;
    }
    bool agentFound = false;
    const std::vector<std::string> eventLog = ReadAgentEventLog(&agentFound);
    std::string problem;
    if (!CDiagnostics::WriteReport(path, CDiagnostics::Load(), eventLog, agentFound, &problem)) {
        Message(problem, MB_ICONWARNING | MB_OK);
        return;
    }
    m_Sheet.Message(Text("The report is saved in") + " " + path + ".", MB_ICONINFORMATION | MB_OK);
}

void CDiagnosticsPage::OnCommand(UINT id, UINT code) {
    switch (id) {
    case IDC_SAVE_REPORT:
        SaveReport();
        break;
    case IDC_TRACE_BROWSE: {
        const std::string path =
            AskPath(kName, "The trace file", m_Trace.file, "Trace (*.trace;*.txt)\0*.trace;*.txt\0");
        if (!path.empty()) {
            SetItemText(IDC_TRACE_FILE, path);
        }
        break;
    }
    default:
        if (!m_bLoading &&
            ((id == IDC_TRACE_ON && code == BN_CLICKED) || (id == IDC_TRACE_FILE && code == EN_CHANGE))) {
            SetChanged();
        }
        break;
    }
}

bool CDiagnosticsPage::Prepare(CRegistryChanges& changes, std::string* problem, int* control) {
    if (!m_bCanChange) {
        return true;
    }
    TraceSettings wanted;
    wanted.on = IsChecked(IDC_TRACE_ON);
    wanted.file = ItemText(IDC_TRACE_FILE);
    *control = IDC_TRACE_FILE;
    return CDiagnostics::Prepare(m_Trace, wanted, changes, problem);
}

void CDiagnosticsPage::Committed() {
    Load();
}
