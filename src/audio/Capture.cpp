#include "audio/Capture.h"

#include "audio/DirectSoundBuffers.h"
#include "base/trace/Trace.h"

#include <algorithm>
#include <cmath>

CCapture::CCapture() : m_wfxCapture(TelephonePcmFormat()) {}

CCapture::~CCapture() {
    m_bStop = true;
    if (m_hThread != nullptr && m_hNotifyEvent != nullptr)
        SetEvent(m_hNotifyEvent);
    WaitForThreadDone();
    if (m_hThread != nullptr)
        CloseHandle(m_hThread);
    m_pDetector.reset();
    StopRecordingToFile();
    ReleaseBuffer();
    m_pDevice.reset();
    if (m_hThreadDone != nullptr)
        CloseHandle(m_hThreadDone);
    if (m_bComInitialized)
        CoUninitialize();
}

long CCapture::Initialize(const GUID* pDevice, HANDLE hNotifyEvent, DWORD dwDirectXVersion) {
    TRACE("CCapture::Initialize");
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        TRACE("CCapture::Initialize : CoInitialize failed err =0x%x", (unsigned)hr);
        return hr;
    }
    m_bComInitialized = true;
    std::unique_ptr<ICaptureDevice> pCaptureDevice;
    hr = CreateDirectSoundCaptureDevice(pDevice, &pCaptureDevice);
    if (FAILED(hr)) {
        TRACE("CCapture::Initialize: DirectSoundCaptureCreate failed err = 0x%x", (unsigned)hr);
        CoUninitialize();
        m_bComInitialized = false;
        return hr;
    }
    return InitializeOnDevice(std::move(pCaptureDevice), hNotifyEvent, dwDirectXVersion);
}

long CCapture::Initialize(std::unique_ptr<ICaptureDevice> pDevice, HANDLE hNotifyEvent,
                          DWORD dwDirectXVersion) {
    TRACE("CCapture::Initialize");
    return InitializeOnDevice(std::move(pDevice), hNotifyEvent, dwDirectXVersion);
}

long CCapture::InitializeOnDevice(std::unique_ptr<ICaptureDevice> pDevice, HANDLE hNotifyEvent,
                                  DWORD dwDirectXVersion) {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    if (!pDevice)
        return E_INVALIDARG;
    m_pDevice = std::move(pDevice);
    m_hNotifyEvent = hNotifyEvent;
    m_dwDirectXVersion = dwDirectXVersion;

    HRESULT hr = CreateCaptureBuffer();
    if (FAILED(hr)) {
        TRACE("CCapture::Initialize: CreateCaptureBuffer failed err = 0x%x", (unsigned)hr);
        ReleaseBuffer();
        m_pDevice.reset();
        return hr;
    }
    m_pDetector = std::make_unique<DTMFDetectorEnvelope>(kMinToneMs, m_wfxCapture.nSamplesPerSec);
    if (m_hThreadDone == nullptr)
        m_hThreadDone = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!m_pDetector || m_hThreadDone == nullptr)
        return -1;
    return 0;
}

HRESULT CCapture::CreateCaptureBuffer() {
    m_dwNotifySize = std::max<DWORD>(m_wfxCapture.nAvgBytesPerSec / 10, 1024);
    m_dwNotifySize -= m_dwNotifySize % m_wfxCapture.nBlockAlign;
    m_dwBufferSize = kNotifyCount * m_dwNotifySize;

    ReleaseBuffer();
    HRESULT hr = m_pDevice->CreateCaptureBuffer(m_wfxCapture, m_dwBufferSize, m_dwDirectXVersion < kDirectX8,
                                                &m_pBuffer);
    if (FAILED(hr) || !m_pBuffer) {
        m_pBuffer.reset();
        if (SUCCEEDED(hr))
            hr = E_FAIL;
        TRACE("pDSCapture->CreateCaptureBuffer failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    m_dwNextReadOffset = 0;
    m_dwHeardAhead = 0;
    m_EarlyDigits.clear();
    hr = InitNotifications();
    if (FAILED(hr)) {
        TRACE("InitNotifications failed err = 0x%x", (unsigned)hr);
        ReleaseBuffer();
    }
    return hr;
}

HRESULT CCapture::InitNotifications() {
    HRESULT hr = m_pBuffer->AcquireNotify();
    if (FAILED(hr)) {
        TRACE("CCapture::InitNotifications: pDSBCapture->QueryInterface failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    const DWORD dwStep = m_bListenAhead ? kListenBlockBytes : m_dwNotifySize;
    const DWORD dwCount = std::min(m_dwBufferSize / dwStep, kMaxPositions);
    for (DWORD k = 0; k < dwCount; ++k) {
        m_aPositions[k].dwOffset = (k + 1) * dwStep - 1;
        m_aPositions[k].hEventNotify = m_hNotifyEvent;
    }
    hr = m_pBuffer->SetNotificationPositions(dwCount, m_aPositions);
    if (FAILED(hr))
        TRACE("CCapture::InitNotifications: pDSNotify->SetNotificationPositions failed err = 0x%x",
              (unsigned)hr);
    return hr;
}

void CCapture::ReleaseBuffer() {
    m_pBuffer.reset();
}

DWORD WINAPI CCapture::ThreadProc(void* pParam) {
    auto* pThis = static_cast<CCapture*>(pParam);
    pThis->ThreadBody();
    SetEvent(pThis->m_hThreadDone);
    return 0;
}

HRESULT CCapture::StartCapture() {
    if (m_hThreadDone == nullptr)
        return CO_E_NOTINITIALIZED;
    // A thread asked to stop that has not ended yet would end without seeing this start:
    // it is let finish first (or, when it is the caller, told to go on).
    if (m_hThread != nullptr && m_bStop && WaitForSingleObject(m_hThreadDone, 0) != WAIT_OBJECT_0) {
        if (GetCurrentThreadId() == m_dwThreadId)
            m_bStop = false;
        else
            WaitForThreadDone();
    }
    // One capture thread at a time: a thread still running keeps its place.
    if (WaitForSingleObject(m_hThreadDone, 0) == WAIT_OBJECT_0) {
        if (m_hThread != nullptr) {
            WaitForSingleObject(m_hThread, INFINITE);
            CloseHandle(m_hThread);
            m_hThread = nullptr;
        }
        m_bStop = false;
        ResetEvent(m_hThreadDone);
        m_hThread = CreateThread(nullptr, 0, ThreadProc, this, 0, &m_dwThreadId);
        if (m_hThread == nullptr) {
            SetEvent(m_hThreadDone);
            return HRESULT_FROM_WIN32(GetLastError());
        }
    }
    return StartOrStopRecord(true);
}

HRESULT CCapture::StopCapture() {
    HRESULT hr = StartOrStopRecord(false);
    m_bStop = true;
    if (m_hNotifyEvent != nullptr)
        SetEvent(m_hNotifyEvent);
    return hr;
}

void CCapture::WaitForThreadDone() {
    if (m_hThread == nullptr || m_hThreadDone == nullptr)
        return;
    WaitForSingleObject(m_hThreadDone, INFINITE);
    WaitForSingleObject(m_hThread, INFINITE);
}

HRESULT CCapture::StartOrStopRecord(bool bStart) {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    if (bStart) {
        TRACE("CCapture::StartOrStopRecord Start");
        if (!m_pDevice)
            return CO_E_NOTINITIALIZED;
        HRESULT hr = CreateCaptureBuffer();
        if (FAILED(hr)) {
            TRACE("CCapture::StartOrStopRecord: CreateCaptureBuffer failed err = 0x%x", (unsigned)hr);
            return hr;
        }
        hr = m_pBuffer->StartLooping();
        if (FAILED(hr))
            TRACE("CCapture::StartOrStopRecord: pDSBCapture->Start failed err = 0x%x", (unsigned)hr);
        return hr;
    }

    TRACE("CCapture::StartOrStopRecord Stop");
    HRESULT hr = S_OK;
    if (m_pBuffer) {
        hr = m_pBuffer->Stop();
        if (FAILED(hr)) {
            TRACE("CCapture::StartOrStopRecord: pDSBCapture->Stop failed err = 0x%x", (unsigned)hr);
        } else {
            const long lResult = RecordCapturedData();
            if (lResult < 0) {
                TRACE("CCapture::StartOrStopRecord: RecordCapturedData failed err = 0x%x", (unsigned)lResult);
                hr = lResult;
            }
        }
    }
    // The recording ends with the capture, whatever happened to its last piece.
    if (m_pWaveFile)
        StopRecordingToFile();
    return hr;
}

HRESULT CCapture::RestartCapture() {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    TRACE("CCapture::RestartCapture");
    if (!m_pDevice)
        return CO_E_NOTINITIALIZED;
    if (m_pBuffer) {
        DWORD dwCapturePos = 0, dwReadPos = 0;
        if (SUCCEEDED(m_pBuffer->GetCurrentPosition(&dwCapturePos, &dwReadPos)))
            TRACE("CCapture::RestartCapture: read position %u, next read offset %u", (unsigned)dwReadPos,
                  (unsigned)m_dwNextReadOffset);
        if (SUCCEEDED(m_pBuffer->Stop()))
            RecordCapturedData();
    }
    HRESULT hr = CreateCaptureBuffer();
    if (FAILED(hr)) {
        TRACE("CCapture::RestartCapture: CreateCaptureBuffer failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    hr = m_pBuffer->StartLooping();
    if (FAILED(hr))
        TRACE("CCapture::RestartCapture: pDSBCapture->Start failed err = 0x%x", (unsigned)hr);
    return hr;
}

long CCapture::RecordCapturedData(DWORD* pdwTenths, DWORD dwMaxTenths) {
    if (pdwTenths != nullptr)
        *pdwTenths = 0;
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    // What a call finds belongs to that call alone: a call that takes nothing hands out no
    // digit of an earlier one.
    m_dwDigitCount = 0;
    m_dwEarlyDigitCount = 0;
    if (!m_pBuffer)
        return 1;

    DWORD dwCapturePos = 0;
    DWORD dwReadPos = 0;
    HRESULT hr = m_pBuffer->GetCurrentPosition(&dwCapturePos, &dwReadPos);
    if (FAILED(hr)) {
        TRACE("CCapture::RecordCapturedData: pDSBCapture->GetCurrentPosition failed err = 0x%x",
              (unsigned)hr);
        return hr;
    }
    long lAvailable = static_cast<long>(dwReadPos) - static_cast<long>(m_dwNextReadOffset);
    if (lAvailable < 0)
        lAvailable += static_cast<long>(m_dwBufferSize);
    if (lAvailable < static_cast<long>(m_dwNotifySize))
        return 1;
    DWORD dwLockSize = static_cast<DWORD>(lAvailable) - static_cast<DWORD>(lAvailable) % m_dwNotifySize;
    if (dwMaxTenths != 0 && dwLockSize > dwMaxTenths * m_dwNotifySize)
        dwLockSize = dwMaxTenths * m_dwNotifySize;

    AudioLock lock;
    hr = m_pBuffer->Lock(m_dwNextReadOffset, dwLockSize, &lock);
    if (FAILED(hr)) {
        TRACE("CCapture::RecordCapturedData: pDSBCapture->Lock failed err = 0x%x", (unsigned)hr);
        return hr;
    }

    void* const apParts[2] = {lock.pPart1, lock.pPart2};
    const DWORD adwBytes[2] = {lock.dwBytes1, lock.dwBytes2};
    // What ListenAhead heard of the first tenth is not heard again; its digits are counted.
    DWORD dwHeard = m_dwHeardAhead;
    m_dwEarlyDigitCount = static_cast<DWORD>(m_EarlyDigits.size());
    m_dwHeardAhead = 0;
    m_EarlyDigits.clear();
    for (int part = 0; part < 2; ++part) {
        if (apParts[part] == nullptr || adwBytes[part] == 0)
            continue;
        const DWORD dwSkip = std::min(dwHeard, adwBytes[part]);
        dwHeard -= dwSkip;
        char aFound[kMaxDigits];
        const uint32_t uFound =
            m_pDetector && dwSkip < adwBytes[part]
                ? m_pDetector->DetectDigits(static_cast<const int16_t*>(apParts[part]) + dwSkip / 2,
                                            (adwBytes[part] - dwSkip) / 2, aFound, kMaxDigits)
                : 0;
        for (uint32_t i = 0; i < uFound && m_dwDigitCount < kMaxDigits; ++i)
            m_szDigits[m_dwDigitCount++] = aFound[i];

        if (m_bRecordingToFile && m_pWaveFile) {
            UINT uWritten = 0;
            hr = m_pWaveFile->Write(adwBytes[part], static_cast<const BYTE*>(apParts[part]), &uWritten);
            m_dwRecordedBytes += uWritten;
            const auto* pSamples = static_cast<const int16_t*>(apParts[part]);
            for (DWORD dwBlock = 0; dwBlock + kListenBlockBytes <= uWritten; dwBlock += kListenBlockBytes) {
                double energy = 0;
                for (DWORD i = dwBlock / 2; i < (dwBlock + kListenBlockBytes) / 2; ++i)
                    energy += static_cast<double>(pSamples[i]) * pSamples[i];
                m_dwRecordedLoudestRms = std::max(
                    m_dwRecordedLoudestRms, static_cast<DWORD>(std::sqrt(energy / (kListenBlockBytes / 2))));
            }
            if (FAILED(hr)) {
                // Most likely the disk is full. Keeping the file open would fail again at
                // every tenth, and not taking this audio would hand it to the detector
                // again: the recording ends here and the capture goes on.
                TRACE("CCapture::RecordCapturedData: pWaveFile->Write failed err = 0x%x", (unsigned)hr);
                StopRecordingToFile();
                TRACE("CCapture::RecordCapturedData: recording stopped, the file keeps what was written");
            }
        }
        m_dwNextReadOffset = (m_dwNextReadOffset + adwBytes[part]) % m_dwBufferSize;
    }
    m_pBuffer->Unlock(lock);
    if (pdwTenths != nullptr)
        *pdwTenths = dwLockSize / m_dwNotifySize;
    return 0;
}

long CCapture::ListenAhead(std::string* pDigits) {
    if (pDigits != nullptr)
        pDigits->clear();
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    if (!m_bListenAhead || !m_pBuffer)
        return 1;
    DWORD dwCapturePos = 0;
    DWORD dwReadPos = 0;
    HRESULT hr = m_pBuffer->GetCurrentPosition(&dwCapturePos, &dwReadPos);
    if (FAILED(hr)) {
        TRACE("CCapture::ListenAhead: pDSBCapture->GetCurrentPosition failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    // Only the tenth not yet taken: later ones are heard with their take, in order.
    const DWORD dwAvailable = (dwReadPos + m_dwBufferSize - m_dwNextReadOffset) % m_dwBufferSize;
    DWORD dwEnd = std::min(dwAvailable, m_dwNotifySize);
    dwEnd -= dwEnd % kListenBlockBytes;
    if (dwEnd <= m_dwHeardAhead)
        return 1;
    AudioLock lock;
    const DWORD dwFrom = (m_dwNextReadOffset + m_dwHeardAhead) % m_dwBufferSize;
    hr = m_pBuffer->Lock(dwFrom, dwEnd - m_dwHeardAhead, &lock);
    if (FAILED(hr)) {
        TRACE("CCapture::ListenAhead: pDSBCapture->Lock failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    void* const apParts[2] = {lock.pPart1, lock.pPart2};
    const DWORD adwBytes[2] = {lock.dwBytes1, lock.dwBytes2};
    for (int part = 0; part < 2; ++part) {
        if (apParts[part] == nullptr || adwBytes[part] == 0 || !m_pDetector)
            continue;
        char aFound[kMaxDigits];
        const uint32_t uFound = m_pDetector->DetectDigits(static_cast<const int16_t*>(apParts[part]),
                                                          adwBytes[part] / 2, aFound, kMaxDigits);
        m_EarlyDigits.append(aFound, uFound);
        if (pDigits != nullptr)
            pDigits->append(aFound, uFound);
    }
    m_pBuffer->Unlock(lock);
    m_dwHeardAhead = dwEnd;
    return 0;
}

DWORD CCapture::GetEarlyDigitCount() const {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    return m_dwEarlyDigitCount;
}

HRESULT CCapture::StartRecordingToFile(const char* pszPath) {
    TRACE("CCapture::StartRecordingToFile %s", pszPath != nullptr ? pszPath : "(null)");
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    if (m_pWaveFile)
        return kAlreadyRecording;
    WAVEFORMATEX wfx = m_wfxCapture;
    if (m_pBuffer && FAILED(m_pBuffer->GetFormat(&wfx)))
        wfx = m_wfxCapture;
    // A writer that failed to open is not kept: it would refuse every later recording.
    auto pWaveFile = std::make_unique<CRiffWave>();
    HRESULT hr = pWaveFile->Open(pszPath, &wfx, CRiffWave::kModeWrite);
    if (SUCCEEDED(hr)) {
        m_pWaveFile = std::move(pWaveFile);
        m_bRecordingToFile = true;
        m_dwRecordedBytes = 0;
        m_dwRecordedLoudestRms = 0;
    }
    return hr;
}

void CCapture::StopRecordingToFile() {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    m_bRecordingToFile = false;
    if (m_pWaveFile) {
        m_pWaveFile->Close();
        m_pWaveFile.reset();
    }
}

DWORD CCapture::GetRecordedBytes() const {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    return m_dwRecordedBytes;
}

DWORD CCapture::GetRecordedLoudestRms() const {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    return m_dwRecordedLoudestRms;
}

bool CCapture::IsRecordingToFile() const {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    return m_bRecordingToFile;
}

std::string CCapture::GetDigits() const {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    return std::string(m_szDigits, m_dwDigitCount);
}

DWORD CCapture::GetDigitCount() const {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    return m_dwDigitCount;
}

void CCapture::SetDigitsMasked(bool bMasked) {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    if (m_pDetector) {
        m_pDetector->SetDigitsMasked(bMasked);
    }
}

DWORD CCapture::GetBufferSize() const {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    return m_dwBufferSize;
}

DWORD CCapture::GetNotifySize() const {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    return m_dwNotifySize;
}

DWORD CCapture::GetNextReadOffset() const {
    std::lock_guard<std::recursive_mutex> guard(m_Lock);
    return m_dwNextReadOffset;
}
