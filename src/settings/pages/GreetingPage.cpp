#include "settings/pages/GreetingPage.h"

#include "settings/SettingsSheet.h"
#include "settings/resource.h"

#include <cstdio>

CGreetingPage::CGreetingPage(CSettingsSheet& sheet)
    : CSettingsPage(sheet, IDD_PAGE_GREETING, "Greeting"), m_Greeting(sheet.Location()) {}

void CGreetingPage::OnInit() {
    Refresh();
}

void CGreetingPage::Refresh() {
    WavFileInfo greeting;
    const bool own = m_Greeting.Describe(&greeting);
    char text[512];
    if (m_Greeting.Path().empty()) {
        snprintf(text, sizeof text, "%s", Text("The voice menus are not installed.").c_str());
    } else if (own) {
        snprintf(text, sizeof text,
                 Text("Callers hear your own greeting (%s long, made on %s at %s).").c_str(),
                 FormatLength(greeting.lengthMs).c_str(), FormatDate(greeting.written).c_str(),
                 FormatTime(greeting.written).c_str());
    } else {
        snprintf(text, sizeof text, "%s",
                 Text("You have no greeting of your own: callers hear the standard one.").c_str());
    }
    SetItemText(IDC_GREETING_STATE, text);
    Enable(IDC_PLAY, own);
    Enable(IDC_DELETE, own);
    Enable(IDC_GREETING_IMPORT, !m_Greeting.Path().empty());
}

void CGreetingPage::Import() {
    const std::string source = AskPath(kOpen, "Use a WAV file as the greeting", "", "WAV (*.wav)\0*.wav\0");
    if (source.empty()) {
        return;
    }
    m_Sheet.StopSound();
    std::string problem;
    if (!m_Greeting.Import(source, &problem)) {
        Message(problem + "\n\n" + Text("The greeting has not changed."), MB_ICONWARNING | MB_OK);
    }
    Refresh();
}

void CGreetingPage::OnCommand(UINT id, UINT code) {
    switch (id) {
    case IDC_PLAY:
        if (!m_Sheet.Play(m_Greeting.Path())) {
            Message("The greeting cannot be played on this computer's sound device.", MB_ICONWARNING | MB_OK);
        }
        break;
    case IDC_STOP:
        m_Sheet.StopSound();
        break;
    case IDC_DELETE:
        if (Message("Delete your greeting? Callers then hear the standard one.",
                    MB_ICONQUESTION | MB_YESNO) == IDYES) {
            m_Sheet.StopSound();
            std::string problem;
            if (!m_Greeting.Delete(&problem)) {
                Message(problem, MB_ICONWARNING | MB_OK);
            }
            Refresh();
        }
        break;
    case IDC_GREETING_IMPORT:
        Import();
        break;
    default:
        break;
    }
}
