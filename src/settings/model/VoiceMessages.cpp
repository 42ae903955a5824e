#include "settings/model/VoiceMessages.h"

#include "ivr/VoiceMailStore.h"
#include "settings/model/RegistryChanges.h"

std::vector<WavFileInfo> CVoiceMessages::List() const {
    return ListWavFiles(Folder(), "vm");
}

int CVoiceMessages::WaitingCount() const {
    int count = 0;
    ReadVoiceMessageWaiting(m_Location.root, &count);
    return count;
}

bool CVoiceMessages::IsMessage(const std::string& path) const {
    const std::string folder = Folder() + "\\";
    if (path.size() <= folder.size() || _strnicmp(path.c_str(), folder.c_str(), folder.size()) != 0) {
        return false;
    }
    const std::string name = path.substr(folder.size());
    return name.find_first_of("\\/:") == std::string::npos && name.size() > 6 &&
           _strnicmp(name.c_str(), "vm", 2) == 0 && _stricmp(name.c_str() + name.size() - 4, ".wav") == 0;
}

bool CVoiceMessages::Delete(const std::string& path, std::string* problem) const {
    if (!IsMessage(path)) {
        *problem = path + " is not a voice message.";
        return false;
    }
    if (!DeleteFileA(path.c_str())) {
        *problem = "The message could not be deleted: " + SystemErrorText((LONG)GetLastError()) + ".";
        return false;
    }
    int count = 0;
    ReadVoiceMessageWaiting(m_Location.root, &count);
    const LONG result = WriteVoiceMessageWaiting(m_Location.root, CountAfterDeletion(count));
    if (result != ERROR_SUCCESS) {
        *problem = "The message is deleted, but the count of waiting messages could not be lowered (" +
                   CRegistryChanges::Describe(m_Location.root + "\\Config\\IVR", result) + ").";
        return false;
    }
    return true;
}

bool CVoiceMessages::SaveCopy(const std::string& path, const std::string& target, std::string* problem) {
    if (CopyFileA(path.c_str(), target.c_str(), FALSE)) {
        return true;
    }
    *problem =
        "The copy could not be written to " + target + ": " + SystemErrorText((LONG)GetLastError()) + ".";
    return false;
}
