#include "audio/RiffWave.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');

constexpr DWORD kPcmFormatBytes = 16; // PCMWAVEFORMAT: WAVEFORMATEX without cbSize
constexpr DWORD kFormatExBytes = 18;  // WAVEFORMATEX up to and with cbSize
constexpr DWORD kFactWhileWriting = 0xFFFFFFFF;
constexpr DWORD kFactAfterClose = 0;
constexpr DWORD kRiffSizeOffset = 4;

bool WriteDwordAt(HANDLE hFile, DWORD dwOffset, DWORD dwValue) {
    DWORD dwDone = 0;
    return SetFilePointer(hFile, static_cast<LONG>(dwOffset), nullptr, FILE_BEGIN) !=
               INVALID_SET_FILE_POINTER &&
           WriteFile(hFile, &dwValue, sizeof dwValue, &dwDone, nullptr) && dwDone == sizeof dwValue;
}

// Checks a written file, closed by the RIFF functions, against what was given to it, and
// makes it whole when it holds less (or when the RIFF functions could not finish it): the
// data that reached the disk, in whole blocks, with their sizes and "fact" 0, and nothing
// after them. Only bytes already on the disk are overwritten, and the file only shrinks,
// so this works on a full disk.
HRESULT CheckWrittenFile(const std::string& name, DWORD dwDataOffset, DWORD dwFactOffset, DWORD dwGiven,
                         DWORD dwBlockAlign, bool bFinished) {
    HANDLE hFile = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return bFinished ? S_OK : E_FAIL; // a finished file that cannot be checked stands as it is
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(hFile, &size) || size.QuadPart < dwDataOffset) {
        CloseHandle(hFile); // not even the header is there
        return E_FAIL;
    }
    const ULONGLONG ullOnDisk = static_cast<ULONGLONG>(size.QuadPart) - dwDataOffset;
    const DWORD dwPad = dwGiven & 1;
    if (bFinished && ullOnDisk >= static_cast<ULONGLONG>(dwGiven) + dwPad) {
        CloseHandle(hFile);
        return S_OK;
    }
    DWORD dwKept = static_cast<DWORD>(std::min<ULONGLONG>(ullOnDisk, dwGiven));
    dwKept -= dwKept % std::max<DWORD>(dwBlockAlign, 1);
    dwKept &= ~1u; // an even size needs no pad byte
    const DWORD dwEnd = dwDataOffset + dwKept;
    const bool bWhole =
        WriteDwordAt(hFile, dwDataOffset - sizeof(DWORD), dwKept) &&
        WriteDwordAt(hFile, kRiffSizeOffset, dwEnd - 2 * sizeof(DWORD)) &&
        WriteDwordAt(hFile, dwFactOffset, kFactAfterClose) &&
        SetFilePointer(hFile, static_cast<LONG>(dwEnd), nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        SetEndOfFile(hFile);
    CloseHandle(hFile);
    if (!bWhole)
        return E_FAIL;
    return dwKept < dwGiven ? CRiffWave::kDataLost : S_OK;
}

} // namespace

CRiffWave::CRiffWave() = default;

CRiffWave::~CRiffWave() {
    Close();
}

const WAVEFORMATEX* CRiffWave::GetFormat() const {
    if (m_Format.size() < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(m_Format.data());
}

HRESULT CRiffWave::Open(const char* pszFileName, const WAVEFORMATEX* pFormat, DWORD dwMode) {
    Close();
    if (dwMode != kModeRead && dwMode != kModeWrite)
        return E_INVALIDARG;
    if (pszFileName == nullptr || (dwMode == kModeWrite && pFormat == nullptr))
        return E_INVALIDARG;

    m_dwMode = dwMode;
    if (dwMode == kModeRead) {
        // The agent carries no wave resources: a file that cannot be opened is missing.
        m_hmmio = mmioOpenA(const_cast<char*>(pszFileName), nullptr, MMIO_ALLOCBUF | MMIO_READ);
        if (m_hmmio == nullptr) {
            m_dwMode = 0;
            return E_FAIL;
        }
        HRESULT hr = ReadHeader();
        if (FAILED(hr)) {
            ReleaseFile();
            return hr;
        }
        return S_OK;
    }

    m_hmmio =
        mmioOpenA(const_cast<char*>(pszFileName), nullptr, MMIO_ALLOCBUF | MMIO_READWRITE | MMIO_CREATE);
    if (m_hmmio == nullptr) {
        m_dwMode = 0;
        return E_FAIL;
    }
    m_strFileName = pszFileName;
    HRESULT hr = WriteHeader(*pFormat);
    if (SUCCEEDED(hr))
        hr = ResetFile();
    if (FAILED(hr)) {
        ReleaseFile();
        return hr;
    }
    return S_OK;
}

HRESULT CRiffWave::ReadHeader() {
    if (mmioDescend(m_hmmio, &m_ckRiff, nullptr, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (m_ckRiff.ckid != FOURCC_RIFF || m_ckRiff.fccType != kWave)
        return E_FAIL;

    MMCKINFO ckFmt{};
    ckFmt.ckid = kFmt;
    if (mmioDescend(m_hmmio, &ckFmt, &m_ckRiff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (ckFmt.cksize < kPcmFormatBytes)
        return E_FAIL;

    PCMWAVEFORMAT pcm{};
    if (mmioRead(m_hmmio, reinterpret_cast<HPSTR>(&pcm), kPcmFormatBytes) !=
        static_cast<LONG>(kPcmFormatBytes))
        return E_FAIL;

    WORD cbExtra = 0;
    if (pcm.wf.wFormatTag != WAVE_FORMAT_PCM && ckFmt.cksize >= kFormatExBytes) {
        // A non-PCM "fmt " of only 16 bytes has no extra size: the two bytes after it
        // belong to the next chunk's name and must not be taken for one.
        if (mmioRead(m_hmmio, reinterpret_cast<HPSTR>(&cbExtra), sizeof cbExtra) != sizeof cbExtra)
            return E_FAIL;
        if (cbExtra > ckFmt.cksize - kFormatExBytes)
            return E_FAIL;
    }

    m_Format.assign(sizeof(WAVEFORMATEX) + cbExtra, 0);
    auto* pwfx = reinterpret_cast<WAVEFORMATEX*>(m_Format.data());
    std::memcpy(pwfx, &pcm, kPcmFormatBytes);
    pwfx->cbSize = cbExtra;
    if (cbExtra > 0 && mmioRead(m_hmmio, reinterpret_cast<HPSTR>(m_Format.data() + sizeof(WAVEFORMATEX)),
                                cbExtra) != cbExtra)
        return E_FAIL;

    if (mmioAscend(m_hmmio, &ckFmt, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    return ResetFile();
}

HRESULT CRiffWave::WriteHeader(const WAVEFORMATEX& format) {
    const bool bPcm = format.wFormatTag == WAVE_FORMAT_PCM;
    const WORD cbExtra = bPcm ? 0 : format.cbSize;
    const DWORD cbFormat = bPcm ? kPcmFormatBytes : kFormatExBytes + cbExtra;
    m_Format.assign(sizeof(WAVEFORMATEX) + cbExtra, 0);
    std::memcpy(m_Format.data(), &format, sizeof(WAVEFORMATEX) + cbExtra);
    reinterpret_cast<WAVEFORMATEX*>(m_Format.data())->cbSize = cbExtra;

    m_ckRiff = MMCKINFO{};
    m_ckRiff.fccType = kWave;
    if (mmioCreateChunk(m_hmmio, &m_ckRiff, MMIO_CREATERIFF) != MMSYSERR_NOERROR)
        return E_FAIL;

    MMCKINFO ck{};
    ck.ckid = kFmt;
    ck.cksize = cbFormat;
    if (mmioCreateChunk(m_hmmio, &ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (mmioWrite(m_hmmio, reinterpret_cast<const char*>(m_Format.data()), cbFormat) !=
        static_cast<LONG>(cbFormat))
        return E_FAIL;
    if (mmioAscend(m_hmmio, &ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;

    ck = MMCKINFO{};
    ck.ckid = kFact;
    ck.cksize = sizeof(DWORD);
    if (mmioCreateChunk(m_hmmio, &ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    m_dwFactOffset = ck.dwDataOffset;
    const DWORD dwCount = kFactWhileWriting;
    if (mmioWrite(m_hmmio, reinterpret_cast<const char*>(&dwCount), sizeof dwCount) != sizeof dwCount)
        return E_FAIL;
    if (mmioAscend(m_hmmio, &ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    return S_OK;
}

HRESULT CRiffWave::ResetFile() {
    if (m_hmmio == nullptr)
        return CO_E_NOTINITIALIZED;

    if (m_dwMode == kModeRead) {
        // Back to just after the form type, then look for "data" from there.
        if (mmioSeek(m_hmmio, m_ckRiff.dwDataOffset + sizeof(FOURCC), SEEK_SET) == -1)
            return E_FAIL;
        m_ck = MMCKINFO{};
        m_ck.ckid = kData;
        if (mmioDescend(m_hmmio, &m_ck, &m_ckRiff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR)
            return E_FAIL;
        m_dwSize = m_ck.cksize;
        m_dwLeft = m_ck.cksize;
        return S_OK;
    }

    if (m_bDataChunkOpen)
        return E_FAIL;
    m_ck = MMCKINFO{};
    m_ck.ckid = kData;
    if (mmioCreateChunk(m_hmmio, &m_ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (mmioGetInfo(m_hmmio, &m_mmioinfoOut, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    m_bDataChunkOpen = true;
    return S_OK;
}

HRESULT CRiffWave::Read(BYTE* pBuffer, DWORD dwSizeToRead, DWORD* pdwSizeRead) {
    if (pdwSizeRead != nullptr)
        *pdwSizeRead = 0;
    if (m_hmmio == nullptr || m_dwMode != kModeRead)
        return CO_E_NOTINITIALIZED;
    if (pBuffer == nullptr || dwSizeToRead == 0)
        return E_INVALIDARG;

    const DWORD dwWanted = std::min(dwSizeToRead, m_dwLeft);
    if (dwWanted == 0)
        return S_OK;
    const LONG lRead = mmioRead(m_hmmio, reinterpret_cast<HPSTR>(pBuffer), static_cast<LONG>(dwWanted));
    if (lRead < 0)
        return E_FAIL;
    // A "data" size beyond the end of a cut-off file ends the data where the file ends.
    m_dwLeft = lRead < static_cast<LONG>(dwWanted) ? 0 : m_dwLeft - static_cast<DWORD>(lRead);
    if (pdwSizeRead != nullptr)
        *pdwSizeRead = static_cast<DWORD>(lRead);
    return S_OK;
}

HRESULT CRiffWave::Write(UINT uSizeToWrite, const BYTE* pData, UINT* puSizeWritten) {
    if (puSizeWritten != nullptr)
        *puSizeWritten = 0;
    if (m_hmmio == nullptr || m_dwMode != kModeWrite || !m_bDataChunkOpen)
        return CO_E_NOTINITIALIZED;
    if (pData == nullptr && uSizeToWrite != 0)
        return E_INVALIDARG;
    m_dwDataGiven += uSizeToWrite;
    if (m_bWriteFailed)
        return E_FAIL;
    if (uSizeToWrite == 0)
        return S_OK;

    UINT uDone = 0;
    while (uDone < uSizeToWrite) {
        if (m_mmioinfoOut.pchNext == m_mmioinfoOut.pchEndWrite) {
            // The next buffer starts where this one ends on the disk. Wine's RIFF functions
            // report no failed flush, but the I/O procedure's disk offset then falls short.
            const LONG lFlushedEnd =
                m_mmioinfoOut.lBufOffset + static_cast<LONG>(m_mmioinfoOut.pchNext - m_mmioinfoOut.pchBuffer);
            m_mmioinfoOut.dwFlags |= MMIO_DIRTY;
            if (mmioAdvance(m_hmmio, &m_mmioinfoOut, MMIO_WRITE) != MMSYSERR_NOERROR ||
                m_mmioinfoOut.lBufOffset != lFlushedEnd) {
                m_bWriteFailed = true;
                return E_FAIL;
            }
            if (m_mmioinfoOut.pchNext == m_mmioinfoOut.pchEndWrite)
                return E_FAIL;
        }
        const UINT uRoom = static_cast<UINT>(m_mmioinfoOut.pchEndWrite - m_mmioinfoOut.pchNext);
        const UINT uCopy = std::min(uRoom, uSizeToWrite - uDone);
        std::memcpy(m_mmioinfoOut.pchNext, pData + uDone, uCopy);
        m_mmioinfoOut.pchNext += uCopy;
        uDone += uCopy;
        if (puSizeWritten != nullptr)
            *puSizeWritten = uDone;
    }
    return S_OK;
}

HRESULT CRiffWave::FinishWrittenFile() {
    if (!m_bDataChunkOpen)
        return E_FAIL;
    m_bDataChunkOpen = false;
    m_mmioinfoOut.dwFlags |= MMIO_DIRTY;
    if (mmioSetInfo(m_hmmio, &m_mmioinfoOut, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    // Ascending writes the final sizes of "data" and "RIFF".
    if (mmioAscend(m_hmmio, &m_ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (mmioAscend(m_hmmio, &m_ckRiff, 0) != MMSYSERR_NOERROR)
        return E_FAIL;

    // The file is complete: mark it so in "fact".
    if (mmioSeek(m_hmmio, 0, SEEK_SET) == -1)
        return E_FAIL;
    if (mmioDescend(m_hmmio, &m_ckRiff, nullptr, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    MMCKINFO ck{};
    ck.ckid = kFact;
    if (mmioDescend(m_hmmio, &ck, &m_ckRiff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR)
        return E_FAIL;
    const DWORD dwCount = kFactAfterClose;
    if (mmioWrite(m_hmmio, reinterpret_cast<const char*>(&dwCount), sizeof dwCount) != sizeof dwCount)
        return E_FAIL;
    if (mmioAscend(m_hmmio, &ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    return S_OK;
}

// Forgets what the I/O buffer holds, so that closing the file writes nothing more.
void CRiffWave::DropBuffer() {
    m_mmioinfoOut.pchNext = m_mmioinfoOut.pchBuffer;
    m_mmioinfoOut.pchEndRead = m_mmioinfoOut.pchBuffer;
    m_mmioinfoOut.dwFlags &= ~MMIO_DIRTY;
    mmioSetInfo(m_hmmio, &m_mmioinfoOut, 0);
    m_bDataChunkOpen = false;
}

HRESULT CRiffWave::Close() {
    if (m_hmmio == nullptr)
        return S_OK;
    if (m_dwMode != kModeWrite || !m_bDataChunkOpen) {
        ReleaseFile();
        return S_OK;
    }
    const std::string name = m_strFileName;
    const DWORD dwDataOffset = m_ck.dwDataOffset;
    const DWORD dwFactOffset = m_dwFactOffset;
    const DWORD dwGiven = m_dwDataGiven;
    const DWORD dwBlockAlign = GetFormat() != nullptr ? GetFormat()->nBlockAlign : 1;
    const bool bFinished = !m_bWriteFailed && SUCCEEDED(FinishWrittenFile());
    if (m_bDataChunkOpen)
        DropBuffer();
    ReleaseFile();
    return CheckWrittenFile(name, dwDataOffset, dwFactOffset, dwGiven, dwBlockAlign, bFinished);
}

void CRiffWave::ReleaseFile() {
    if (m_hmmio != nullptr) {
        if (m_bDataChunkOpen)
            mmioSetInfo(m_hmmio, &m_mmioinfoOut, 0);
        mmioClose(m_hmmio, 0);
    }
    m_hmmio = nullptr;
    m_dwMode = 0;
    m_bDataChunkOpen = false;
    m_bWriteFailed = false;
    m_dwDataGiven = 0;
    m_strFileName.clear();
    m_dwFactOffset = 0;
    m_mmioinfoOut = MMIOINFO{};
    m_ckRiff = MMCKINFO{};
    m_ck = MMCKINFO{};
    m_dwSize = 0;
    m_dwLeft = 0;
    m_Format.clear();
}
