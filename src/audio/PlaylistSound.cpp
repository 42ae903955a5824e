#include "audio/PlaylistSound.h"

#include "base/trace/Trace.h"

#include <algorithm>
#include <cstring>

CPlaylistSound::CPlaylistSound(std::unique_ptr<IPlaybackBuffer> pBuffer, HANDLE hNotifyEvent)
    // Until the buffer says otherwise, it is what CSoundManager asks for.
    : m_pBuffer(std::move(pBuffer)), m_hNotifyEvent(hNotifyEvent), m_wfx(TelephonePcmFormat()) {}

CPlaylistSound::~CPlaylistSound() {
    if (m_pBuffer)
        m_pBuffer->Stop();
}

HRESULT CPlaylistSound::Initialize() {
    if (!m_pBuffer)
        return CO_E_NOTINITIALIZED;
    WAVEFORMATEX wfx{};
    HRESULT hr = m_pBuffer->GetFormat(&wfx);
    if (FAILED(hr)) {
        TRACE("CPlaylistSound::Initialize: GetFormat failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    m_wfx = wfx;

    hr = m_pBuffer->AcquireNotify();
    if (FAILED(hr)) {
        TRACE("CPlaylistSound::Initialize: QueryInterface(IDirectSoundNotify) failed err = 0x%x",
              (unsigned)hr);
        return hr;
    }
    for (DWORD k = 0; k < kSegmentCount; ++k) {
        m_aPositions[k].dwOffset = (k + 1) * kSegmentBytes - 1;
        m_aPositions[k].hEventNotify = m_hNotifyEvent;
    }
    hr = m_pBuffer->SetNotificationPositions(kSegmentCount, m_aPositions);
    if (FAILED(hr))
        TRACE("CPlaylistSound::Initialize: SetNotificationPositions failed err = 0x%x", (unsigned)hr);
    return hr;
}

void CPlaylistSound::ResetStream(const std::vector<std::string>* pList, bool bListEnded) {
    m_pBuffer->Stop();
    m_dwTotal = 0;
    m_dwTotalBeforeCurrent = 0;
    m_dwProgress = 0;
    m_pList = pList;
    m_uNextFile = 0;
    m_bListEnded = bListEnded;
    m_bFinished = false;
    // Whatever played before must not go on when the new list has nothing to play.
    m_Reader.Close();
}

HRESULT CPlaylistSound::PlayList(const std::vector<std::string>* pList) {
    if (!m_pBuffer)
        return CO_E_NOTINITIALIZED;
    ResetStream(pList, false);
    if (!OpenNextFile())
        m_bListEnded = true;
    return StartStream();
}

HRESULT CPlaylistSound::PlayFile(const char* pszFileName) {
    if (!m_pBuffer)
        return CO_E_NOTINITIALIZED;
    ResetStream(nullptr, true); // one file, nothing after it
    if (pszFileName != nullptr && OpenPlayable(pszFileName))
        m_dwTotal = m_Reader.GetSize();
    return StartStream();
}

HRESULT CPlaylistSound::PlayBackground() {
    return PlayFile(m_strBackgroundFile.c_str());
}

HRESULT CPlaylistSound::Stop() {
    if (!m_pBuffer)
        return CO_E_NOTINITIALIZED;
    return m_pBuffer->Stop();
}

// Opens a file for the stream: only one in the stream's own format, since its bytes go to
// the buffer as they are (a file at another rate or of another kind would play as noise).
bool CPlaylistSound::OpenPlayable(const char* pszFileName) {
    m_Reader.Close();
    if (FAILED(m_Reader.Open(pszFileName, nullptr, CRiffWave::kModeRead)))
        return false;
    const WAVEFORMATEX* pFormat = m_Reader.GetFormat();
    if (pFormat == nullptr || pFormat->wFormatTag != WAVE_FORMAT_PCM ||
        pFormat->nChannels != m_wfx.nChannels || pFormat->nSamplesPerSec != m_wfx.nSamplesPerSec ||
        pFormat->wBitsPerSample != m_wfx.wBitsPerSample) {
        TRACE("CPlaylistSound: %s is not %lu Hz %u-bit %s PCM: not played", pszFileName,
              (unsigned long)m_wfx.nSamplesPerSec, (unsigned)m_wfx.wBitsPerSample,
              m_wfx.nChannels == 1 ? "mono" : "stereo");
        m_Reader.Close();
        return false;
    }
    return true;
}

bool CPlaylistSound::OpenNextFile() {
    if (m_pList == nullptr || m_uNextFile >= m_pList->size())
        return false;
    const std::string& name = (*m_pList)[m_uNextFile++];
    if (!OpenPlayable(name.c_str()))
        return false;
    m_dwTotalBeforeCurrent = m_dwTotal;
    m_dwTotal += m_Reader.GetSize();
    m_bSilence = false;
    return true;
}

// The current file has ended: go on with the next one of the list, if there is one. The
// silence that fills the last segment of the file is played before the next file, so it
// counts with the total: otherwise a list of several files would be finished early by
// up to a segment per file, and whatever is played next would cut the last file short.
void CPlaylistSound::EndOfFileReached() {
    if (m_bListEnded)
        return;
    const DWORD dwPad = m_dwPadding;
    if (OpenNextFile()) {
        m_dwTotal += dwPad;
        m_dwTotalBeforeCurrent += dwPad;
    } else {
        m_bListEnded = true;
    }
}

// Plays the current file from its start, from the start of the buffer.
HRESULT CPlaylistSound::StartStream() {
    HRESULT hr = RestoreBuffer();
    if (FAILED(hr))
        return hr;
    m_dwNextWriteOffset = 0;
    m_dwLastPlayPosition = 0;
    m_bSilence = !m_Reader.IsOpen();
    if (m_Reader.IsOpen() && FAILED(m_Reader.ResetFile()))
        m_bSilence = true;
    hr = m_pBuffer->SetCurrentPosition(0);
    if (FAILED(hr)) {
        TRACE("CPlaylistSound: SetCurrentPosition failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    hr = FillWholeBuffer();
    if (FAILED(hr))
        return hr;
    hr = m_pBuffer->StartLooping();
    if (FAILED(hr))
        TRACE("CPlaylistSound: Play failed err = 0x%x", (unsigned)hr);
    return hr;
}

// Writes the lead from the start of the buffer, segment by segment exactly as the
// notifications will go on (so that files shorter than a segment follow one another at the
// next segment boundary), and silences the rest.
HRESULT CPlaylistSound::FillWholeBuffer() {
    m_dwNextWriteOffset = 0;
    for (DWORD k = 0; k < kAheadSegments; ++k) {
        const HRESULT hr = WriteNextSegment(false);
        if (FAILED(hr))
            return hr;
    }
    SilenceUpTo(0);
    return S_OK;
}

HRESULT CPlaylistSound::WriteNextSegment(bool bLoop) {
    AudioLock lock;
    HRESULT hr = m_pBuffer->Lock(m_dwNextWriteOffset, kSegmentBytes, &lock);
    if (FAILED(hr)) {
        TRACE("CPlaylistSound: Lock failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    if (lock.pPart2 != nullptr || lock.dwBytes1 != kSegmentBytes) {
        // Segments never wrap: the write offset has gone off its boundary.
        m_pBuffer->Unlock(lock);
        return E_UNEXPECTED;
    }
    FillSegment(static_cast<BYTE*>(lock.pPart1), kSegmentBytes, bLoop);
    m_pBuffer->Unlock(lock);
    if (m_bSilence)
        EndOfFileReached();
    m_dwNextWriteOffset = (m_dwNextWriteOffset + kSegmentBytes) % kBufferBytes;
    return S_OK;
}

void CPlaylistSound::SilenceUpTo(DWORD dwEnd) {
    const DWORD dwBytes = (dwEnd + kBufferBytes - m_dwNextWriteOffset) % kBufferBytes;
    AudioLock lock;
    if (dwBytes == 0 || FAILED(m_pBuffer->Lock(m_dwNextWriteOffset, dwBytes, &lock)))
        return;
    if (lock.pPart1 != nullptr)
        FillSilence(static_cast<BYTE*>(lock.pPart1), lock.dwBytes1);
    if (lock.pPart2 != nullptr)
        FillSilence(static_cast<BYTE*>(lock.pPart2), lock.dwBytes2);
    m_pBuffer->Unlock(lock);
}

void CPlaylistSound::FillSilence(BYTE* p, DWORD dwBytes) const {
    std::memset(p, m_wfx.wBitsPerSample == 8 ? 128 : 0, dwBytes);
}

void CPlaylistSound::FillSegment(BYTE* pSegment, DWORD dwBytes, bool bLoop) {
    if (m_bSilence || !m_Reader.IsOpen()) {
        FillSilence(pSegment, dwBytes);
        m_bSilence = true;
        return;
    }
    auto read = [this](BYTE* p, DWORD n) {
        DWORD dwRead = 0;
        return SUCCEEDED(m_Reader.Read(p, n, &dwRead)) ? dwRead : 0;
    };
    DWORD dwDone = read(pSegment, dwBytes);
    while (bLoop && dwDone < dwBytes && m_Reader.GetSize() > 0) {
        if (FAILED(m_Reader.ResetFile()))
            break;
        const DWORD dwRead = read(pSegment + dwDone, dwBytes - dwDone);
        if (dwRead == 0)
            break;
        dwDone += dwRead;
    }
    if (dwDone < dwBytes) {
        FillSilence(pSegment + dwDone, dwBytes - dwDone);
        m_bSilence = true;
        m_dwPadding = dwBytes - dwDone;
    }
}

HRESULT CPlaylistSound::HandleNotification(bool bLoop) {
    if (!m_pBuffer)
        return CO_E_NOTINITIALIZED;

    DWORD dwStatus = 0;
    if (SUCCEEDED(m_pBuffer->GetStatus(&dwStatus)) && (dwStatus & DSBSTATUS_BUFFERLOST)) {
        TRACE("CPlaylistSound::HandleNotification: buffer lost, restoring");
        m_pBuffer->Stop();
        // The current file plays again from its start: what was heard of it no longer counts.
        // A stream that had finished stays silent.
        if (m_bFinished)
            m_Reader.Close();
        else
            m_dwProgress = std::min(m_dwProgress, m_dwTotalBeforeCurrent);
        return StartStream();
    }

    DWORD dwPlay = 0;
    HRESULT hr = m_pBuffer->GetCurrentPosition(&dwPlay, nullptr);
    if (FAILED(hr)) {
        TRACE("CPlaylistSound::HandleNotification: GetCurrentPosition failed err = 0x%x", (unsigned)hr);
        return hr;
    }
    dwPlay %= kBufferBytes;
    m_dwProgress += (dwPlay + kBufferBytes - m_dwLastPlayPosition) % kBufferBytes;
    m_dwLastPlayPosition = dwPlay;

    // What is written runs from the segment playing to the write offset.
    const DWORD dwPlaying = dwPlay - dwPlay % kSegmentBytes;
    DWORD dwAhead = (m_dwNextWriteOffset + kBufferBytes - dwPlaying) % kBufferBytes;
    if (dwAhead == 0 || dwAhead > kAheadSegments * kSegmentBytes) {
        // The cursor ran past the end of what was written: it plays silence. The stream
        // goes on after the segment playing, and the silence counts as played.
        const DWORD dwGap = (dwPlaying + kSegmentBytes + kBufferBytes - m_dwNextWriteOffset) % kBufferBytes;
        TRACE(
            "CPlaylistSound::HandleNotification: the writer came %u ms late, the stream goes on after silence",
            (unsigned)(dwGap * 1000 / m_wfx.nAvgBytesPerSec));
        SilenceUpTo(dwPlaying);
        if (!m_bListEnded || !m_bSilence) {
            m_dwTotal += dwGap;
            m_dwTotalBeforeCurrent += dwGap;
        }
        m_dwNextWriteOffset = (dwPlaying + kSegmentBytes) % kBufferBytes;
        dwAhead = kSegmentBytes;
    }
    for (; dwAhead < kAheadSegments * kSegmentBytes; dwAhead += kSegmentBytes) {
        hr = WriteNextSegment(bLoop);
        if (FAILED(hr))
            return hr;
    }
    SilenceUpTo(dwPlaying);

    if (m_bSilence && m_bListEnded)
        m_bFinished = m_dwProgress >= m_dwTotal;
    return S_OK;
}

HRESULT CPlaylistSound::RestoreBuffer() {
    DWORD dwStatus = 0;
    HRESULT hr = m_pBuffer->GetStatus(&dwStatus);
    if (FAILED(hr))
        return hr;
    for (DWORD dwAttempt = 0; dwStatus & DSBSTATUS_BUFFERLOST; ++dwAttempt) {
        if (dwAttempt == kRestoreAttempts) {
            TRACE("CPlaylistSound: the buffer stays lost after %u attempts to restore it",
                  (unsigned)dwAttempt);
            return DSERR_BUFFERLOST;
        }
        m_pBuffer->Restore();
        hr = m_pBuffer->GetStatus(&dwStatus);
        if (FAILED(hr))
            return hr;
        if (dwStatus & DSBSTATUS_BUFFERLOST)
            Sleep(kRestoreRetryMs);
    }
    return S_OK;
}
