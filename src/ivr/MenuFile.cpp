#include "ivr/MenuFile.h"

#include "base/trace/Trace.h"
#include "ivr/MessageMenus.h"
#include "ivr/VoiceMailStore.h"

#include <climits>
#include <cstring>
#include <map>

namespace {

// Seconds from the registry to milliseconds: nothing below 0, nothing past the int range.
int SecondsToMs(int nSeconds) {
    if (nSeconds <= 0)
        return 0;
    if (nSeconds > INT_MAX / 1000)
        return INT_MAX;
    return nSeconds * 1000;
}

bool SameSection(const std::string& a, const std::string& b) {
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

} // namespace

CMenuBuilder::CMenuBuilder(IIvrMenuHost& host) : m_Host(host) {}

CVoiceMenu* CMenuBuilder::Build(const std::string& installationFolder, const std::string& section) {
    CVoiceMenu* pRoot = BuildRoot(installationFolder, section);
    CompleteTree(pRoot);
    return pRoot;
}

CVoiceMenu* CMenuBuilder::BuildRoot(const std::string& installationFolder, const std::string& section) {
    m_InstallationFolder = installationFolder;
    m_LanguageFolder = installationFolder + m_Host.GetWavPath();
    m_File = m_LanguageFolder + "\\Menu.cfg";
    m_Path.clear();
    m_nBuilt = 0;
    m_RootSection = section;
    return BuildMenu(section).release();
}

void CMenuBuilder::CompleteTree(CVoiceMenu* pRoot) {
    if (pRoot == nullptr)
        return;
    m_Path.assign(1, m_RootSection);
    ReadSubMenus(*pRoot, m_RootSection);
    m_Path.clear();
}

CVoiceMenu* CMenuBuilder::BuildReminderMenu(const std::string& reminderFolder) {
    auto pMenu = std::make_unique<RecordReminderMsgMenu>(m_Host, SecondsToMs(m_Host.GetVoiceMsgDuration()),
                                                         reminderFolder);
    if (!pMenu->AddPromptFile(m_Host.GetInstallationFolder() + m_Host.GetWavPath() + "\\beep.wav"))
        TRACE("pPrompt->AddFileToPlayAtBack(wav_name) returned false");
    return pMenu.release();
}

CVoiceMenu* CMenuBuilder::BuildPlayFileMenu(const std::string& filePath) {
    auto pMenu = std::make_unique<InfoMenu>(m_Host, CVoiceMenu::kDefaultTimeoutMs);
    pMenu->SetRepeat(CVoiceMenu::kDefaultRepeat);
    pMenu->SetKeySet("");
    if (!pMenu->AddPromptFile(filePath))
        TRACE("pPrompt->AddFileToPlayAtBack(wav_name) returned false");
    return pMenu.release();
}

std::string CMenuBuilder::ExpandMask(const std::string& mask) {
    // The separators go one after another from the left, so a "-" sees as its left
    // neighbour what is left of it once the separators before it are gone.
    std::string keys = mask;
    for (size_t i = 0; i < keys.size();) {
        const char c = keys[i];
        if (c == '-') {
            std::string range;
            if (i > 0 && i + 1 < keys.size()) {
                for (int k = static_cast<unsigned char>(keys[i - 1]) + 1;
                     k < static_cast<unsigned char>(keys[i + 1]); ++k)
                    range += static_cast<char>(k);
            }
            keys.replace(i, 1, range);
            i += range.size();
        } else if (c == ',' || c == ' ') {
            keys.erase(i, 1);
        } else {
            ++i;
        }
    }
    return keys;
}

std::unique_ptr<CVoiceMenu> CMenuBuilder::BuildSection(const std::string& section) {
    std::unique_ptr<CVoiceMenu> pMenu = BuildMenu(section);
    if (pMenu) {
        m_Path.push_back(section);
        ReadSubMenus(*pMenu, section);
        m_Path.pop_back();
    }
    return pMenu;
}

std::unique_ptr<CVoiceMenu> CMenuBuilder::BuildMenu(const std::string& section) {
    char szProbe[kValueBytes];
    if (GetPrivateProfileSectionA(section.c_str(), szProbe, sizeof szProbe, m_File.c_str()) == 0) {
        TRACE("CIvrStateMachine::CreateVoiceMenuFromFile: section %s not found in %s", section.c_str(),
              m_File.c_str());
        return nullptr;
    }
    if (m_nBuilt >= kMaxMenus || m_Path.size() >= kMaxDepth) {
        TRACE(
            "CIvrStateMachine::CreateVoiceMenuFromFile: more than %d menus or %d levels, section %s not built",
            kMaxMenus, static_cast<int>(kMaxDepth), section.c_str());
        return nullptr;
    }

    const int nTimeout = static_cast<int>(GetPrivateProfileIntA(
        section.c_str(), "SelectionTimeout", CVoiceMenu::kDefaultTimeoutMs, m_File.c_str()));
    std::string type;
    if (!ReadValue(section, "Type", "DEFAULT", &type) || type.empty())
        return nullptr;
    std::unique_ptr<CVoiceMenu> pMenu = CreateKind(type, nTimeout);
    if (!pMenu) {
        TRACE("CIvrStateMachine::CreateVoiceMenuFromFile: unknown Type %s in section %s", type.c_str(),
              section.c_str());
        return nullptr;
    }
    ++m_nBuilt;

    pMenu->SetRepeat(static_cast<int>(
        GetPrivateProfileIntA(section.c_str(), "Repeat", CVoiceMenu::kDefaultRepeat, m_File.c_str())));
    std::string mask;
    if (!ReadValue(section, "Mask", "0-9", &mask))
        mask = "0-9";
    pMenu->SetKeySet(ExpandMask(mask));

    ReadPrompt(*pMenu, section);
    return pMenu;
}

std::unique_ptr<CVoiceMenu> CMenuBuilder::CreateKind(const std::string& type, int nTimeoutMs) {
    IIvrMenuHost& h = m_Host;
    const std::string voiceMail = m_InstallationFolder + kVoiceMailFolder;
    const std::string greeting = m_LanguageFolder + "\\" + kGreetingFile;
    if (type == "DEFAULT")
        return std::make_unique<CVoiceMenu>(h, nTimeoutMs);
    if (type == "INFO")
        return std::make_unique<InfoMenu>(h, nTimeoutMs);
    if (type == "CHILD")
        return std::make_unique<ChildMenu>(h, nTimeoutMs);
    if (type == "BYE")
        return std::make_unique<ByeMenu>(h, nTimeoutMs);
    if (type == "PINCODE")
        return std::make_unique<PinNumberMenu>(h, nTimeoutMs);
    if (type == "PHONENBR")
        return std::make_unique<PhoneNumberMenu>(h, nTimeoutMs);
    if (type == "CALLFWD")
        return std::make_unique<CallForwardMenu>(h, nTimeoutMs, h.IsAdminModeEnabled());
    if (type == "AMGREET")
        return std::make_unique<AMGreetingMenu>(h, nTimeoutMs, h.IsAdminModeEnabled(), greeting);
    if (type == "MSGREC")
        return std::make_unique<RecordVoiceMsgMenu>(h, SecondsToMs(h.GetVoiceMsgDuration()), voiceMail);
    if (type == "GMREC")
        return std::make_unique<RecordGreetingMenu>(h, SecondsToMs(h.GetAMGreetingDuration()),
                                                    m_LanguageFolder, h.GetAMGreetingRecordOnPound() != 0);
    if (type == "GMLISTEN")
        return std::make_unique<GreetingListenMenu>(h, nTimeoutMs, greeting);
    if (type == "DELGM")
        return std::make_unique<DeleteFilesMenu>(h, nTimeoutMs, greeting);
    if (type == "MSGPLAY")
        return std::make_unique<PlayVoiceMsgMenu>(h, nTimeoutMs, voiceMail);
    if (type == "VMDELCONFIRM")
        return std::make_unique<VoiceMsgDeleteConfirmMenu>(h, nTimeoutMs, voiceMail, kVoiceMessagePattern);
    if (type == "DELALLVM")
        return std::make_unique<DeleteFilesMenu>(h, nTimeoutMs, voiceMail, kVoiceMessagePattern);
    if (type == "SPMAIL")
        return std::make_unique<SoftphoneVoiceMailMenu>(h, nTimeoutMs);
    if (type == "LINEATTACH")
        return std::make_unique<LineAttachMenu>(h, nTimeoutMs);
    return nullptr;
}

void CMenuBuilder::ReadPrompt(CVoiceMenu& menu, const std::string& section) {
    std::string promptSection;
    std::vector<std::string> files;
    if (!ReadValue(section, "Prompt", "", &promptSection) || promptSection.empty() ||
        !ReadSectionLines(promptSection, &files))
        return;
    for (const std::string& file : files) {
        if (!menu.AddPromptFile(m_LanguageFolder + "\\" + file))
            TRACE("pPrompt->AddFileToPlayAtBack(wav_name) returned false");
    }
}

void CMenuBuilder::ReadSubMenus(CVoiceMenu& menu, const std::string& section) {
    std::string subSection;
    std::vector<std::string> lines;
    if (!ReadValue(section, "SubMenus", "", &subSection) || subSection.empty() ||
        !ReadSectionLines(subSection, &lines))
        return;

    std::map<char, std::string> keys;
    for (const std::string& line : lines) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos)
            continue;
        const size_t last = line.find_last_not_of(' ', comma == 0 ? std::string::npos : comma - 1);
        if (comma == 0 || last == std::string::npos)
            continue; // no key before the comma
        keys.emplace(line[last], line.substr(comma + 1));
    }

    for (const auto& [key, name] : keys) {
        const std::string target = SubstituteSection(name);
        if (IsOnPath(target)) {
            TRACE(
                "CIvrStateMachine::CreateVoiceMenuFromFile: section %s is already on the path, not built again",
                target.c_str());
            continue;
        }
        TRACE("CIvrStateMachine::CreateVoiceMenuFromFile: orvin_path = %s, section = %s",
              m_InstallationFolder.c_str(), target.c_str());
        menu.AddSubMenu(key, BuildSection(target));
    }
}

bool CMenuBuilder::ReadValue(const std::string& section, const char* pszKey, const char* pszDefault,
                             std::string* pValue) {
    char szValue[kValueBytes];
    const DWORD dwLength = GetPrivateProfileStringA(section.c_str(), pszKey, pszDefault, szValue,
                                                    sizeof szValue, m_File.c_str());
    if (dwLength >= kValueBytes - 1)
        return false;
    pValue->assign(szValue, dwLength);
    return true;
}

bool CMenuBuilder::ReadSectionLines(const std::string& section, std::vector<std::string>* pLines) {
    char szSection[kValueBytes];
    const DWORD dwLength =
        GetPrivateProfileSectionA(section.c_str(), szSection, sizeof szSection, m_File.c_str());
    if (dwLength == 0 || dwLength >= kValueBytes - 2)
        return false;
    pLines->clear();
    for (const char* p = szSection; *p != '\0' && p < szSection + dwLength; p += std::strlen(p) + 1)
        pLines->emplace_back(p);
    return true;
}

std::string CMenuBuilder::SubstituteSection(const std::string& section) const {
    if (SameSection(section, "EnterAM") && !m_Host.IsPstnCall())
        return "EnterAMAlt";
    if (SameSection(section, "PhoneNumberCollect") && m_Host.IsLineAttachRequested() &&
        m_Host.IsAttachLineOnDCF())
        return "AttachLine";
    return section;
}

bool CMenuBuilder::IsOnPath(const std::string& section) const {
    for (const std::string& onPath : m_Path) {
        if (SameSection(onPath, section))
            return true;
    }
    return false;
}

std::unique_ptr<CVoiceMenu> CreateSimplePlayFileMenu(IIvrMenuHost& host, const std::string& filePath) {
    return std::unique_ptr<CVoiceMenu>(CMenuBuilder(host).BuildPlayFileMenu(filePath));
}

std::unique_ptr<CVoiceMenu> CreateReminderRecordingMenu(IIvrMenuHost& host,
                                                        const std::string& reminderFolder) {
    return std::unique_ptr<CVoiceMenu>(CMenuBuilder(host).BuildReminderMenu(reminderFolder));
}
