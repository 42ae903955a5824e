#include "settings/pages/RecordingsPage.h"

#include "settings/SettingsSheet.h"
#include "settings/resource.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>

CRecordingsPage::CRecordingsPage(CSettingsSheet& sheet)
    : CWavFolderPage(sheet, IDD_PAGE_RECORDINGS, "Recordings", IDC_RECORDINGS_LIST, true),
      m_Recordings(sheet.Location()) {}

void CRecordingsPage::OnInit() {
    SetItemText(IDC_RECORDINGS_FOLDER, m_Recordings.Folder());
    const bool canChange = m_Recordings.CanChangeFolder();
    Enable(IDC_RECORDINGS_CHANGE, canChange);
    SetItemText(IDC_RECORDINGS_NOTE,
                Text(canChange
                         ? "The folder is the same for every user of this computer; OrvinAgent records "
                           "into a new one from its next start."
                         : "The folder is the same for every user of this computer: only an administrator "
                           "can change it."));
    CWavFolderPage::OnInit();
}

std::string CRecordingsPage::DeleteQuestion(const WavFileInfo& file) const {
    char question[512];
    snprintf(question, sizeof question, Text("Delete the recording %s?").c_str(), file.name.c_str());
    return question;
}

void CRecordingsPage::ChooseFolder() {
    const std::string title = Text("The folder for the recordings of calls");
    BROWSEINFOA browse = {};
    browse.hwndOwner = GetParent(m_hWnd);
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&browse);
    if (!chosen) {
        return;
    }
    char folder[MAX_PATH] = {};
    if (SHGetPathFromIDListA(chosen, folder)) {
        SetItemText(IDC_RECORDINGS_FOLDER, folder);
        SetChanged();
    }
    CoTaskMemFree(chosen);
}

bool CRecordingsPage::Prepare(CRegistryChanges& changes, std::string* problem, int* control) {
    *control = IDC_RECORDINGS_CHANGE;
    return m_Recordings.PrepareFolder(ItemText(IDC_RECORDINGS_FOLDER), changes, problem);
}

void CRecordingsPage::Committed() {
    CWavFolderPage::Committed();
    m_Recordings = CRecordings(m_Sheet.Location());
    SetItemText(IDC_RECORDINGS_FOLDER, m_Recordings.Folder());
    Refresh();
    Watch();
}

void CRecordingsPage::OnCommand(UINT id, UINT code) {
    switch (id) {
    case IDC_RECORDINGS_CHANGE:
        ChooseFolder();
        break;
    case IDC_RECORDINGS_OPEN:
        ShellExecuteA(m_hWnd, "open", m_Recordings.Folder().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        break;
    default:
        CWavFolderPage::OnCommand(id, code);
        break;
    }
}
