#include "settings/pages/MessagesPage.h"

#include "settings/AgentLink.h"
#include "settings/SettingsSheet.h"
#include "settings/resource.h"

#include <cstdio>

CMessagesPage::CMessagesPage(CSettingsSheet& sheet)
    : CWavFolderPage(sheet, IDD_PAGE_MESSAGES, "Messages", IDC_MESSAGES_LIST, false),
      m_Messages(sheet.Location()) {}

void CMessagesPage::Refresh() {
    CWavFolderPage::Refresh();
    char text[256];
    snprintf(text, sizeof text, Text("Messages: %u. The telephone shows %d waiting.").c_str(),
             (unsigned)m_List.Count(), m_Messages.WaitingCount());
    SetItemText(IDC_MESSAGES_COUNT, text);
    Enable(IDC_SAVE_COPY, m_List.Count() > 0);
}

std::string CMessagesPage::DeleteQuestion(const WavFileInfo& file) const {
    char question[256];
    snprintf(question, sizeof question, Text("Delete the message of %s, %s?").c_str(),
             FormatDate(file.written).c_str(), FormatTime(file.written).c_str());
    return question;
}

bool CMessagesPage::DeleteFile(const std::string& path, std::string* problem) {
    const bool deleted = m_Messages.Delete(path, problem);
    // The count went down (or the file went, at least): the agent reads it again.
    m_Sheet.Agent().NotifyRegistryChanges();
    return deleted;
}

void CMessagesPage::SaveCopy() {
    const WavFileInfo* message = m_List.Selected();
    if (!message) {
        return;
    }
    const std::string source = message->path;
    const std::string target =
        AskPath(kSave, "Save a copy of the message",
                Text("Message") + " " + StampForName(message->written) + ".wav", "WAV (*.wav)\0*.wav\0");
    std::string problem;
    if (!target.empty() && !CVoiceMessages::SaveCopy(source, target, &problem)) {
        Message(problem, MB_ICONWARNING | MB_OK);
    }
}

void CMessagesPage::OnCommand(UINT id, UINT code) {
    if (id == IDC_SAVE_COPY) {
        SaveCopy();
        return;
    }
    CWavFolderPage::OnCommand(id, code);
}
