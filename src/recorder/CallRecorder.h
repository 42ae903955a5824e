// CCallRecorder: records the telephone calls that pass through the adapter into WAV files.
// The audio and the call events come from the adapter's recorder driver, the device
// "\\.\ovrecagentDevice0", reached through a DriverChannel (control code 0x222000, one
// buffer for the request and the answer: the 32-byte header, then the data):
//
//   0xF004 register         148 bytes: 1, 1, 0, 0, a 128-byte name area holding "VCLCTRL",
//                           then 4 bytes in which the driver returns the registration
//   0xF005 unregister       no data
//   0xF006 choose channels  144 bytes: 1, count, 0, 0, then the name area with the names
//                           one after another ("VCLCTRL" at 0, "VCLOG" at 8)
//   0xF003 read             the 32000-byte read buffer, filled with queued records
//
// Every request but the registration carries the registration in its first parameter.
// A request succeeds when the driver gave the whole buffer back with result 0.
//
// A record is a 40-byte header (channel name in 8 bytes, 1 at offset 8 for a valid
// control record, the payload length at offset 20) and its payload: a 32-bit call event
// first on "VCLCTRL", raw samples on "VCLOG". Records whose payload runs past the data
// end, and whatever follows them, are passed over; so are other channels.
//
// While idle the recorder takes "VCLCTRL" only; a recording (started by the recorder's
// user interface, the driver's start event, or a call start in automation mode) opens
// the next free file "Y_M_D__HH_MM_SS[__N].wav" in the recording directory, takes
// "VCLOG" too, and appends every audio payload. It stops on request, on the driver's stop
// or call-end event, or when the free space falls below the Stop threshold. The WAV
// header's two sizes are kept current after every poll that wrote audio and are written
// again when the file is finished, so a recording is complete at any moment: also when
// the agent ends, the disk fills, or the driver goes away in the middle of a call.
//
// Settings (HKLM\<root>\Recorder): Directory, AutomationMode, DontStartDiskSpaceThreshold
// and StopDiskSpaceThreshold; a value of another type counts as missing. A relative
// Directory is taken below the user's documents folder (where the default "Recordings"
// lives), once, when the settings are read: the recorder makes its folder the current
// directory, so a path resolved against that would wander deeper at every read.
//
// A read of the driver that fails ends the driver's use when the device is gone: the
// handle is dead (DriverChannel::LastRequestLostDevice), the device was removed under it
// (ERROR_ACCESS_DENIED on a handle pending deletion, ERROR_FILE_NOT_FOUND,
// ERROR_NO_SUCH_DEVICE, ERROR_GEN_FAILURE), or reads have failed kFailedReadsGone polls in
// a row. Any other failure yields nothing for that poll and the recording goes on. A
// driver gone is opened and registered again every kReconnectMs, so the recorder is back
// when the adapter is.
//
// Threads: GUI thread only. The main dialog's 200 ms timer polls it, the recorder
// interface's messages and the settings update come through the dialog's window, and the
// API client stops it on suspend from the same thread. No lock.
#pragma once

#include "base/trace/DriverChannel.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CCallRecorder {
public:
    static constexpr const char* kDeviceName = "ovrecagentDevice0";
    static constexpr uint32_t kCmdRead = 0xF003;
    static constexpr uint32_t kCmdRegister = 0xF004;
    static constexpr uint32_t kCmdUnregister = 0xF005;
    static constexpr uint32_t kCmdChooseChannels = 0xF006;
    static constexpr uint32_t kReadBufferSize = 32000;
    static constexpr uint32_t kReadAgainAbove = 16000; // a read that returned more is repeated
    static constexpr int kMaxReadsPerPoll = 50;        // a driver that always has more lets go
    static constexpr uint32_t kRecordHeaderSize = 40;
    static constexpr uint32_t kWavHeaderSize = 44;
    static constexpr DWORD kDefaultDontStart = 20000000; // bytes
    static constexpr DWORD kDefaultStop = 10000000;      // bytes
    static constexpr DWORD kMinCheckInterval = 5000000;  // bytes of audio between disk checks
    static constexpr int32_t kNoHandle = -1;
    static constexpr ULONGLONG kReconnectMs = 5000; // after the driver went away
    static constexpr DWORD kFailedReadsGone = 10;   // failed reads in a row (2 s of polls): gone

    // Call events, the first 32-bit value of a "VCLCTRL" payload.
    enum CallEvent : uint32_t {
        CET_START_RECORDING = 1,
        CET_STOP_RECORDING = 2,
        CET_LOCAL_CALL_STARTED = 3,
        CET_LOCAL_CALL_ENDED = 4,
        CET_PASS_THROUGH_CALL_STARTED = 5,
        CET_PASS_THROUGH_CALL_ENDED = 6,
    };
    // The recorder interface's commands (wParam of its registered message) and the
    // notification the recorder sends back (wParam 8, lParam 1 started or 2 stopped).
    enum GuiMessage : WPARAM {
        SESSION_RECORDER_MESSAGE_START = 1,
        SESSION_RECORDER_MESSAGE_STOP = 2,
        SESSION_RECORDER_GUI_ALIVE = 4,
        SESSION_RECORDER_NOTIFICATION = 8,
        SESSION_RECORDER_SETTINGS_UPDATE_MESSAGE = 16,
        SESSION_RECORDER_QUERY_RECORDING = 32,
    };
    static constexpr UINT kNotifyTimeoutMs = 2000; // a hung interface does not hold us

    // Who tells the adapter's service that a recording started (8) or stopped (9): the
    // API client's NotifyAgentStatus.
    using AgentStatusNotifier = std::function<void(int info)>;

    // Reads the settings under HKLM\<registryRoot>\Recorder, opens the driver and
    // registers on "VCLCTRL". Without the driver the recorder stays inert (but a start
    // request still makes a file). `deviceName` is for tests.
    explicit CCallRecorder(const std::string& registryRoot, const char* deviceName = kDeviceName);
    virtual ~CCallRecorder();
    CCallRecorder(const CCallRecorder&) = delete;
    CCallRecorder& operator=(const CCallRecorder&) = delete;

    void SetAgentStatusNotifier(AgentStatusNotifier notifier) { m_Notify = std::move(notifier); }
    // The interface's window and message for the start and stop notifications; Poll sets
    // them too, the main dialog also as soon as the interface has spoken.
    void SetGuiWindow(HWND window, UINT message) {
        m_hGuiWindow = window;
        m_uGuiMessage = message;
    }

    void ReadSettings();
    // Every 200 ms: 1 without a driver or registration, or once closed; otherwise reads
    // and handles the queued records and returns 0.
    int Poll(HWND guiWindow, UINT guiMessage);
    int StartRecording();
    int StopRecording();
    // Finishes any recording (as a stop does), unregisters and closes the driver. Final.
    void Close();

    bool IsRecording() const { return m_bRecording; }
    bool IsAutoStarted() const { return m_bAutoStarted; }
    bool IsClosed() const { return m_bClosed; }
    bool HasDriver() const { return m_Driver.IsOpen(); }
    int32_t Registration() const { return m_nRegistration; }
    const std::string& RecordingDirectory() const { return m_szRecordingDirectory; }
    const std::string& CurrentFile() const { return m_CurrentFile; }
    DWORD AutomationMode() const { return m_eAutomationMode; }
    DWORD DontStartThreshold() const { return m_dwDontStartDiskSpaceThreshold; }
    DWORD StopThreshold() const { return m_dwStopDiskSpaceThreshold; }
    DWORD CheckInterval() const;
    DWORD AudioBytes() const { return m_dwAudioBytes; }

    // The recording directory's free space for the user: 0xFFFFFFFF from 4 GiB up, 0 when
    // unknown.
    static DWORD FreeSpaceOf(const std::string& directory);
    // "Y_M_D__HH_MM_SS" of a local time.
    static std::string FileStem(const SYSTEMTIME& time);
    // The documents folder's "Recordings", made when missing; the current directory when
    // neither can be had.
    static std::string DefaultDirectory();
    // `directory` made absolute: a relative one below the documents folder.
    static std::string AbsoluteDirectory(const std::string& directory);

protected:
    // Seams for tests: the clock of the file names and the free-space measurement.
    virtual SYSTEMTIME LocalTime() const;
    virtual DWORD MeasureFreeSpace();
    // The records of one read (`length` bytes, as the driver returned them); tests hand
    // records in here directly, where they can end at memory that may not be read.
    void HandleRecords(const uint8_t* data, uint32_t length);

private:
    bool OpenDriver();
    bool Register();
    bool ChooseChannels(bool withAudio);
    // One read; false when nothing came back. *more: another read is due.
    bool ReadOnce(bool* more);
    void HandleEvent(const uint8_t* payload, uint32_t length, uint32_t valid);
    void WriteAudio(const uint8_t* payload, uint32_t length);
    bool CreateRecordingFile();
    bool WriteSizes();
    void FinishFile();
    void NotifyGui(LPARAM what);
    void DriverGone(DWORD error);

    HWND m_hGuiWindow = nullptr;
    UINT m_uGuiMessage = 0;
    std::string m_RegistryRoot;
    DWORD m_eAutomationMode = 0;
    DWORD m_dwRecordPassThroughCalls = 1;
    std::string m_szRecordingDirectory;
    orvin::DriverChannel m_Driver;
    int32_t m_nRegistration = kNoHandle;
    HANDLE m_hWavFile = INVALID_HANDLE_VALUE;
    DWORD m_dwAudioBytes = 0;
    DWORD m_dwBytesSinceCheck = 0;
    bool m_bRecording = false;
    bool m_bAutoStarted = false;
    bool m_bClosed = false;
    std::vector<uint8_t> m_ReadBuffer;
    DWORD m_dwDontStartDiskSpaceThreshold = kDefaultDontStart;
    DWORD m_dwStopDiskSpaceThreshold = kDefaultStop;
    AgentStatusNotifier m_Notify;

    std::string m_CurrentFile;
    bool m_bSizesStale = false; // audio written since the header's sizes were
    bool m_bDriverLost = false; // the driver went away: try it again now and then
    DWORD m_dwFailedReads = 0;  // reads failed in a row, the handle still alive
    uint32_t m_uRecordingsStarted = 0;
    ULONGLONG m_ullNextReconnect = 0;
};
