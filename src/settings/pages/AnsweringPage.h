// The Answering machine page: remote access (the PIN, the admin keys from the line and
// from the softphone) and the answering machine (longest message and greeting, a greeting
// kept only when ended with '#', the voice menus' language). settings/model/
// AnsweringSettings.h checks and writes them.
//
// The PIN is never shown: the page says whether one is set and takes a new one twice.
//
// Threads: the GUI thread.
#pragma once

#include "settings/SettingsPage.h"
#include "settings/model/AnsweringSettings.h"

#include <string>
#include <vector>

class CAnsweringPage : public CSettingsPage {
public:
    explicit CAnsweringPage(CSettingsSheet& sheet);

    bool Prepare(CRegistryChanges& changes, std::string* problem, int* control) override;
    void Committed() override;

protected:
    void OnInit() override;
    void OnCommand(UINT id, UINT code) override;

private:
    void Load();

    AnsweringValues m_Values;
    std::vector<std::string> m_Languages;
    bool m_bLoading = false;
};
