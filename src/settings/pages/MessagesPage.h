// The Messages page: every voice message callers left, newest first, with its date, time
// and length (CWavFolderPage: play, stop, delete, and the list follows the folder, so a
// call that leaves a message adds it); a deletion lowers the waiting count as the handset
// does and the agent is told; a copy can be saved elsewhere.
//
// Threads: the GUI thread.
#pragma once

#include "settings/model/VoiceMessages.h"
#include "settings/pages/WavFolderPage.h"

class CMessagesPage : public CWavFolderPage {
public:
    explicit CMessagesPage(CSettingsSheet& sheet);

protected:
    std::string Folder() const override { return m_Messages.Folder(); }
    std::vector<WavFileInfo> Files() const override { return m_Messages.List(); }
    std::string DeleteQuestion(const WavFileInfo& file) const override;
    bool DeleteFile(const std::string& path, std::string* problem) override;
    void OnCommand(UINT id, UINT code) override;
    void Refresh() override;

private:
    void SaveCopy();

    CVoiceMessages m_Messages;
};
