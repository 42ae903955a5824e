#include "audio/DirectSoundBuffers.h"

namespace {

// The interface identifiers are spelt out here so that the library needs no dxguid.
const GUID kIidDirectSoundNotify = {
    0xB0210783, 0x89cd, 0x11d0, {0xAF, 0x08, 0x00, 0xA0, 0xC9, 0x25, 0xCD, 0x16}};

template <class T> void ReleaseCom(T*& p) {
    if (p != nullptr) {
        p->Release();
        p = nullptr;
    }
}

HRESULT SetPositions(IDirectSoundNotify* pNotify, DWORD dwCount, const DSBPOSITIONNOTIFY* pPositions) {
    if (pNotify == nullptr)
        return CO_E_NOTINITIALIZED;
    return pNotify->SetNotificationPositions(dwCount, pPositions);
}

// What capture and playback buffers share: both DirectSound interfaces have the same
// position, lock, format and notification calls. `Base` is the seam interface served.
template <class Interface, class Base> class CDirectSoundBufferBase : public Base {
public:
    explicit CDirectSoundBufferBase(Interface* pBuffer) : m_pBuffer(pBuffer) {}
    ~CDirectSoundBufferBase() override {
        ReleaseCom(m_pNotify);
        ReleaseCom(m_pBuffer);
    }

    HRESULT GetCurrentPosition(DWORD* pdwFirst, DWORD* pdwSecond) override {
        return m_pBuffer->GetCurrentPosition(pdwFirst, pdwSecond);
    }
    HRESULT Lock(DWORD dwOffset, DWORD dwBytes, AudioLock* pLock) override {
        *pLock = AudioLock{};
        return m_pBuffer->Lock(dwOffset, dwBytes, &pLock->pPart1, &pLock->dwBytes1, &pLock->pPart2,
                               &pLock->dwBytes2, 0);
    }
    HRESULT Unlock(const AudioLock& lock) override {
        return m_pBuffer->Unlock(lock.pPart1, lock.dwBytes1, lock.pPart2, lock.dwBytes2);
    }
    HRESULT GetFormat(WAVEFORMATEX* pFormat) override {
        return m_pBuffer->GetFormat(pFormat, sizeof(WAVEFORMATEX), nullptr);
    }
    HRESULT AcquireNotify() override {
        ReleaseCom(m_pNotify);
        return m_pBuffer->QueryInterface(kIidDirectSoundNotify, reinterpret_cast<void**>(&m_pNotify));
    }
    HRESULT SetNotificationPositions(DWORD dwCount, const DSBPOSITIONNOTIFY* pPositions) override {
        return SetPositions(m_pNotify, dwCount, pPositions);
    }
    HRESULT Stop() override { return m_pBuffer->Stop(); }

protected:
    Interface* m_pBuffer;
    IDirectSoundNotify* m_pNotify = nullptr;
};

class CDirectSoundCaptureBuffer : public CDirectSoundBufferBase<IDirectSoundCaptureBuffer, IAudioBuffer> {
public:
    using CDirectSoundBufferBase::CDirectSoundBufferBase;
    HRESULT StartLooping() override { return m_pBuffer->Start(DSCBSTART_LOOPING); }
};

class CDirectSoundCaptureDevice : public ICaptureDevice {
public:
    explicit CDirectSoundCaptureDevice(IDirectSoundCapture* pCapture) : m_pCapture(pCapture) {}
    ~CDirectSoundCaptureDevice() override { ReleaseCom(m_pCapture); }

    HRESULT CreateCaptureBuffer(const WAVEFORMATEX& format, DWORD dwBufferBytes, bool bPre8Description,
                                std::unique_ptr<IAudioBuffer>* ppBuffer) override {
        WAVEFORMATEX wfx = format;
        DSCBUFFERDESC desc{};
        desc.dwSize = bPre8Description ? sizeof(DSCBUFFERDESC1) : sizeof(DSCBUFFERDESC);
        desc.dwFlags = 0;
        desc.dwBufferBytes = dwBufferBytes;
        desc.lpwfxFormat = &wfx;
        IDirectSoundCaptureBuffer* pBuffer = nullptr;
        HRESULT hr = m_pCapture->CreateCaptureBuffer(&desc, &pBuffer, nullptr);
        if (FAILED(hr))
            return hr;
        *ppBuffer = std::make_unique<CDirectSoundCaptureBuffer>(pBuffer);
        return S_OK;
    }

private:
    IDirectSoundCapture* m_pCapture;
};

class CDirectSoundPlaybackBuffer : public CDirectSoundBufferBase<IDirectSoundBuffer8, IPlaybackBuffer> {
public:
    using CDirectSoundBufferBase::CDirectSoundBufferBase;
    HRESULT StartLooping() override { return m_pBuffer->Play(0, 0, DSBPLAY_LOOPING); }
    HRESULT SetCurrentPosition(DWORD dwPlayPosition) override {
        return m_pBuffer->SetCurrentPosition(dwPlayPosition);
    }
    HRESULT GetStatus(DWORD* pdwStatus) override { return m_pBuffer->GetStatus(pdwStatus); }
    HRESULT Restore() override { return m_pBuffer->Restore(); }
};

} // namespace

HRESULT CreateDirectSoundCaptureDevice(const GUID* pDevice, std::unique_ptr<ICaptureDevice>* ppDevice) {
    if (ppDevice == nullptr)
        return E_INVALIDARG;
    if (pDevice != nullptr && IsEqualGUID(*pDevice, GUID{}))
        pDevice = nullptr;
    IDirectSoundCapture8* pCapture = nullptr;
    HRESULT hr = DirectSoundCaptureCreate8(pDevice, &pCapture, nullptr);
    if (FAILED(hr))
        return hr;
    *ppDevice = std::make_unique<CDirectSoundCaptureDevice>(pCapture);
    return S_OK;
}

std::unique_ptr<IPlaybackBuffer> WrapDirectSoundBuffer(IDirectSoundBuffer8* pBuffer) {
    if (pBuffer == nullptr)
        return nullptr;
    return std::make_unique<CDirectSoundPlaybackBuffer>(pBuffer);
}
