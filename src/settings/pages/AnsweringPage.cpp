#include "settings/pages/AnsweringPage.h"

#include "settings/SettingsSheet.h"
#include "settings/resource.h"

CAnsweringPage::CAnsweringPage(CSettingsSheet& sheet)
    : CSettingsPage(sheet, IDD_PAGE_ANSWERING, "Answering machine") {}

void CAnsweringPage::OnInit() {
    SendDlgItemMessageA(m_hWnd, IDC_PIN_NEW, EM_LIMITTEXT, 8, 0);
    SendDlgItemMessageA(m_hWnd, IDC_PIN_REPEAT, EM_LIMITTEXT, 8, 0);
    SendDlgItemMessageA(m_hWnd, IDC_MESSAGE_SPIN, UDM_SETRANGE32, CAnsweringSettings::kMinVoiceMessageSeconds,
                        CAnsweringSettings::kMaxVoiceMessageSeconds);
    SendDlgItemMessageA(m_hWnd, IDC_GREETING_SPIN, UDM_SETRANGE32, CAnsweringSettings::kMinGreetingSeconds,
                        CAnsweringSettings::kMaxGreetingSeconds);
    m_Languages = CAnsweringSettings::InstalledLanguages(m_Sheet.Location().IvrFolder());
    Load();
}

void CAnsweringPage::Load() {
    m_bLoading = true;
    m_Values = CAnsweringSettings::Load(m_Sheet.Location().root);
    SetItemText(IDC_PIN_STATE,
                Text(m_Values.pinSet ? "A PIN is set. To change it, type a new one twice."
                                     : "No PIN is set: remote access is closed until you set one."));
    SetItemText(IDC_PIN_NEW, "");
    SetItemText(IDC_PIN_REPEAT, "");
    Check(IDC_ADMIN_PSTN, m_Values.pstnAdmin);
    Check(IDC_ADMIN_VOIP, m_Values.voipAdmin);
    SetItemText(IDC_MESSAGE_SECONDS, std::to_string(m_Values.voiceMessageSeconds));
    SetItemText(IDC_GREETING_SECONDS, std::to_string(m_Values.greetingSeconds));
    Check(IDC_RECORD_ON_POUND, m_Values.recordGreetingOnPound);
    HWND combo = Item(IDC_LANGUAGE);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)Text("The system's language").c_str());
    int selected = 0;
    for (size_t i = 0; i < m_Languages.size(); ++i) {
        SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)m_Languages[i].c_str());
        if (m_Languages[i] == m_Values.language) {
            selected = (int)i + 1;
        }
    }
    SendMessageA(combo, CB_SETCURSEL, (WPARAM)selected, 0);
    m_bChanged = false;
    m_bLoading = false;
}

void CAnsweringPage::OnCommand(UINT id, UINT code) {
    if (m_bLoading) {
        return;
    }
    if ((code == EN_CHANGE && id != IDC_PIN_STATE) || code == CBN_SELCHANGE || code == BN_CLICKED) {
        SetChanged();
    }
}

bool CAnsweringPage::Prepare(CRegistryChanges& changes, std::string* problem, int* control) {
    AnsweringInput input;
    input.newPin = ItemText(IDC_PIN_NEW);
    input.repeatedPin = ItemText(IDC_PIN_REPEAT);
    input.voiceMessageSeconds = ItemText(IDC_MESSAGE_SECONDS);
    input.greetingSeconds = ItemText(IDC_GREETING_SECONDS);
    input.recordGreetingOnPound = IsChecked(IDC_RECORD_ON_POUND);
    input.pstnAdmin = IsChecked(IDC_ADMIN_PSTN);
    input.voipAdmin = IsChecked(IDC_ADMIN_VOIP);
    const int language = (int)SendDlgItemMessageA(m_hWnd, IDC_LANGUAGE, CB_GETCURSEL, 0, 0);
    if (language > 0 && (size_t)language <= m_Languages.size()) {
        input.language = m_Languages[(size_t)language - 1];
    }
    AnsweringField field = AnsweringField::kNone;
    if (CAnsweringSettings::Prepare(m_Sheet.Location().root, m_Values, input, m_Languages, changes, problem,
                                    &field)) {
        return true;
    }
    switch (field) {
    case AnsweringField::kPin:
        *control = IDC_PIN_NEW;
        break;
    case AnsweringField::kRepeatedPin:
        *control = IDC_PIN_REPEAT;
        break;
    case AnsweringField::kVoiceMessage:
        *control = IDC_MESSAGE_SECONDS;
        break;
    case AnsweringField::kGreeting:
        *control = IDC_GREETING_SECONDS;
        break;
    default:
        *control = IDC_LANGUAGE;
        break;
    }
    return false;
}

void CAnsweringPage::Committed() {
    Load();
}
