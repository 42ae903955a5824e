#include "settings/pages/SoftphonePage.h"

#include "settings/AgentLink.h"
#include "settings/SettingsSheet.h"
#include "settings/resource.h"

CSoftphonePage::CSoftphonePage(CSettingsSheet& sheet)
    : CSettingsPage(sheet, IDD_PAGE_SOFTPHONE, "Softphone") {}

void CSoftphonePage::OnInit() {
    const auto& options = SoftphoneOptions();
    for (size_t i = 0; i < options.size(); ++i) {
        SetItemText(IDC_SOFTPHONE_FIRST + (int)i, Text(options[i].name));
    }
    Load();
}

void CSoftphonePage::Load() {
    m_Setting.Load(m_Sheet.Location().root);
    const int selected = m_Setting.SelectedOption();
    for (size_t i = 0; i < SoftphoneOptions().size(); ++i) {
        Check(IDC_SOFTPHONE_FIRST + (int)i, (int)i == selected);
    }
    m_bChanged = false;
}

void CSoftphonePage::OnShow() {
    SetItemText(IDC_SOFTPHONE_AGENT,
                Text(m_Sheet.Agent().IsAgentRunning()
                         ? "OrvinAgent is running: it restarts to use another softphone when you apply it."
                         : "OrvinAgent is not running: it uses the softphone chosen here when it starts."));
}

int CSoftphonePage::CheckedOption() const {
    for (size_t i = 0; i < SoftphoneOptions().size(); ++i) {
        if (IsChecked(IDC_SOFTPHONE_FIRST + (int)i)) {
            return (int)i;
        }
    }
    return -1;
}

void CSoftphonePage::OnCommand(UINT id, UINT code) {
    if (id >= IDC_SOFTPHONE_FIRST && id < IDC_SOFTPHONE_FIRST + SoftphoneOptions().size() &&
        code == BN_CLICKED) {
        SetChanged();
    }
}

bool CSoftphonePage::Prepare(CRegistryChanges& changes, std::string* problem, int* control) {
    m_bRestart = m_Setting.Prepare(CheckedOption(), changes);
    return true;
}

void CSoftphonePage::Committed() {
    m_bRestart = false;
    Load();
}

bool CSoftphonePage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == CSettingsSheet::kRefreshMessage) {
        OnShow();
        return true;
    }
    return false;
}
