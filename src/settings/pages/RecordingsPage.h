// The Recordings page: the call recorder's folder (open it; change it, for those who may:
// settings/model/Recordings.h says why not everyone) and the recordings in it, newest
// first, to play, stop and delete. The list follows the folder while the page is open.
//
// Threads: the GUI thread (the folder's watch posts to it).
#pragma once

#include "settings/FolderWatch.h"
#include "settings/SettingsPage.h"
#include "settings/WavList.h"
#include "settings/model/Recordings.h"

class CRecordingsPage : public CSettingsPage {
public:
    explicit CRecordingsPage(CSettingsSheet& sheet);

    bool Prepare(CRegistryChanges& changes, std::string* problem, int* control) override;
    void Committed() override;

protected:
    void OnInit() override;
    void OnCommand(UINT id, UINT code) override;
    bool OnNotify(NMHDR* header, LRESULT* result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void OnDestroy() override;

private:
    void Refresh();
    void ChooseFolder();
    void Delete();

    CRecordings m_Recordings;
    CWavList m_List;
    CFolderWatch m_Watch;
};
