#include "settings/pages/RecordingsPage.h"

#include "settings/SettingsSheet.h"
#include "settings/resource.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>

namespace {

constexpr UINT kFolderChanged = WM_APP + 2;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshPauseMs = 500;

} // namespace

CRecordingsPage::CRecordingsPage(CSettingsSheet& sheet)
    : CSettingsPage(sheet, IDD_PAGE_RECORDINGS, "Recordings"), m_Recordings(sheet.Location()) {}

void CRecordingsPage::OnInit() {
    m_List.Attach(Item(IDC_RECORDINGS_LIST), true, Text);
    SetItemText(IDC_RECORDINGS_FOLDER, m_Recordings.Folder());
    const bool canChange = m_Recordings.CanChangeFolder();
    Enable(IDC_RECORDINGS_CHANGE, canChange);
    SetItemText(IDC_RECORDINGS_NOTE,
                Text(canChange
                         ? "The folder is the same for every user of this computer; OrvinAgent records "
                           "into a new one from its next start."
                         : "The folder is the same for every user of this computer: only an administrator "
                           "can change it."));
    Refresh();
    m_Watch.Start(m_Recordings.Folder(), m_hWnd, kFolderChanged);
}

void CRecordingsPage::OnDestroy() {
    m_Watch.Stop();
}

void CRecordingsPage::Refresh() {
    m_List.Fill(m_Recordings.List());
    const bool any = m_List.Count() > 0;
    Enable(IDC_PLAY, any);
    Enable(IDC_DELETE, any);
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
    CSettingsPage::Committed();
    m_Recordings = CRecordings(m_Sheet.Location());
    SetItemText(IDC_RECORDINGS_FOLDER, m_Recordings.Folder());
    Refresh();
    m_Watch.Start(m_Recordings.Folder(), m_hWnd, kFolderChanged);
}

void CRecordingsPage::Delete() {
    const WavFileInfo* recording = m_List.Selected();
    if (!recording) {
        return;
    }
    char question[512];
    snprintf(question, sizeof question, Text("Delete the recording %s?").c_str(), recording->name.c_str());
    if (m_Sheet.Message(question, MB_ICONQUESTION | MB_YESNO) != IDYES) {
        return;
    }
    m_Sheet.StopSound();
    std::string problem;
    if (!m_Recordings.Delete(recording->path, &problem)) {
        Message(problem, MB_ICONWARNING | MB_OK);
    }
    Refresh();
}

void CRecordingsPage::OnCommand(UINT id, UINT code) {
    const WavFileInfo* recording = m_List.Selected();
    switch (id) {
    case IDC_RECORDINGS_CHANGE:
        ChooseFolder();
        break;
    case IDC_RECORDINGS_OPEN:
        ShellExecuteA(m_hWnd, "open", m_Recordings.Folder().c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        break;
    case IDC_PLAY:
        if (recording && !m_Sheet.Play(recording->path)) {
            Message("The recording cannot be played on this computer's sound device.",
                    MB_ICONWARNING | MB_OK);
        }
        break;
    case IDC_STOP:
        m_Sheet.StopSound();
        break;
    case IDC_DELETE:
        Delete();
        break;
    default:
        break;
    }
}

bool CRecordingsPage::OnNotify(NMHDR* header, LRESULT* result) {
    if (header->idFrom == IDC_RECORDINGS_LIST && header->code == NM_DBLCLK) {
        OnCommand(IDC_PLAY, 0);
        return true;
    }
    return m_List.OnNotify(header);
}

bool CRecordingsPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == kFolderChanged) {
        SetTimer(m_hWnd, kRefreshTimer, kRefreshPauseMs, nullptr);
        return true;
    }
    if (message == WM_TIMER && wParam == kRefreshTimer) {
        KillTimer(m_hWnd, kRefreshTimer);
        Refresh();
        return true;
    }
    return false;
}
