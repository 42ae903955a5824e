// The Softphone page: which softphone the telephone serves (settings/model/
// SoftphoneSetting.h). A change takes a restart of the agent, which the sheet does after
// the write.
//
// Threads: the GUI thread.
#pragma once

#include "settings/SettingsPage.h"
#include "settings/model/SoftphoneSetting.h"

class CSoftphonePage : public CSettingsPage {
public:
    explicit CSoftphonePage(CSettingsSheet& sheet);

    bool Prepare(CRegistryChanges& changes, std::string* problem, int* control) override;
    void Committed() override;
    bool NeedsAgentRestart() const override { return m_bRestart; }

protected:
    void OnInit() override;
    void OnShow() override;
    void OnCommand(UINT id, UINT code) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    void Load();
    int CheckedOption() const;

    CSoftphoneSetting m_Setting;
    bool m_bRestart = false; // the prepared writes change the softphone
};
