// The few operations the capture engine and the prompt stream need from a DirectSound
// ring buffer, as small interfaces. DirectSoundBuffers.h adapts the real DirectSound
// objects to them; everything above this line works on positions, two-part locks,
// notifications and lost buffers only through these calls.
//
// The rules are DirectSound's: offsets and sizes are in bytes; a lock that runs past the
// end of the ring comes back in two parts, the second starting at offset 0; notification
// positions are byte offsets at which DirectSound signals the given event; a playback
// buffer may be lost (its memory taken away) and must then be restored and refilled.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <dsound.h>

#include <memory>

// The one or two parts of a locked range.
struct AudioLock {
    void* pPart1 = nullptr;
    DWORD dwBytes1 = 0;
    void* pPart2 = nullptr;
    DWORD dwBytes2 = 0;
};

class IAudioBuffer {
public:
    virtual ~IAudioBuffer() = default;

    // Capture: (capture position, read position); playback: (play position, write
    // position). Either pointer may be null.
    virtual HRESULT GetCurrentPosition(DWORD* pdwFirst, DWORD* pdwSecond) = 0;
    virtual HRESULT Lock(DWORD dwOffset, DWORD dwBytes, AudioLock* pLock) = 0;
    virtual HRESULT Unlock(const AudioLock& lock) = 0;
    virtual HRESULT GetFormat(WAVEFORMATEX* pFormat) = 0;
    // Gets hold of the buffer's notification interface; SetNotificationPositions needs it.
    virtual HRESULT AcquireNotify() = 0;
    virtual HRESULT SetNotificationPositions(DWORD dwCount, const DSBPOSITIONNOTIFY* pPositions) = 0;
    // Starts looping capture or looping playback.
    virtual HRESULT StartLooping() = 0;
    virtual HRESULT Stop() = 0;
};

class IPlaybackBuffer : public IAudioBuffer {
public:
    virtual HRESULT SetCurrentPosition(DWORD dwPlayPosition) = 0;
    // DSBSTATUS_ flags: playing, looping, lost.
    virtual HRESULT GetStatus(DWORD* pdwStatus) = 0;
    virtual HRESULT Restore() = 0;
};

// Makes capture buffers on one capture device.
class ICaptureDevice {
public:
    virtual ~ICaptureDevice() = default;
    // bPre8Description: describe the buffer in the form DirectX before 8.0 understands.
    virtual HRESULT CreateCaptureBuffer(const WAVEFORMATEX& format, DWORD dwBufferBytes,
                                        bool bPre8Description, std::unique_ptr<IAudioBuffer>* ppBuffer) = 0;
};
