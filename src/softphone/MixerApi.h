// The few winmm mixer calls the audio-device search makes, as a small interface, so that
// the search can run on the system's mixers or on a list a test makes up.
//
// The calls and their results are winmm's own: ids run from 0 to GetNumDevs() - 1; a
// product name is MAXPNAMELEN (32) bytes, which a driver may fill without a terminating
// zero; GetLineInfo takes a MIXERLINEA with cbStruct set and the MIXER_GETLINEINFOF_ flag
// that says which field selects the line; every MMRESULT other than MMSYSERR_NOERROR is a
// failure, and a handle is only valid after Open succeeded.
//
// Threads: the system's mixers may be asked from any thread.
#pragma once

#include <windows.h>
#include <mmsystem.h>

class IMixerApi {
public:
    virtual ~IMixerApi() = default;

    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(UINT uMxId, MIXERCAPSA* pCaps) = 0;
    virtual MMRESULT Open(UINT uMxId, HMIXER* phMixer) = 0;
    virtual MMRESULT GetLineInfo(HMIXER hMixer, MIXERLINEA* pLine, DWORD fdwInfo) = 0;
    virtual MMRESULT Close(HMIXER hMixer) = 0;
};

// The system's mixers through winmm; one object for the whole process.
IMixerApi& SystemMixerApi();
