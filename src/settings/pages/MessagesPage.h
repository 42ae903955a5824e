// The Messages page: every voice message callers left, newest first, with its date, time
// and length; play it on this computer's sound device and stop it, delete it (the waiting
// count lowered as the handset does, and the agent told), or save a copy elsewhere. The
// list follows the folder while the page is open: a call that leaves a message adds it.
//
// Threads: the GUI thread (the folder's watch posts to it).
#pragma once

#include "settings/FolderWatch.h"
#include "settings/SettingsPage.h"
#include "settings/WavList.h"
#include "settings/model/VoiceMessages.h"

class CMessagesPage : public CSettingsPage {
public:
    explicit CMessagesPage(CSettingsSheet& sheet);

protected:
    void OnInit() override;
    void OnCommand(UINT id, UINT code) override;
    bool OnNotify(NMHDR* header, LRESULT* result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    void OnDestroy() override;

private:
    void Refresh();
    void Play();
    void Delete();
    void SaveCopy();

    CVoiceMessages m_Messages;
    CWavList m_List;
    CFolderWatch m_Watch;
};
