// CSoundManager: the DirectSound device of one IVR state machine, opened on the adapter's
// playback device with priority cooperation, and the maker of its prompt stream.
//
// Threads: created, used and released by the state machine's owner; the stream it makes
// is then used by the state machine's thread only.
#pragma once

#include "audio/PlaylistSound.h"

#include <memory>

class CSoundManager {
public:
    CSoundManager();
    ~CSoundManager();
    CSoundManager(const CSoundManager&) = delete;
    CSoundManager& operator=(const CSoundManager&) = delete;

    // Opens the playback device (all zero or null: the default device) and sets the
    // cooperative level for hWnd.
    HRESULT Initialize(HWND hWnd, DWORD dwCoopLevel, const GUID* pDevice);
    // The primary buffer's format, e.g. (2, 22050, 16).
    HRESULT SetPrimaryBufferFormat(DWORD dwChannels, DWORD dwSamplesPerSec, DWORD dwBitsPerSample);
    // The 2 s streaming buffer of 8000 Hz 16-bit mono with its 20 notifications, which
    // signal hNotifyEvent (not owned).
    HRESULT CreateStreaming(HANDLE hNotifyEvent, std::unique_ptr<CPlaylistSound>* ppSound);

    IDirectSound8* GetDirectSound() const { return m_pDS; }

private:
    IDirectSound8* m_pDS = nullptr;
};
