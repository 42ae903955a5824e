// The Recordings page: the call recorder's folder (open it; change it, for those who may:
// settings/model/Recordings.h says why not everyone) and the recordings in it, newest
// first (CWavFolderPage: play, stop, delete, and the list follows the folder).
//
// Threads: the GUI thread.
#pragma once

#include "settings/model/Recordings.h"
#include "settings/pages/WavFolderPage.h"

class CRecordingsPage : public CWavFolderPage {
public:
    explicit CRecordingsPage(CSettingsSheet& sheet);

    bool Prepare(CRegistryChanges& changes, std::string* problem, int* control) override;
    void Committed() override;

protected:
    std::string Folder() const override { return m_Recordings.Folder(); }
    std::vector<WavFileInfo> Files() const override { return m_Recordings.List(); }
    std::string DeleteQuestion(const WavFileInfo& file) const override;
    bool DeleteFile(const std::string& path, std::string* problem) override {
        return m_Recordings.Delete(path, problem);
    }
    void OnInit() override;
    void OnCommand(UINT id, UINT code) override;

private:
    void ChooseFolder();

    CRecordings m_Recordings;
};
