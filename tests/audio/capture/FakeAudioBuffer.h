// A ring buffer driven by hand: the test sets the positions, writes the "captured" bytes
// and loses the buffer; the code under test locks, reads and writes it as it would a
// DirectSound buffer. Its state outlives the buffer object, so a test can still look at a
// buffer the code has released.
#pragma once

#include "audio/AudioBuffer.h"

#include <cstring>
#include <memory>
#include <vector>

struct FakeRingState {
    explicit FakeRingState(DWORD dwSize, const WAVEFORMATEX& format) : memory(dwSize, 0xCD), wfx(format) {}

    std::vector<BYTE> memory;
    WAVEFORMATEX wfx;
    DWORD dwPrimary = 0;   // capture or play position
    DWORD dwSecondary = 0; // read or write position
    bool bRunning = false;
    bool bLost = false;
    int nRestoresNeeded = 1; // Restore calls until the buffer is back
    int nRestoreCalls = 0;
    int nStartCalls = 0;
    int nStopCalls = 0;
    int nLocks = 0;
    bool bLocked = false;
    bool bReleased = false;
    bool bNotifyAcquired = false;
    std::vector<DSBPOSITIONNOTIFY> notifications;
    std::vector<DWORD> setPositions; // SetCurrentPosition calls
    DWORD dwLastLockOffset = 0;
    DWORD dwLastLockBytes = 0;
};

class FakeRing : public IPlaybackBuffer {
public:
    explicit FakeRing(std::shared_ptr<FakeRingState> state) : m_s(std::move(state)) {}
    ~FakeRing() override { m_s->bReleased = true; }

    HRESULT GetCurrentPosition(DWORD* pdwFirst, DWORD* pdwSecond) override {
        if (pdwFirst)
            *pdwFirst = m_s->dwPrimary;
        if (pdwSecond)
            *pdwSecond = m_s->dwSecondary;
        return S_OK;
    }
    HRESULT Lock(DWORD dwOffset, DWORD dwBytes, AudioLock* pLock) override {
        *pLock = AudioLock{};
        if (m_s->bLost)
            return DSERR_BUFFERLOST;
        const DWORD dwSize = static_cast<DWORD>(m_s->memory.size());
        if (m_s->bLocked || dwOffset >= dwSize || dwBytes == 0 || dwBytes > dwSize)
            return DSERR_INVALIDPARAM;
        ++m_s->nLocks;
        m_s->bLocked = true;
        m_s->dwLastLockOffset = dwOffset;
        m_s->dwLastLockBytes = dwBytes;
        pLock->pPart1 = m_s->memory.data() + dwOffset;
        pLock->dwBytes1 = std::min(dwBytes, dwSize - dwOffset);
        if (pLock->dwBytes1 < dwBytes) {
            pLock->pPart2 = m_s->memory.data();
            pLock->dwBytes2 = dwBytes - pLock->dwBytes1;
        }
        return S_OK;
    }
    HRESULT Unlock(const AudioLock&) override {
        if (!m_s->bLocked)
            return DSERR_INVALIDPARAM;
        m_s->bLocked = false;
        return S_OK;
    }
    HRESULT GetFormat(WAVEFORMATEX* pFormat) override {
        *pFormat = m_s->wfx;
        return S_OK;
    }
    HRESULT AcquireNotify() override {
        m_s->bNotifyAcquired = true;
        return S_OK;
    }
    HRESULT SetNotificationPositions(DWORD dwCount, const DSBPOSITIONNOTIFY* pPositions) override {
        if (!m_s->bNotifyAcquired)
            return E_NOINTERFACE;
        if (m_s->bRunning)
            return DSERR_INVALIDCALL; // DirectSound refuses this on a running buffer
        m_s->notifications.assign(pPositions, pPositions + dwCount);
        return S_OK;
    }
    HRESULT StartLooping() override {
        if (m_s->bLost)
            return DSERR_BUFFERLOST;
        ++m_s->nStartCalls;
        m_s->bRunning = true;
        return S_OK;
    }
    HRESULT Stop() override {
        ++m_s->nStopCalls;
        m_s->bRunning = false;
        return S_OK;
    }
    HRESULT SetCurrentPosition(DWORD dwPosition) override {
        m_s->setPositions.push_back(dwPosition);
        m_s->dwPrimary = dwPosition;
        return S_OK;
    }
    HRESULT GetStatus(DWORD* pdwStatus) override {
        *pdwStatus = (m_s->bLost ? DSBSTATUS_BUFFERLOST : 0) |
                     (m_s->bRunning ? DSBSTATUS_PLAYING | DSBSTATUS_LOOPING : 0);
        return S_OK;
    }
    HRESULT Restore() override {
        ++m_s->nRestoreCalls;
        if (m_s->bLost && --m_s->nRestoresNeeded <= 0) {
            m_s->bLost = false;
            // Restored memory holds nothing useful until it is written again.
            std::memset(m_s->memory.data(), 0xCD, m_s->memory.size());
        }
        return m_s->bLost ? DSERR_BUFFERLOST : S_OK;
    }

private:
    std::shared_ptr<FakeRingState> m_s;
};

// Makes FakeRing capture buffers and keeps the state of every one it made.
class FakeCaptureDevice : public ICaptureDevice {
public:
    struct Record {
        std::vector<std::shared_ptr<FakeRingState>> buffers;
        std::vector<bool> pre8;
        HRESULT hrCreate = S_OK;
    };
    explicit FakeCaptureDevice(std::shared_ptr<Record> record) : m_r(std::move(record)) {}

    HRESULT CreateCaptureBuffer(const WAVEFORMATEX& format, DWORD dwBufferBytes, bool bPre8Description,
                                std::unique_ptr<IAudioBuffer>* ppBuffer) override {
        if (FAILED(m_r->hrCreate))
            return m_r->hrCreate;
        auto state = std::make_shared<FakeRingState>(dwBufferBytes, format);
        m_r->buffers.push_back(state);
        m_r->pre8.push_back(bPre8Description);
        *ppBuffer = std::make_unique<FakeRing>(state);
        return S_OK;
    }

private:
    std::shared_ptr<Record> m_r;
};

inline WAVEFORMATEX TelephoneFormat(WORD wBits = 16) {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 1;
    wfx.nSamplesPerSec = 8000;
    wfx.wBitsPerSample = wBits;
    wfx.nBlockAlign = static_cast<WORD>(wBits / 8);
    wfx.nAvgBytesPerSec = 8000 * wfx.nBlockAlign;
    return wfx;
}
