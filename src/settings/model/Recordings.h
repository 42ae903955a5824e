// The call recorder's folder and the recordings in it.
//
// The folder is Recorder\Directory below the registry root, as the agent's recorder reads
// it: a relative name below the user's documents folder, and without the value (or when it
// cannot be entered) "Recordings" in the documents folder. The value is one for every
// user of the machine, and every user's agent records calls into it, so only those who
// may write it (administrators: setup grants users nothing there) are offered a change;
// anyone else would choose where other users' calls are recorded.
//
// Threads: no state beyond the paths; any thread.
#pragma once

#include "settings/model/SettingsLocation.h"
#include "settings/model/WavFiles.h"

#include <string>
#include <vector>

class CRegistryChanges;

class CRecordings {
public:
    explicit CRecordings(const SettingsLocation& location);

    // The folder this user's calls are recorded into.
    const std::string& Folder() const { return m_Folder; }
    std::vector<WavFileInfo> List() const { return ListWavFiles(m_Folder, ""); }
    bool CanChangeFolder() const;
    // Adds the new folder (a full path of a folder that exists) to the changes; false with
    // the problem in words.
    bool PrepareFolder(const std::string& folder, CRegistryChanges& changes, std::string* problem) const;
    bool Delete(const std::string& path, std::string* problem) const;

private:
    std::string m_Key;
    std::string m_Folder;
};
