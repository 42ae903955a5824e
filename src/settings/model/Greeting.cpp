#include "settings/model/Greeting.h"

#include "base/config/Registry.h"
#include "ivr/VoiceMailStore.h"
#include "settings/model/RegistryChanges.h"
#include "settings/model/WavImport.h"

CGreeting::CGreeting(const SettingsLocation& location) {
    orvin::RegKey key;
    std::string user, supported;
    if (key.Open(HKEY_LOCAL_MACHINE, orvin::SubKey(location.root, "Config\\IVR").c_str()) == ERROR_SUCCESS) {
        key.QueryString("UserDefinedLanguage", &user, 260);
        key.QueryString("SupportedLanguages", &supported, 260);
    }
    m_Language = ChooseIvrLanguage(user, SplitLanguages(supported), SystemLanguageName());
    if (!m_Language.empty()) {
        m_Path = location.IvrFolder() + "\\" + m_Language + "\\" + kGreetingFile;
    }
}

bool CGreeting::Describe(WavFileInfo* info) const {
    return !m_Path.empty() && DescribeWavFile(m_Path, info);
}

bool CGreeting::Delete(std::string* problem) const {
    if (m_Path.empty() || DeleteFileA(m_Path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    *problem = "The greeting could not be deleted: " + SystemErrorText((LONG)GetLastError()) + ".";
    return false;
}

bool CGreeting::Import(const std::string& source, std::string* problem) const {
    if (m_Path.empty()) {
        *problem = "The voice menus are not installed: there is no folder for a greeting.";
        return false;
    }
    return CWavImport::Convert(source, m_Path, problem);
}
