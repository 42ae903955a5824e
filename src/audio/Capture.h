// CCapture: captures the adapter's sound input with DirectSound into a looping buffer of
// 2 s (8000 Hz, 16-bit mono), hands every captured tenth of a second to the DTMF detector
// and, while asked to, writes the same audio into a WAV file.
//
// The buffer signals the notification event every 1600 bytes (100 ms). The owner's thread
// (ThreadBody of a derived class, e.g. the IVR state machine) waits for it and calls
// RecordCapturedData, which takes every whole tenth of a second captured since the last
// call straight from the locked buffer, without copying. A thread held up for almost 2 s
// loses nothing.
//
// Digits: after each RecordCapturedData the digit buffer holds every digit the detector
// reported for the audio taken by that call, in order (up to kMaxDigits); a call that takes
// nothing leaves it empty, so no key is handed out twice. When the lock wraps the end of
// the buffer, the digits of both parts are kept, the first part's first.
//
// Listening ahead (SetListenAhead, before Initialize): the buffer also notifies at every
// 10 ms block, the detector's own, and ListenAhead feeds the detector each block of the
// tenth not yet taken as soon as it has been captured. A digit it reports is handed out at
// once, 20 ms after the key ended instead of at the end of its tenth; the take of that
// tenth does not hand it out again but counts it (GetEarlyDigitCount), and feeds the
// detector only what it has not heard yet. Every sample is still heard once, in order.
//
// Recording: a WAV write that fails (the disk is full) ends the recording there: the file
// is closed with what reached the disk, the failure traced, and capturing goes on as if no
// file had been asked for. The audio of that call is taken all the same, so the detector
// hears every tenth of a second once.
//
// Threads: Initialize, StartCapture, StopCapture and destruction come from the owner's
// thread; RecordCapturedData runs on the capture thread and also inside
// StartOrStopRecord(stop). m_Lock guards the capture buffer, the read offset, the WAV
// writer and the digit buffer, so a recording may be started and stopped from either
// thread. A derived class whose ThreadBody uses its own members stops the thread
// (StopCapture, then WaitForThreadDone) in its own destructor.
#pragma once

#include "audio/AudioBuffer.h"
#include "audio/DTMFDetectorEnvelope.h"
#include "audio/RiffWave.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

class CCapture {
public:
    static constexpr DWORD kNotifyCount = 20;
    static constexpr DWORD kListenBlockBytes = 160; // 10 ms: a block of the DTMF detector
    static constexpr DWORD kMaxPositions = 200;     // the 2 s buffer in 10 ms blocks
    static constexpr DWORD kMaxDigits = 5;
    static constexpr uint32_t kMinToneMs = 40;
    static constexpr DWORD kDirectX8 = 0x80000;
    // StartRecordingToFile while a file is being written.
    static constexpr HRESULT kAlreadyRecording = HRESULT_FROM_WIN32(ERROR_BUSY);

    CCapture();
    virtual ~CCapture();
    CCapture(const CCapture&) = delete;
    CCapture& operator=(const CCapture&) = delete;

    // Opens the capture device (null or all zero: the default one) with DirectSound.
    // hNotifyEvent (not owned) is signalled at every notification position. Returns 0 or
    // a negative error.
    long Initialize(const GUID* pDevice, HANDLE hNotifyEvent, DWORD dwDirectXVersion);
    // The same on a given device.
    long Initialize(std::unique_ptr<ICaptureDevice> pDevice, HANDLE hNotifyEvent, DWORD dwDirectXVersion);

    // Starts the thread running ThreadBody, then capturing into a fresh buffer. A thread
    // that was asked to stop and is still ending is waited for first.
    HRESULT StartCapture();
    // Stops capturing (what was captured is taken, the WAV file closed), then asks the
    // thread to end and wakes it.
    HRESULT StopCapture();
    HRESULT StartOrStopRecord(bool bStart);
    // For a buffer that has stopped notifying: it is stopped (the whole tenths it still
    // holds are taken, into the file as well) and a fresh one captures in its place, from
    // its offset 0. A WAV file being written stays open and goes on with the new audio.
    HRESULT RestartCapture();

    // 0: data were taken; 1: less than a tenth of a second was there, or no buffer;
    // negative: a failure. *pdwTenths (when given) is set to the number of tenths of a
    // second (notify sizes) taken, 0 unless the result is 0: a thread that woke late takes
    // several at once and can still count one tick per tenth.
    // dwMaxTenths (0: no limit) takes at most that many tenths, the oldest; the rest waits
    // for the next call. A dialogue takes one at a time, so that what it writes to a file
    // stops at the tenth at which it stops the recording.
    long RecordCapturedData(DWORD* pdwTenths = nullptr, DWORD dwMaxTenths = 0);

    // Before Initialize: notify every 10 ms and let ListenAhead hear the tenth not yet taken.
    void SetListenAhead(bool bListenAhead) { m_bListenAhead = bListenAhead; }
    // Feeds the detector every whole 10 ms block captured of the tenth not yet taken that it
    // has not heard; the digits it reports are put into *pDigits (emptied first), in order,
    // and are not handed out again by the take of that tenth. 0: blocks were heard; 1:
    // nothing new (or not listening ahead, or no buffer); negative: a failure.
    long ListenAhead(std::string* pDigits);
    // Of the last RecordCapturedData: the digits of its tenths that ListenAhead had handed
    // out already (GetDigits holds only the others).
    DWORD GetEarlyDigitCount() const;

    HRESULT StartRecordingToFile(const char* pszPath);
    void StopRecordingToFile();
    // Of the recording going on or the last one: bytes written, and the loudest 10 ms of it
    // (root mean square of the samples), to tell a message from the line's silence.
    DWORD GetRecordedBytes() const;
    DWORD GetRecordedLoudestRms() const;
    bool IsRecordingToFile() const;

    // The digits found by the last RecordCapturedData, in order, and their count. Copies,
    // taken under the lock: safe from any thread.
    std::string GetDigits() const;
    DWORD GetDigitCount() const;
    // The detector's traces show digit keys as '*' while set (DTMFDetectorEnvelope). From the
    // thread that takes the captured data.
    void SetDigitsMasked(bool bMasked);

    DWORD GetBufferSize() const;
    DWORD GetNotifySize() const;
    DWORD GetNextReadOffset() const;

protected:
    // The capture thread's work; returns when IsStopRequested(). Empty here.
    virtual void ThreadBody() {}
    bool IsStopRequested() const { return m_bStop.load(); }
    HANDLE GetNotificationEvent() const { return m_hNotifyEvent; }
    // Waits, without time-out, until a started thread has left ThreadBody.
    void WaitForThreadDone();

private:
    static DWORD WINAPI ThreadProc(void* pParam);
    long InitializeOnDevice(std::unique_ptr<ICaptureDevice> pDevice, HANDLE hNotifyEvent,
                            DWORD dwDirectXVersion);
    HRESULT CreateCaptureBuffer();
    HRESULT InitNotifications();
    void ReleaseBuffer();

    HANDLE m_hNotifyEvent = nullptr;
    HANDLE m_hThreadDone = nullptr;
    HANDLE m_hThread = nullptr;
    DWORD m_dwThreadId = 0;
    std::atomic<bool> m_bStop{false};
    char m_szDigits[kMaxDigits] = {};
    DWORD m_dwDigitCount = 0;
    std::unique_ptr<DTMFDetectorEnvelope> m_pDetector;
    DWORD m_dwDirectXVersion = 0;
    std::unique_ptr<ICaptureDevice> m_pDevice;
    std::unique_ptr<IAudioBuffer> m_pBuffer; // with its notify interface
    WAVEFORMATEX m_wfxCapture{};
    DSBPOSITIONNOTIFY m_aPositions[kMaxPositions]{};
    DWORD m_dwBufferSize = 0;
    DWORD m_dwNextReadOffset = 0;
    DWORD m_dwNotifySize = 0;
    std::unique_ptr<CRiffWave> m_pWaveFile;
    bool m_bRecordingToFile = false;
    DWORD m_dwRecordedBytes = 0;
    DWORD m_dwRecordedLoudestRms = 0;
    bool m_bListenAhead = false;
    DWORD m_dwHeardAhead = 0;      // bytes of the tenth not yet taken the detector has heard
    std::string m_EarlyDigits;     // digits of that tenth handed out by ListenAhead
    DWORD m_dwEarlyDigitCount = 0; // of the last take
    bool m_bComInitialized = false;
    mutable std::recursive_mutex m_Lock;
};
