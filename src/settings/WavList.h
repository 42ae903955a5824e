// CWavList: a list view in report form of WAV files (date, time, length, and the name
// where asked), newest first. The list holds no texts of its own: it asks for the rows it
// draws (LVS_OWNERDATA), so a folder of a thousand messages costs one directory read, and
// each file's header is read only when its row is first drawn.
//
// Threads: the GUI thread.
#pragma once

#include "settings/model/WavFiles.h"

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

class CWavList {
public:
    // Sets up the columns of `list` (made with LVS_OWNERDATA); `texts` translates.
    void Attach(HWND list, bool withName, std::string (*texts)(const std::string&));
    // The files anew; the selected file stays selected when it is still there.
    void Fill(std::vector<WavFileInfo> files);
    // The row texts; true when `header` was the list's request.
    bool OnNotify(NMHDR* header);
    // Null when nothing is selected.
    const WavFileInfo* Selected() const;
    size_t Count() const { return m_Files.size(); }

private:
    HWND m_hList = nullptr;
    bool m_bWithName = false;
    std::vector<WavFileInfo> m_Files;
    std::string m_Text; // the text handed out last
};
