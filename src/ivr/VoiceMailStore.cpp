#include "ivr/VoiceMailStore.h"

#include "base/config/Registry.h"

using orvin::RegKey;
using orvin::SubKey;

std::vector<std::string> SplitLanguages(const std::string& languages) {
    std::vector<std::string> names;
    for (size_t start = 0; start <= languages.size();) {
        size_t end = languages.find(';', start);
        if (end == std::string::npos) {
            end = languages.size();
        }
        if (end > start) {
            names.push_back(languages.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

bool IsPlainFolderName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() >= MAX_PATH) {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || std::string("\\/:*?\"<>|").find((char)c) != std::string::npos) {
            return false;
        }
    }
    return true;
}

bool IsLanguageFolderName(const std::string& name) {
    return IsPlainFolderName(name) && name.find('~') == std::string::npos && name.back() != '.' &&
           name.back() != ' ' && lstrcmpiA(name.c_str(), kVoiceMailFolderName) != 0;
}

std::string ChooseIvrLanguage(const std::string& userDefined, const std::vector<std::string>& supported,
                              const std::string& systemLanguage) {
    if (IsLanguageFolderName(userDefined)) {
        return userDefined;
    }
    std::string first;
    for (const std::string& language : supported) {
        if (!IsLanguageFolderName(language)) {
            continue;
        }
        if (language == systemLanguage) {
            return language;
        }
        if (first.empty()) {
            first = language;
        }
    }
    return first;
}

std::string SystemLanguageName() {
    char name[128] = {};
    if (GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, name, sizeof name) == 0) {
        return std::string();
    }
    return name;
}

int CountAfterDeletion(int count) {
    return count > 0 ? count - 1 : 0;
}

bool ReadVoiceMessageWaiting(const std::string& root, int* count) {
    RegKey key;
    DWORD value = 0;
    if (key.Open(HKEY_LOCAL_MACHINE, SubKey(root, "Config\\IVR").c_str()) != ERROR_SUCCESS ||
        key.QueryDword("VoiceMessageWaiting", &value) != ERROR_SUCCESS) {
        return false;
    }
    *count = (int)value;
    return true;
}

LONG WriteVoiceMessageWaiting(const std::string& root, int count) {
    return orvin::WriteDword(SubKey(root, "Config\\IVR"), "VoiceMessageWaiting", (DWORD)count);
}
