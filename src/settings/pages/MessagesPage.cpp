#include "settings/pages/MessagesPage.h"

#include "settings/AgentLink.h"
#include "settings/SettingsSheet.h"
#include "settings/resource.h"

#include <cstdio>

namespace {

constexpr UINT kFolderChanged = WM_APP + 2;
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshPauseMs = 300; // the changes of one recording come in a burst

} // namespace

CMessagesPage::CMessagesPage(CSettingsSheet& sheet)
    : CSettingsPage(sheet, IDD_PAGE_MESSAGES, "Messages"), m_Messages(sheet.Location()) {}

void CMessagesPage::OnInit() {
    m_List.Attach(Item(IDC_MESSAGES_LIST), false, Text);
    Refresh();
    m_Watch.Start(m_Messages.Folder(), m_hWnd, kFolderChanged);
}

void CMessagesPage::OnDestroy() {
    m_Watch.Stop();
}

void CMessagesPage::Refresh() {
    m_List.Fill(m_Messages.List());
    char text[256];
    snprintf(text, sizeof text, Text("Messages: %u. The telephone shows %d waiting.").c_str(),
             (unsigned)m_List.Count(), m_Messages.WaitingCount());
    SetItemText(IDC_MESSAGES_COUNT, text);
    const bool any = m_List.Count() > 0;
    Enable(IDC_PLAY, any);
    Enable(IDC_DELETE, any);
    Enable(IDC_SAVE_COPY, any);
}

void CMessagesPage::Play() {
    const WavFileInfo* message = m_List.Selected();
    if (message && !m_Sheet.Play(message->path)) {
        Message("The message cannot be played on this computer's sound device.", MB_ICONWARNING | MB_OK);
    }
}

void CMessagesPage::Delete() {
    const WavFileInfo* message = m_List.Selected();
    if (!message) {
        return;
    }
    char question[256];
    snprintf(question, sizeof question, Text("Delete the message of %s, %s?").c_str(),
             FormatDate(message->written).c_str(), FormatTime(message->written).c_str());
    if (m_Sheet.Message(question, MB_ICONQUESTION | MB_YESNO) != IDYES) {
        return;
    }
    m_Sheet.StopSound(); // it may be the one playing
    std::string problem;
    const bool deleted = m_Messages.Delete(message->path, &problem);
    Refresh();
    // The count went down (or the file, at least): the agent reads the count again.
    m_Sheet.Agent().NotifyRegistryChanges();
    if (!deleted) {
        Message(problem, MB_ICONWARNING | MB_OK);
    }
}

void CMessagesPage::SaveCopy() {
    const WavFileInfo* message = m_List.Selected();
    if (!message) {
        return;
    }
    const std::string source = message->path;
    const std::string target =
        AskSavePath("Save a copy of the message",
                    Text("Message") + " " + StampForName(message->written) + ".wav", "WAV (*.wav)\0*.wav\0");
    std::string problem;
    if (!target.empty() && !CVoiceMessages::SaveCopy(source, target, &problem)) {
        Message(problem, MB_ICONWARNING | MB_OK);
    }
}

void CMessagesPage::OnCommand(UINT id, UINT code) {
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
    case IDC_SAVE_COPY:
        SaveCopy();
        break;
    default:
        break;
    }
}

bool CMessagesPage::OnNotify(NMHDR* header, LRESULT* result) {
    if (header->idFrom == IDC_MESSAGES_LIST && header->code == NM_DBLCLK) {
        Play();
        return true;
    }
    return m_List.OnNotify(header);
}

bool CMessagesPage::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
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
