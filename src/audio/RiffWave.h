// CRiffWave: reads and writes the IVR's RIFF/WAVE files through the Windows multimedia
// RIFF functions (mmio). It never converts sample formats: prompts are streamed byte for
// byte and captured audio is written as it comes.
//
// Files written here always have exactly four chunks, in this order:
//   "RIFF" <size> "WAVE"
//   "fmt " 16 (PCM) or 18 + extra size, then the format record
//   "fact" 4, then the sample count: 0xFFFFFFFF while writing, 0 after Close
//   "data" <bytes>, then the samples
// An empty PCM file closed properly is 56 bytes long with a RIFF size of 48. A file that
// was never closed keeps 0xFFFFFFFF in "fact" and wrong RIFF and "data" sizes, which is how
// a recording cut off by a crash can be told apart.
//
// A disk that fills while a file is written: the write that does not reach the disk fails
// (E_FAIL), and so does every later one. Close then makes the file whole with what did
// reach the disk: the samples written up to the failure (whole blocks), the sizes of
// "RIFF" and "data" that go with them and "fact" 0, the file cut just after them. Close
// checks the file on disk even when every write seemed to succeed, because an I/O layer
// may lose a flush silently (the last one, made by Close itself, or any under Wine).
//
// Reading accepts any RIFF/WAVE file: chunks other than "fmt " and "data" are skipped,
// and a non-PCM "fmt " chunk may carry extra format bytes.
//
// Results are Windows result codes: S_OK, E_INVALIDARG (missing name, buffer or format),
// E_FAIL (any failure of the RIFF functions; the file is closed again after a failed
// Open), CO_E_NOTINITIALIZED (no file open). Nothing throws.
//
// Threads: one object is used by one thread at a time.
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

#include <string>
#include <vector>

// The adapter's audio everywhere in the agent: 8000 Hz, 16-bit, mono PCM.
inline WAVEFORMATEX TelephonePcmFormat() {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 1;
    wfx.nSamplesPerSec = 8000;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 2;
    wfx.nAvgBytesPerSec = 16000;
    return wfx;
}

class CRiffWave {
public:
    enum OpenMode : DWORD {
        kModeRead = 1,
        kModeWrite = 2,
    };
    // Close of a written file that holds less than was given to it (the disk filled).
    static constexpr HRESULT kDataLost = HRESULT_FROM_WIN32(ERROR_DISK_FULL);

    CRiffWave();
    ~CRiffWave();
    CRiffWave(const CRiffWave&) = delete;
    CRiffWave& operator=(const CRiffWave&) = delete;

    // Read: opens the file, parses the header and stands at the first sample; pFormat is
    // ignored. Write: creates or truncates the file and writes the header for *pFormat
    // (required), leaving the "data" chunk open for Write.
    HRESULT Open(const char* pszFileName, const WAVEFORMATEX* pFormat, DWORD dwMode);
    // Read: closes the file. Write: flushes, fixes the chunk sizes, sets "fact" to 0 and
    // closes the file. S_OK when nothing was open. After a disk full: kDataLost when the
    // file was closed whole with less data than was given to Write, E_FAIL when not even
    // its header reached the disk.
    HRESULT Close();

    bool IsOpen() const { return m_hmmio != nullptr; }
    DWORD GetMode() const { return m_dwMode; }
    // Size of the "data" chunk found when the file was opened for reading.
    DWORD GetSize() const { return m_dwSize; }
    // The format record (extra bytes follow it); nullptr when no file is open.
    const WAVEFORMATEX* GetFormat() const;

    // Read: back to the first sample. Write: opens the "data" chunk; Open has done that
    // already, so a later call fails (E_FAIL) and leaves the file as it is.
    HRESULT ResetFile();
    // Copies up to dwSizeToRead bytes, never past the end of the "data" chunk. Fewer bytes
    // than asked (0 at the end) means the end of the data; that is not an error.
    HRESULT Read(BYTE* pBuffer, DWORD dwSizeToRead, DWORD* pdwSizeRead);
    // Appends to the "data" chunk through the I/O buffer. E_FAIL when a flush of the
    // buffer does not reach the disk; from then on every Write fails and Close keeps what
    // was on the disk before.
    HRESULT Write(UINT uSizeToWrite, const BYTE* pData, UINT* puSizeWritten);

private:
    HRESULT ReadHeader();
    HRESULT WriteHeader(const WAVEFORMATEX& format);
    HRESULT FinishWrittenFile();
    void DropBuffer();
    void ReleaseFile();

    std::vector<BYTE> m_Format; // WAVEFORMATEX followed by cbSize extra bytes
    DWORD m_dwMode = 0;
    HMMIO m_hmmio = nullptr;
    MMCKINFO m_ckRiff{};
    MMCKINFO m_ck{};               // the current chunk: "data" once positioned
    DWORD m_dwSize = 0;            // read mode: size of "data" at open
    DWORD m_dwLeft = 0;            // read mode: bytes of "data" not yet read
    MMIOINFO m_mmioinfoOut{};      // write mode: the I/O buffer state
    bool m_bDataChunkOpen = false; // write mode
    bool m_bWriteFailed = false;   // write mode: a flush did not reach the disk
    DWORD m_dwDataGiven = 0;       // write mode: bytes given to Write, written or not
    std::string m_strFileName;     // write mode: for the check of the file at Close
    DWORD m_dwFactOffset = 0;      // write mode: file offset of the "fact" count
};
