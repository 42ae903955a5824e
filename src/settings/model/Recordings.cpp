#include "settings/model/Recordings.h"

#include "base/config/Registry.h"
#include "recorder/CallRecorder.h"
#include "settings/model/RegistryChanges.h"

CRecordings::CRecordings(const SettingsLocation& location) : m_Key(orvin::SubKey(location.root, "Recorder")) {
    orvin::RegKey key;
    std::string directory;
    if (key.Open(HKEY_LOCAL_MACHINE, m_Key.c_str()) == ERROR_SUCCESS &&
        key.QueryString("Directory", &directory, MAX_PATH) == ERROR_SUCCESS) {
        directory = CCallRecorder::AbsoluteDirectory(directory);
    }
    const DWORD attributes =
        directory.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // The recorder's own fallback; it makes the folder, as the recorder would.
        char current[MAX_PATH] = {};
        GetCurrentDirectoryA(sizeof current, current);
        directory = CCallRecorder::DefaultDirectory();
        SetCurrentDirectoryA(current);
    }
    m_Folder = directory;
}

bool CRecordings::CanChangeFolder() const {
    return CRegistryChanges::CanWrite(m_Key);
}

bool CRecordings::PrepareFolder(const std::string& folder, CRegistryChanges& changes,
                                std::string* problem) const {
    const bool full =
        folder.size() > 3 && ((folder[1] == ':' && folder[2] == '\\') || folder.rfind("\\\\", 0) == 0);
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (!full || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *problem = folder + " is not a folder of this computer.";
        return false;
    }
    if (_stricmp(folder.c_str(), m_Folder.c_str()) != 0) {
        changes.SetString(m_Key, "Directory", folder);
    }
    return true;
}

bool CRecordings::Delete(const std::string& path, std::string* problem) const {
    if (DeleteFileA(path.c_str())) {
        return true;
    }
    *problem = "The recording could not be deleted: " + SystemErrorText((LONG)GetLastError()) + ".";
    return false;
}
