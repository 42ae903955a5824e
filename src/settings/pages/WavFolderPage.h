// CWavFolderPage: a page that lists the WAV files of a folder, newest first (CWavList),
// and follows the folder while it is open (CFolderWatch: the list is drawn again when the
// folder's changes pause), with Play and Stop on this computer's sound device and Delete,
// after a question, of the selected file. The Messages and the Recordings pages are two.
//
// Threads: the GUI thread (the folder's watch posts to it).
#pragma once

#include "settings/FolderWatch.h"
#include "settings/SettingsPage.h"
#include "settings/WavList.h"

#include <string>
#include <vector>

class CWavFolderPage : public CSettingsPage {
public:
    CWavFolderPage(CSettingsSheet& sheet, UINT templateId, const char* title, int listId, bool withNames);

protected:
    // The folder, its files, and what deleting one means.
    virtual std::string Folder() const = 0;
    virtual std::vector<WavFileInfo> Files() const = 0;
    virtual std::string DeleteQuestion(const WavFileInfo& file) const = 0;
    virtual bool DeleteFile(const std::string& path, std::string* problem) = 0;

    void OnInit() override;
    void OnCommand(UINT id, UINT code) override;
    bool OnNotify(NMHDR* header, LRESULT* result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void OnDestroy() override;
    // The list anew, and the buttons that need a file.
    virtual void Refresh();
    // Watches Folder() from now on (again, when it has changed).
    void Watch();

    CWavList m_List;

private:
    void Play();
    void Delete();

    int m_nListId;
    bool m_bWithNames;
    CFolderWatch m_Watch;
};
