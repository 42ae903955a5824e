#include "settings/pages/WavFolderPage.h"

#include "settings/SettingsSheet.h"
#include "settings/resource.h"

namespace {

constexpr UINT kFolderChanged = WM_APP + 2;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshPauseMs = 300; // the changes of one recording come in a burst

} // namespace

CWavFolderPage::CWavFolderPage(CSettingsSheet& sheet, UINT templateId, const char* title, int listId,
                               bool withNames)
    : CSettingsPage(sheet, templateId, title), m_nListId(listId), m_bWithNames(withNames) {}

void CWavFolderPage::OnInit() {
    m_List.Attach(Item(m_nListId), m_bWithNames, Text);
    Refresh();
    Watch();
}

void CWavFolderPage::Watch() {
    m_Watch.Start(Folder(), m_hWnd, kFolderChanged);
}

void CWavFolderPage::OnDestroy() {
    m_Watch.Stop();
}

void CWavFolderPage::Refresh() {
    m_List.Fill(Files());
    const bool any = m_List.Count() > 0;
    Enable(IDC_PLAY, any);
    Enable(IDC_DELETE, any);
}

void CWavFolderPage::Play() {
    const WavFileInfo* file = m_List.Selected();
    if (file && !m_Sheet.Play(file->path)) {
        Message("The file cannot be played on this computer's sound device.", MB_ICONWARNING | MB_OK);
    }
}

void CWavFolderPage::Delete() {
    const WavFileInfo* file = m_List.Selected();
    if (!file || m_Sheet.Message(DeleteQuestion(*file), MB_ICONQUESTION | MB_YESNO) != IDYES) {
        return;
    }
    m_Sheet.StopSound(); // it may be the one playing
    std::string problem;
    const bool deleted = DeleteFile(file->path, &problem);
    Refresh();
    if (!deleted) {
        Message(problem, MB_ICONWARNING | MB_OK);
    }
}

void CWavFolderPage::OnCommand(UINT id, UINT code) {
    switch (id) {
    case IDC_PLAY:
        Play();
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

bool CWavFolderPage::OnNotify(NMHDR* header, LRESULT* result) {
    if ((int)header->idFrom == m_nListId && header->code == NM_DBLCLK) {
        Play();
        return true;
    }
    return m_List.OnNotify(header);
}

bool CWavFolderPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == kFolderChanged) {
        SetTimer(m_hWnd, kRefreshTimer, kRefreshPauseMs, nullptr);
        return true;
    }
    if ((message == WM_TIMER && wParam == kRefreshTimer) || message == CSettingsSheet::kRefreshMessage) {
        KillTimer(m_hWnd, kRefreshTimer);
        Refresh();
        return true;
    }
    return false;
}
