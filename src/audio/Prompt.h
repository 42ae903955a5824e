// CPrompt: what one menu says, an ordered list of WAV files (full paths) played one after
// another on the state machine's stream. The stream and its playback event belong to the
// state machine; a prompt only points at them.
//
// Threads: used by the state machine's thread only.
#pragma once

#include "audio/PlaylistSound.h"

#include <string>
#include <vector>

class CPrompt {
public:
    CPrompt(CPlaylistSound* pSound, HANDLE hPlaybackEvent);

    // Appends a file to the list; false for an empty name.
    bool AddFileToPlayAtBack(const std::string& fileName);
    // Plays the list from its first file.
    HRESULT StartPlayback();
    // Plays one file that is not in the list.
    HRESULT PlayFile(const char* pszFileName);
    // Switches the stream to the background sound.
    HRESULT Stop();
    // The stream has not finished what it was last given.
    bool IsPlaying() const;

    const std::vector<std::string>& GetFiles() const { return m_Files; }

private:
    std::vector<std::string> m_Files;
    CPlaylistSound* m_pSound;
    HANDLE m_hPlaybackEvent;
};
