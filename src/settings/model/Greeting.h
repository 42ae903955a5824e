// The user's greeting: UserAMGreeting.wav in the folder of the voice menus' language
// (the one the dialogues choose: ivr/VoiceMailStore.h), which callers hear instead of the
// standard prompt; without it the prompt plays.
//
// Threads: no state beyond the paths; any thread.
#pragma once

#include "settings/model/SettingsLocation.h"
#include "settings/model/WavFiles.h"

#include <string>

class CGreeting {
public:
    explicit CGreeting(const SettingsLocation& location);

    const std::string& Language() const { return m_Language; }
    // Empty when no language is installed.
    const std::string& Path() const { return m_Path; }
    // False when there is no greeting of the user's.
    bool Describe(WavFileInfo* info) const;
    bool Delete(std::string* problem) const;
    // `source` converted into the greeting (CWavImport); the old one stays on failure.
    bool Import(const std::string& source, std::string* problem) const;

private:
    std::string m_Language;
    std::string m_Path;
};
