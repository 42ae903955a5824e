// DirectSound behind the interfaces of AudioBuffer.h: a thin adapter per object, which
// owns one COM reference and passes every call straight through.
#pragma once

#include "audio/AudioBuffer.h"

// A capture device opened with DirectSoundCaptureCreate8; pDevice null (or all zero) means
// the default capture device. Returns DirectSound's result.
HRESULT CreateDirectSoundCaptureDevice(const GUID* pDevice, std::unique_ptr<ICaptureDevice>* ppDevice);

// Takes over one reference of pBuffer.
std::unique_ptr<IPlaybackBuffer> WrapDirectSoundBuffer(IDirectSoundBuffer8* pBuffer);
