#include "audio/SoundManager.h"

#include "audio/DirectSoundBuffers.h"
#include "base/trace/Trace.h"

namespace {

const GUID kIidDirectSoundBuffer8 = {
    0x6825A449, 0x7524, 0x4D82, {0x92, 0x0F, 0x50, 0xE3, 0x6A, 0xB3, 0xAB, 0x1E}};

} // namespace

CSoundManager::CSoundManager() = default;

CSoundManager::~CSoundManager() {
    if (m_pDS != nullptr)
        m_pDS->Release();
}

HRESULT CSoundManager::Initialize(HWND hWnd, DWORD dwCoopLevel, const GUID* pDevice) {
    if (m_pDS != nullptr) {
        m_pDS->Release();
        m_pDS = nullptr;
    }
    if (pDevice != nullptr && IsEqualGUID(*pDevice, GUID{}))
        pDevice = nullptr;
    HRESULT hr = DirectSoundCreate8(pDevice, &m_pDS, nullptr);
    if (FAILED(hr)) {
        TRACE("CSoundManager::Initialize: DirectSoundCreate8 failed err = 0x%x", (unsigned)hr);
        m_pDS = nullptr;
        return hr;
    }
    hr = m_pDS->SetCooperativeLevel(hWnd, dwCoopLevel);
    if (FAILED(hr)) {
        TRACE("CSoundManager::Initialize: SetCooperativeLevel failed err = 0x%x", (unsigned)hr);
        m_pDS->Release();
        m_pDS = nullptr;
    }
    return hr;
}

HRESULT CSoundManager::SetPrimaryBufferFormat(DWORD dwChannels, DWORD dwSamplesPerSec,
                                              DWORD dwBitsPerSample) {
    if (m_pDS == nullptr)
        return CO_E_NOTINITIALIZED;
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
    IDirectSoundBuffer* pPrimary = nullptr;
    HRESULT hr = m_pDS->CreateSoundBuffer(&desc, &pPrimary, nullptr);
    if (FAILED(hr)) {
        TRACE("CSoundManager::SetPrimaryBufferFormat: CreateSoundBuffer failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = static_cast<WORD>(dwChannels);
    wfx.nSamplesPerSec = dwSamplesPerSec;
    wfx.wBitsPerSample = static_cast<WORD>(dwBitsPerSample);
    wfx.nBlockAlign = static_cast<WORD>(wfx.wBitsPerSample / 8 * wfx.nChannels);
    wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
    hr = pPrimary->SetFormat(&wfx);
    if (FAILED(hr))
        TRACE("CSoundManager::SetPrimaryBufferFormat: SetFormat failed err = 0x%x", (unsigned)hr);
    pPrimary->Release();
    return hr;
}

HRESULT CSoundManager::CreateStreaming(HANDLE hNotifyEvent, std::unique_ptr<CPlaylistSound>* ppSound) {
    if (ppSound == nullptr)
        return E_INVALIDARG;
    if (m_pDS == nullptr)
        return CO_E_NOTINITIALIZED;

    WAVEFORMATEX wfx = TelephonePcmFormat();
    DSBUFFERDESC desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
    desc.dwBufferBytes = CPlaylistSound::kBufferBytes;
    desc.lpwfxFormat = &wfx;

    IDirectSoundBuffer* pBuffer = nullptr;
    HRESULT hr = m_pDS->CreateSoundBuffer(&desc, &pBuffer, nullptr);
    if (FAILED(hr)) {
        TRACE("CSoundManager::CreateStreaming: CreateSoundBuffer failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    IDirectSoundBuffer8* pBuffer8 = nullptr;
    hr = pBuffer->QueryInterface(kIidDirectSoundBuffer8, reinterpret_cast<void**>(&pBuffer8));
    pBuffer->Release();
    if (FAILED(hr)) {
        TRACE("CSoundManager::CreateStreaming: QueryInterface(IDirectSoundBuffer8) failed err = 0x%x",
              (unsigned)hr);
        return hr;
    }
    auto pSound = std::make_unique<CPlaylistSound>(WrapDirectSoundBuffer(pBuffer8), hNotifyEvent);
    hr = pSound->Initialize();
    if (FAILED(hr))
        return hr;
    *ppSound = std::move(pSound);
    return S_OK;
}
