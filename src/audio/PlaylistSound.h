// CPlaylistSound: the IVR's one continuously playing stream. A looping playback buffer of
// 2 s (20 segments of 100 ms at 8000 Hz, 16-bit mono) signals the state machine's playback
// event at the last byte of every segment. The writer keeps the segment playing and the
// kAheadSegments - 1 after it written (700 ms in all: a writer held up by 50 ms, or whose
// signals came together, has more than half a second to spare) and the rest of the ring
// silent. HandleNotification goes by the play position, not by the count of signals: it
// writes every segment the cursor has made room for, and silences those played. A writer
// later than its lead leaves the cursor in silence, never in old audio; the stream then
// goes on after that silence (traced), counted as played, so that it still ends in time.
//
// What plays is a list of WAV files (a prompt), one file (PlayFile) or the background
// sound. Files are taken byte for byte, so only 8000 Hz 16-bit mono PCM files are played;
// any other (traced) counts as a file that cannot be opened. A file that
// ends part-way through a segment is followed by silence to the end of that segment and the
// next file of the list starts at the next segment boundary. A file that cannot be opened
// ends the list there. After the last file the buffer keeps playing silence; the stream is
// finished at the first notification after the last byte of the last file was played.
//
// A lost buffer is restored and refilled from the start of the current file.
//
// Threads: every call comes from the owning state machine's thread.
#pragma once

#include "audio/AudioBuffer.h"
#include "audio/RiffWave.h"

#include <memory>
#include <string>
#include <vector>

class CPlaylistSound {
public:
    static constexpr DWORD kSegmentCount = 20;
    static constexpr DWORD kSegmentBytes = 1600; // 100 ms of 8000 Hz 16-bit mono
    static constexpr DWORD kBufferBytes = kSegmentCount * kSegmentBytes;
    static constexpr DWORD kAheadSegments = 7;     // written from the one playing on
    static constexpr DWORD kRestoreAttempts = 100; // 10 ms apart: give up after about 1 s
    static constexpr DWORD kRestoreRetryMs = 10;

    // hNotifyEvent (not owned) is signalled at the end of every segment.
    CPlaylistSound(std::unique_ptr<IPlaybackBuffer> pBuffer, HANDLE hNotifyEvent);
    ~CPlaylistSound();
    CPlaylistSound(const CPlaylistSound&) = delete;
    CPlaylistSound& operator=(const CPlaylistSound&) = delete;

    // Reads the buffer's format back and installs the 20 notification positions.
    HRESULT Initialize();

    // Streams the files of *pList (kept by the caller, read as playing goes on) from the
    // first one; restarts the buffer from its start.
    HRESULT PlayList(const std::vector<std::string>* pList);
    // Streams one file; a file that cannot be opened plays as silence.
    HRESULT PlayFile(const char* pszFileName);
    HRESULT PlayBackground();
    // Refills the segment just played. bLoop: a file that ends starts again.
    HRESULT HandleNotification(bool bLoop = false);
    HRESULT Stop();

    void SetBackgroundFile(const std::string& name) { m_strBackgroundFile = name; }
    const std::string& GetBackgroundFile() const { return m_strBackgroundFile; }
    bool IsFinished() const { return m_bFinished; }
    DWORD GetProgress() const { return m_dwProgress; }
    DWORD GetTotal() const { return m_dwTotal; }

private:
    // Stops the buffer and forgets what played before; the stream starts over.
    void ResetStream(const std::vector<std::string>* pList, bool bListEnded);
    HRESULT StartStream();
    HRESULT FillWholeBuffer();
    void FillSegment(BYTE* pSegment, DWORD dwBytes, bool bLoop);
    // The next segment of the stream at the write offset; the offset moves on.
    HRESULT WriteNextSegment(bool bLoop);
    // Silence from the write offset up to dwEnd (what was played and is not written anew).
    void SilenceUpTo(DWORD dwEnd);
    void FillSilence(BYTE* p, DWORD dwBytes) const;
    bool OpenPlayable(const char* pszFileName);
    bool OpenNextFile();
    void EndOfFileReached();
    HRESULT RestoreBuffer();

    std::unique_ptr<IPlaybackBuffer> m_pBuffer;
    HANDLE m_hNotifyEvent;
    DSBPOSITIONNOTIFY m_aPositions[kSegmentCount]{};
    CRiffWave m_Reader;
    WAVEFORMATEX m_wfx{};
    DWORD m_dwNextWriteOffset = 0; // the end of what is written ahead of the cursor
    DWORD m_dwLastPlayPosition = 0;
    DWORD m_dwProgress = 0;           // bytes played since the stream started
    DWORD m_dwTotal = 0;              // bytes of every file opened since then, and the
                                      // silence between them
    DWORD m_dwTotalBeforeCurrent = 0; // of those, what comes before the current file
    DWORD m_dwPadding = 0;            // silence after the end of the current file
    bool m_bSilence = false;          // the current file has ended
    const std::vector<std::string>* m_pList = nullptr;
    size_t m_uNextFile = 0;
    bool m_bListEnded = false;
    bool m_bFinished = true; // nothing started is nothing playing
    std::string m_strBackgroundFile;
};
