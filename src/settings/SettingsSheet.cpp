#include "settings/SettingsSheet.h"

#include "base/translate/Translator.h"
#include "settings/AgentLink.h"
#include "settings/model/RegistryChanges.h"
#include "settings/pages/AnsweringPage.h"
#include "settings/pages/DiagnosticsPage.h"
#include "settings/pages/GreetingPage.h"
#include "settings/pages/MessagesPage.h"
#include "settings/pages/RecordingsPage.h"
#include "settings/pages/SoftphonePage.h"
#include "settings/resource.h"

#include <mmsystem.h>

CSettingsSheet::CSettingsSheet(const SettingsLocation& location, CAgentLink& agent)
    : m_Location(location), m_Agent(agent) {
    m_hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CSettingsSheet::~CSettingsSheet() {
    Close();
}

std::string CSettingsSheet::Text(const std::string& english) const {
    const CTranslator* translator = CTranslator::GetInstance();
    return translator ? translator->TranslateText(english) : english;
}

bool CSettingsSheet::Show(int page) {
    if (page < 0 || page >= kPageCount) {
        page = kSoftphone;
    }
    if (m_hWnd) {
        PropSheet_SetCurSel(m_hWnd, nullptr, page);
        ShowWindow(m_hWnd, IsIconic(m_hWnd) ? SW_RESTORE : SW_SHOW);
        SetForegroundWindow(m_hWnd);
        return true;
    }
    m_Pages.clear();
    m_Pages.push_back(std::make_unique<CSoftphonePage>(*this));
    m_Pages.push_back(std::make_unique<CAnsweringPage>(*this));
    m_Pages.push_back(std::make_unique<CMessagesPage>(*this));
    m_Pages.push_back(std::make_unique<CGreetingPage>(*this));
    m_Pages.push_back(std::make_unique<CRecordingsPage>(*this));
    m_Pages.push_back(std::make_unique<CDiagnosticsPage>(*this));
    std::vector<PROPSHEETPAGEA> pages;
    for (auto& each : m_Pages) {
        pages.push_back(each->Describe());
    }
    const std::string caption = Text(kCaption);
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_NOCONTEXTHELP | PSH_USEHICON;
    header.hInstance = GetModuleHandleA(nullptr);
    header.hIcon = m_hIcon;
    header.pszCaption = caption.c_str();
    header.nPages = (UINT)pages.size();
    header.nStartPage = (UINT)page;
    header.ppsp = pages.data();
    m_hWnd = (HWND)PropertySheetA(&header);
    if (!m_hWnd || m_hWnd == (HWND)-1) {
        m_hWnd = nullptr;
        return false;
    }
    SetForegroundWindow(m_hWnd);
    return true;
}

bool CSettingsSheet::PreTranslate(MSG* msg) {
    if (!m_hWnd) {
        return false;
    }
    const bool handled = PropSheet_IsDialogMessage(m_hWnd, msg) != FALSE;
    // OK, Cancel and the close box leave the sheet without a current page.
    if (!PropSheet_GetCurrentPageHwnd(m_hWnd)) {
        Close();
    }
    return handled;
}

void CSettingsSheet::Close() {
    StopSound();
    if (m_hWnd) {
        DestroyWindow(m_hWnd);
        m_hWnd = nullptr;
    }
    m_Pages.clear();
}

int CSettingsSheet::Message(const std::string& text, UINT type) const {
    const std::string caption = Text(kCaption);
    return MessageBoxA(m_hWnd, text.c_str(), caption.c_str(), type);
}

bool CSettingsSheet::Play(const std::string& path) {
    return PlaySoundA(path.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT) != FALSE;
}

void CSettingsSheet::StopSound() {
    PlaySoundA(nullptr, nullptr, 0);
}

bool CSettingsSheet::ApplyAll() {
    CRegistryChanges changes;
    bool restart = false;
    std::vector<CSettingsPage*> changed;
    for (size_t i = 0; i < m_Pages.size(); ++i) {
        CSettingsPage* page = m_Pages[i].get();
        if (!page->HasChanges()) {
            continue;
        }
        std::string problem;
        int control = 0;
        if (!page->Prepare(changes, &problem, &control)) {
            PropSheet_SetCurSel(m_hWnd, nullptr, (int)i);
            Message(Text(problem), MB_ICONWARNING | MB_OK);
            if (control) {
                SetFocus(GetDlgItem(page->Window(), control));
            }
            return false;
        }
        restart = restart || page->NeedsAgentRestart();
        changed.push_back(page);
    }
    const bool writes = !changes.Empty();
    if (writes) {
        std::string error;
        if (!changes.Commit(&error)) {
            Message(Text("The settings could not be saved; nothing was changed.") + "\n\n" + error + "\n\n" +
                        Text("Setup gives the users of this computer the right to change these settings; an "
                             "administrator can run setup again."),
                    MB_ICONERROR | MB_OK);
            return false;
        }
    }
    for (CSettingsPage* page : changed) {
        page->Committed();
    }
    if (writes) {
        if (restart) {
            RestartAgent();
        } else {
            m_Agent.NotifyRegistryChanges();
        }
    }
    return true;
}

void CSettingsSheet::RestartAgent() {
    HCURSOR previous = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    const CAgentLink::Restart result = m_Agent.RestartAgent(m_Location.installFolder);
    SetCursor(previous);
    switch (result) {
    case CAgentLink::Restart::kNotRunning:
        Message(Text("OrvinAgent is not running; it uses the new softphone when it starts."),
                MB_ICONINFORMATION | MB_OK);
        break;
    case CAgentLink::Restart::kRestarted:
        Message(Text("OrvinAgent has been restarted to use the new softphone."), MB_ICONINFORMATION | MB_OK);
        break;
    case CAgentLink::Restart::kDidNotEnd:
        Message(Text("OrvinAgent did not end; it uses the new softphone from its next start."),
                MB_ICONWARNING | MB_OK);
        break;
    case CAgentLink::Restart::kNotStarted:
        Message(Text("OrvinAgent ended but could not be started again; start it from the Start menu."),
                MB_ICONWARNING | MB_OK);
        break;
    }
    for (auto& page : m_Pages) {
        if (page->Window()) {
            SendMessageA(page->Window(), kRefreshMessage, 0, 0);
        }
    }
}
