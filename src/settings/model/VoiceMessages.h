// The voice messages callers left: every vm*.wav in <installation>\IVR\VoiceMail, newest
// first, and the waiting count VoiceMessageWaiting beside them.
//
// Deleting one does to the count what deleting it on the handset does (one less, never
// below 0: ivr/VoiceMailStore.h), so that the telephone's message lamp and the next call's
// report agree with the handset's rules. Only a file of the folder's messages is deleted.
//
// Threads: no state beyond the folder and root; any thread.
#pragma once

#include "settings/model/SettingsLocation.h"
#include "settings/model/WavFiles.h"

#include <string>
#include <vector>

class CVoiceMessages {
public:
    explicit CVoiceMessages(const SettingsLocation& location) : m_Location(location) {}

    const std::string Folder() const { return m_Location.VoiceMailFolder(); }
    std::vector<WavFileInfo> List() const;
    // VoiceMessageWaiting, 0 when missing.
    int WaitingCount() const;
    // Deletes the message and lowers the count. False with the problem in words (English):
    // the file stays (and the count with it), or it went but the count could not be
    // written.
    bool Delete(const std::string& path, std::string* problem) const;
    // A copy elsewhere, replacing what is there (the file dialog has asked).
    static bool SaveCopy(const std::string& path, const std::string& target, std::string* problem);

private:
    bool IsMessage(const std::string& path) const;

    SettingsLocation m_Location;
};
