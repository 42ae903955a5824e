#include "recorder/CallRecorder.h"

#include "base/config/Registry.h"
#include "base/trace/Trace.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>

using orvin::RegKey;
using orvin::SubKey;

namespace {

const char kControlChannel[8] = {'V', 'C', 'L', 'C', 'T', 'R', 'L', 0};
const char kAudioChannel[8] = {'V', 'C', 'L', 'O', 'G', 0, 0, 0};
constexpr uint32_t kNameAreaSize = 128;
constexpr uint32_t kRegisterDataSize = 16 + kNameAreaSize + 4;
constexpr uint32_t kChannelsDataSize = 16 + kNameAreaSize;
constexpr uint32_t kAudioNameOffset = 8; // "VCLOG" after "VCLCTRL" and its terminator
constexpr int kMaxNumberedNames = 100000;
// The RIFF sizes are 32-bit: a recording ends before its data would pass them.
constexpr DWORD kMaxAudioBytes = 0xFFFFFFFFu - 36;

uint32_t ReadU32(const uint8_t* bytes) {
    uint32_t value;
    memcpy(&value, bytes, sizeof value);
    return value;
}

void PutU32(uint8_t* bytes, uint32_t value) {
    memcpy(bytes, &value, sizeof value);
}

void PutU16(uint8_t* bytes, uint16_t value) {
    memcpy(bytes, &value, sizeof value);
}

// A channel name from a record, printable for the trace.
std::string PrintableName(const uint8_t* name) {
    std::string text;
    for (int i = 0; i < 8 && name[i]; ++i) {
        char c = (char)name[i];
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

constexpr DWORD kErrorNoSuchDevice = 433; // ERROR_NO_SUCH_DEVICE, which not every SDK names

// What a read on a device removed under its handle fails with: the handle is pending
// deletion (access denied), or the device is no more.
bool RemovedDeviceError(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND || error == kErrorNoSuchDevice ||
           error == ERROR_GEN_FAILURE;
}

bool EnterDirectory(const std::string& directory) {
    return !directory.empty() && SetCurrentDirectoryA(directory.c_str());
}

} // namespace

CCallRecorder::CCallRecorder(const std::string& registryRoot, const char* deviceName)
    : m_RegistryRoot(registryRoot), m_ReadBuffer(kReadBufferSize, 0) {
    ReadSettings();
    m_Driver.SetName(deviceName);
    if (OpenDriver()) {
        Register();
    }
}

CCallRecorder::~CCallRecorder() {
    Close();
}

SYSTEMTIME CCallRecorder::LocalTime() const {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return now;
}

DWORD CCallRecorder::MeasureFreeSpace() {
    EnterDirectory(m_szRecordingDirectory);
    return FreeSpaceOf(m_szRecordingDirectory);
}

DWORD CCallRecorder::FreeSpaceOf(const std::string& directory) {
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr)) {
        return 0;
    }
    return available.QuadPart >= 0xFFFFFFFFull ? 0xFFFFFFFFu : (DWORD)available.QuadPart;
}

std::string CCallRecorder::FileStem(const SYSTEMTIME& time) {
    char stem[64];
    snprintf(stem, sizeof stem, "%u_%u_%u__%02u_%02u_%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
             time.wMinute, time.wSecond);
    return stem;
}

std::string CCallRecorder::DefaultDirectory() {
    char documents[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                   documents))) {
        std::string folder = documents;
        if (!folder.empty() && folder.back() != '\\') {
            folder += '\\';
        }
        folder += "Recordings";
        if (EnterDirectory(folder) || (CreateDirectoryA(folder.c_str(), nullptr) && EnterDirectory(folder))) {
            return folder;
        }
    }
    char current[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof current, current);
    return current;
}

std::string CCallRecorder::AbsoluteDirectory(const std::string& directory) {
    if (directory.empty()) {
        return directory;
    }
    std::string path = directory;
    const bool rooted = path[0] == '\\' || path[0] == '/' || (path.size() >= 2 && path[1] == ':');
    if (!rooted) {
        char base[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                    base))) {
            GetCurrentDirectoryA(sizeof base, base);
        }
        std::string joined = base;
        if (!joined.empty() && joined.back() != '\\') {
            joined += '\\';
        }
        path = joined + path;
    }
    // "..", "." and doubled separators go; a result too long for a folder name stays as
    // it is and fails to be entered.
    char full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full) : path;
}

DWORD CCallRecorder::CheckInterval() const {
    const DWORD half = (m_dwDontStartDiskSpaceThreshold - m_dwStopDiskSpaceThreshold) / 2;
    return half > kMinCheckInterval ? half : kMinCheckInterval;
}

void CCallRecorder::ReadSettings() {
    // What is missing, or of another type, keeps its default.
    m_eAutomationMode = 0;
    m_dwDontStartDiskSpaceThreshold = kDefaultDontStart;
    m_dwStopDiskSpaceThreshold = kDefaultStop;
    std::string directory;
    bool haveDirectory = false;
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, SubKey(m_RegistryRoot, "Recorder").c_str()) == ERROR_SUCCESS) {
        haveDirectory = key.QueryString("Directory", &directory, MAX_PATH) == ERROR_SUCCESS;
        DWORD value = 0;
        if (key.QueryDword("AutomationMode", &value) == ERROR_SUCCESS) {
            m_eAutomationMode = value;
        }
        if (key.QueryDword("DontStartDiskSpaceThreshold", &value) == ERROR_SUCCESS && value != 0) {
            m_dwDontStartDiskSpaceThreshold = value;
        }
        if (key.QueryDword("StopDiskSpaceThreshold", &value) == ERROR_SUCCESS && value != 0) {
            m_dwStopDiskSpaceThreshold = value;
        }
    }
    if (m_dwStopDiskSpaceThreshold > m_dwDontStartDiskSpaceThreshold) {
        m_dwStopDiskSpaceThreshold = m_dwDontStartDiskSpaceThreshold;
    }
    if (haveDirectory) {
        directory = AbsoluteDirectory(directory);
    }
    if (!haveDirectory || !EnterDirectory(directory)) {
        TRACE("Failed to read settings !");
        directory = DefaultDirectory();
    }
    m_szRecordingDirectory = directory;
    TRACE("UpdateSettings>>> szRecordingDirectory - %s", m_szRecordingDirectory.c_str());
    TRACE("UpdateSettings>>> eRAM - %d", (int)m_eAutomationMode);
    TRACE("UpdateSettings>>> dwDontStartDiskSpaceThreshold - %d", (int)m_dwDontStartDiskSpaceThreshold);
    TRACE("UpdateSettings>>> dwStopDiskSpaceThreshold - %d", (int)m_dwStopDiskSpaceThreshold);
}

bool CCallRecorder::OpenDriver() {
    if (!m_Driver.Open()) {
        return false;
    }
    TRACE("CCallRecorder: recorder driver %s opened%s", m_Driver.Name(), m_Driver.IsPipe() ? " (pipe)" : "");
    return true;
}

bool CCallRecorder::Register() {
    uint8_t data[kRegisterDataSize] = {};
    PutU32(data, 1);
    PutU32(data + 4, 1);
    memcpy(data + 16, kControlChannel, sizeof kControlChannel);
    void* buffer = data;
    uint32_t length = sizeof data;
    const uint32_t params[4] = {0, 0, 0, 0};
    const int32_t status = m_Driver.Request(kCmdRegister, params, 4, &buffer, &length);
    if (!m_Driver.LastRequestComplete() || status != 0 || length < sizeof data) {
        TRACE("CCallRecorder: registration refused (result %d, error %lu)", (int)status,
              m_Driver.LastTransferError());
        return false;
    }
    const int32_t registration = (int32_t)ReadU32(data + 16 + kNameAreaSize);
    if (registration == kNoHandle) {
        TRACE("CCallRecorder: the driver returned no registration");
        return false;
    }
    m_nRegistration = registration;
    TRACE("CCallRecorder: registered on VCLCTRL, registration 0x%x", (unsigned)m_nRegistration);
    return true;
}

bool CCallRecorder::ChooseChannels(bool withAudio) {
    if (!m_Driver.IsOpen() || m_nRegistration == kNoHandle) {
        return false;
    }
    uint8_t data[kChannelsDataSize] = {};
    PutU32(data, 1);
    PutU32(data + 4, withAudio ? 2 : 1);
    memcpy(data + 16, kControlChannel, sizeof kControlChannel);
    if (withAudio) {
        memcpy(data + 16 + kAudioNameOffset, kAudioChannel, sizeof kAudioChannel);
    }
    void* buffer = data;
    uint32_t length = sizeof data;
    const uint32_t params[4] = {(uint32_t)m_nRegistration, 0, 0, 0};
    const int32_t status = m_Driver.Request(kCmdChooseChannels, params, 4, &buffer, &length);
    if (!m_Driver.LastRequestComplete() || status != 0) {
        TRACE("CCallRecorder: channel choice (%s) refused (result %d, error %lu)",
              withAudio ? "VCLCTRL VCLOG" : "VCLCTRL", (int)status, m_Driver.LastTransferError());
        return false;
    }
    return true;
}

int CCallRecorder::Poll(HWND guiWindow, UINT guiMessage) {
    m_hGuiWindow = guiWindow;
    m_uGuiMessage = guiMessage;
    if (m_bClosed) {
        return 1;
    }
    if (m_bDriverLost && GetTickCount64() >= m_ullNextReconnect) {
        m_ullNextReconnect = GetTickCount64() + kReconnectMs;
        if (OpenDriver() && Register()) {
            m_bDriverLost = false;
        } else {
            m_Driver.Close();
        }
    }
    if (!m_Driver.IsOpen() || m_nRegistration == kNoHandle) {
        return 1;
    }
    bool more = false;
    int reads = 0;
    do {
        if (!ReadOnce(&more)) {
            break;
        }
    } while (more && ++reads < kMaxReadsPerPoll);
    if (more && reads >= kMaxReadsPerPoll) {
        TRACE("CCallRecorder::Poll - the driver still has records after %d reads; the rest at the next poll",
              kMaxReadsPerPoll);
    }
    if (m_bSizesStale) {
        WriteSizes();
    }
    return m_bClosed ? 1 : 0;
}

bool CCallRecorder::ReadOnce(bool* more) {
    *more = false;
    memset(m_ReadBuffer.data(), 0, m_ReadBuffer.size());
    void* buffer = m_ReadBuffer.data();
    uint32_t length = kReadBufferSize;
    const uint32_t params[4] = {(uint32_t)m_nRegistration, 0, 0, 0};
    const int32_t status = m_Driver.Request(kCmdRead, params, 4, &buffer, &length);
    if (!m_Driver.LastRequestComplete()) {
        const DWORD error = m_Driver.LastTransferError();
        if (m_Driver.LastRequestLostDevice() || RemovedDeviceError(error)) {
            DriverGone(error);
        } else if (error == ERROR_MORE_DATA) {
            TRACE(
                "CCallRecorder::Poll - the driver answered more than the read buffer holds; answer dropped");
        } else if (error != 0) {
            // Nothing this time; the handle may be alive, so the recording goes on. One line
            // when the failures begin and one when they end; a driver that fails on and on
            // is gone all the same.
            if (m_dwFailedReads++ == 0) {
                TRACE("CCallRecorder::Poll - reading the driver failed (error %lu); the recording goes on",
                      error);
            }
            if (m_dwFailedReads >= kFailedReadsGone) {
                TRACE("CCallRecorder::Poll - reading the driver failed %lu times in a row", m_dwFailedReads);
                DriverGone(error);
            }
        }
        return false;
    }
    if (m_dwFailedReads) {
        TRACE("CCallRecorder::Poll - the driver reads again after %lu failed reads", m_dwFailedReads);
        m_dwFailedReads = 0;
    }
    if (status != 0) {
        return false;
    }
    // The channel never copies more than the buffer holds, whatever the driver claims.
    HandleRecords(m_ReadBuffer.data(), length);
    *more = length > kReadAgainAbove && !m_bClosed && m_Driver.IsOpen();
    return true;
}

void CCallRecorder::DriverGone(DWORD error) {
    TRACE("CCallRecorder: the recorder driver is gone (error %lu)", error);
    if (m_hWavFile != INVALID_HANDLE_VALUE) {
        StopRecording();
    }
    m_Driver.Close();
    m_nRegistration = kNoHandle;
    m_dwFailedReads = 0;
    m_bDriverLost = true;
    m_ullNextReconnect = GetTickCount64() + kReconnectMs;
}

void CCallRecorder::HandleRecords(const uint8_t* data, uint32_t length) {
    uint32_t at = 0;
    uint32_t unknown = 0;
    std::string firstUnknown;
    while (length - at >= kRecordHeaderSize) {
        const uint8_t* record = data + at;
        const uint32_t payloadLength = ReadU32(record + 20);
        const uint32_t left = length - at - kRecordHeaderSize;
        if (payloadLength > left) {
            TRACE("CCallRecorder: record at byte %u runs past the data (payload %u bytes, %u left); ignored",
                  at, payloadLength, left);
            at = length;
            break;
        }
        const uint8_t* payload = record + kRecordHeaderSize;
        if (memcmp(record, kControlChannel, 8) == 0) {
            HandleEvent(payload, payloadLength, ReadU32(record + 8));
        } else if (memcmp(record, kAudioChannel, 8) == 0) {
            WriteAudio(payload, payloadLength);
        } else if (unknown++ == 0) {
            firstUnknown = PrintableName(record);
        }
        at += kRecordHeaderSize + payloadLength;
    }
    // One line a read, however many: a driver that hands out garbage must not flood the trace.
    if (unknown) {
        TRACE("CCallRecorder: %u record(s) on unknown channels skipped, the first on '%s'", unknown,
              firstUnknown.c_str());
    }
    if (at < length) {
        TRACE("CCallRecorder: %u bytes at the end are no whole record header; ignored", length - at);
    }
}

void CCallRecorder::HandleEvent(const uint8_t* payload, uint32_t length, uint32_t valid) {
    if (valid != 1 || length <= 3) {
        return;
    }
    switch (ReadU32(payload)) {
    case CET_START_RECORDING:
        TRACE("CET_START_RECORDING");
        StartRecording();
        break;
    case CET_STOP_RECORDING:
        TRACE("CET_STOP_RECORDING");
        StopRecording();
        break;
    case CET_LOCAL_CALL_STARTED:
    case CET_PASS_THROUGH_CALL_STARTED:
        TRACE("CET_LOCAL_CALL_STARTED CET_PASS_THROUGH_CALL_STARTED");
        if (m_hWavFile == INVALID_HANDLE_VALUE && m_eAutomationMode == 1) {
            m_bAutoStarted = true;
            StartRecording();
        }
        break;
    case CET_LOCAL_CALL_ENDED:
    case CET_PASS_THROUGH_CALL_ENDED:
        TRACE("CET_LOCAL_CALL_ENDED CET_PASS_THROUGH_CALL_ENDED");
        if (m_hWavFile != INVALID_HANDLE_VALUE) {
            StopRecording();
        }
        break;
    default:
        break;
    }
}

void CCallRecorder::WriteAudio(const uint8_t* payload, uint32_t length) {
    if (m_hWavFile == INVALID_HANDLE_VALUE || length == 0) {
        return;
    }
    if (length > kMaxAudioBytes - m_dwAudioBytes) {
        TRACE("CCallRecorder: the recording has reached the largest size a WAV file can hold; stopped");
        StopRecording();
        return;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(m_hWavFile, payload, length, &written, nullptr);
    // What did reach the file counts; a file that can take no more ends here.
    m_dwAudioBytes += written;
    m_dwBytesSinceCheck += written;
    m_bSizesStale = true;
    if (!ok || written != length) {
        const DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
        // Whole samples only: a half sample at the end goes when the file is finished.
        m_dwAudioBytes -= m_dwAudioBytes & 1;
        TRACE("CCallRecorder: writing the recording failed (error %lu, %lu of %u bytes); recording stopped",
              error, written, length);
        StopRecording();
        return;
    }
    if (m_dwBytesSinceCheck >= CheckInterval()) {
        m_dwBytesSinceCheck = 0;
        if (MeasureFreeSpace() < m_dwStopDiskSpaceThreshold) {
            StopRecording();
            TRACE("There is not enough space on disk. Recording stopped\n");
        }
    }
}

bool CCallRecorder::CreateRecordingFile() {
    EnterDirectory(m_szRecordingDirectory);
    std::string base = m_szRecordingDirectory;
    if (!base.empty() && base.back() != '\\') {
        base += '\\';
    }
    base += FileStem(LocalTime());
    std::string path = base + ".wav";
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int number = 2;; ++number) {
        file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            break;
        }
        const DWORD error = GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || number > kMaxNumberedNames) {
            TRACE("CCallRecorder: can not create %s (error %lu)", path.c_str(), error);
            return false;
        }
        path = base + "__" + std::to_string(number) + ".wav";
    }
    uint8_t header[kWavHeaderSize] = {};
    memcpy(header, "RIFF", 4);
    memcpy(header + 8, "WAVE", 4);
    memcpy(header + 12, "fmt ", 4);
    PutU32(header + 16, 16);
    PutU16(header + 20, 1);     // PCM
    PutU16(header + 22, 1);     // mono
    PutU32(header + 24, 9600);  // samples per second
    PutU32(header + 28, 19200); // bytes per second
    PutU16(header + 32, 2);     // block align
    PutU16(header + 34, 16);    // bits per sample
    memcpy(header + 36, "data", 4);
    DWORD written = 0;
    if (!WriteFile(file, header, sizeof header, &written, nullptr) || written != sizeof header) {
        TRACE("CCallRecorder: can not write the header of %s (error %lu)", path.c_str(), GetLastError());
        CloseHandle(file);
        DeleteFileA(path.c_str());
        return false;
    }
    m_hWavFile = file;
    m_CurrentFile = path;
    m_dwAudioBytes = 0;
    m_dwBytesSinceCheck = 0;
    m_bSizesStale = false;
    return true;
}

// The RIFF size (audio + 36) at byte 4 and the data size at byte 40; the file position
// goes back to the end for the next audio.
bool CCallRecorder::WriteSizes() {
    if (m_hWavFile == INVALID_HANDLE_VALUE) {
        return false;
    }
    m_bSizesStale = false;
    uint8_t riff[4];
    uint8_t data[4];
    PutU32(riff, m_dwAudioBytes + 36);
    PutU32(data, m_dwAudioBytes);
    DWORD written = 0;
    LARGE_INTEGER at = {};
    at.QuadPart = 4;
    bool ok = SetFilePointerEx(m_hWavFile, at, nullptr, FILE_BEGIN) &&
              WriteFile(m_hWavFile, riff, 4, &written, nullptr) && written == 4;
    at.QuadPart = 40;
    ok = ok && SetFilePointerEx(m_hWavFile, at, nullptr, FILE_BEGIN) &&
         WriteFile(m_hWavFile, data, 4, &written, nullptr) && written == 4;
    at.QuadPart = kWavHeaderSize + (LONGLONG)m_dwAudioBytes;
    SetFilePointerEx(m_hWavFile, at, nullptr, FILE_BEGIN);
    if (!ok) {
        TRACE("CCallRecorder: can not write the sizes of %s (error %lu)", m_CurrentFile.c_str(),
              GetLastError());
    }
    return ok;
}

// Reads the 44-byte header back, sets both sizes and writes it again, then closes. What
// lies beyond the counted audio (a write the disk cut short) goes.
void CCallRecorder::FinishFile() {
    if (m_hWavFile == INVALID_HANDLE_VALUE) {
        return;
    }
    uint8_t header[kWavHeaderSize] = {};
    DWORD got = 0;
    LARGE_INTEGER at = {};
    bool ok = SetFilePointerEx(m_hWavFile, at, nullptr, FILE_BEGIN) &&
              ReadFile(m_hWavFile, header, sizeof header, &got, nullptr) && got == sizeof header;
    if (ok) {
        PutU32(header + 4, m_dwAudioBytes + 36);
        PutU32(header + 40, m_dwAudioBytes);
        DWORD written = 0;
        ok = SetFilePointerEx(m_hWavFile, at, nullptr, FILE_BEGIN) &&
             WriteFile(m_hWavFile, header, sizeof header, &written, nullptr) && written == sizeof header;
    }
    if (!ok) {
        TRACE("CCallRecorder: can not finish the header of %s (error %lu)", m_CurrentFile.c_str(),
              GetLastError());
    }
    at.QuadPart = kWavHeaderSize + (LONGLONG)m_dwAudioBytes;
    if (SetFilePointerEx(m_hWavFile, at, nullptr, FILE_BEGIN)) {
        SetEndOfFile(m_hWavFile);
    }
    CloseHandle(m_hWavFile);
    m_hWavFile = INVALID_HANDLE_VALUE;
    m_bSizesStale = false;
    TRACE("CCallRecorder: %s finished with %lu bytes of audio", m_CurrentFile.c_str(), m_dwAudioBytes);
}

void CCallRecorder::NotifyGui(LPARAM what) {
    if (!m_hGuiWindow || !m_uGuiMessage) {
        return;
    }
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(m_hGuiWindow, m_uGuiMessage, SESSION_RECORDER_NOTIFICATION, what,
                        SMTO_NORMAL | SMTO_ABORTIFHUNG, kNotifyTimeoutMs, &answer);
}

int CCallRecorder::StartRecording() {
    if (m_hWavFile != INVALID_HANDLE_VALUE) {
        return 0;
    }
    if (m_bClosed) {
        return 0;
    }
    if (MeasureFreeSpace() < m_dwDontStartDiskSpaceThreshold) {
        TRACE("There is not enough space on disk. Recording will NOT be started\n");
        m_bAutoStarted = false;
        return 0;
    }
    if (!CreateRecordingFile()) {
        m_bAutoStarted = false;
        return 0;
    }
    TRACE("CCallRecorder: recording to %s", m_CurrentFile.c_str());
    const uint32_t recording = ++m_uRecordingsStarted;
    if (m_Notify) {
        m_Notify(8);
    }
    NotifyGui(1);
    // While the interface is told, its own requests reach us (it may answer from inside
    // our send): a stop then has finished this recording already, and a start after it
    // made its own. Either way nothing more belongs to this one.
    if (m_hWavFile == INVALID_HANDLE_VALUE || m_uRecordingsStarted != recording) {
        TRACE("CCallRecorder: the recording was stopped while its start was told");
        return 1;
    }
    ChooseChannels(true);
    m_bRecording = true;
    return 1;
}

int CCallRecorder::StopRecording() {
    if (m_Notify) {
        m_Notify(9);
    }
    if (m_hWavFile == INVALID_HANDLE_VALUE) {
        return 1;
    }
    // All done before the interface hears of it: a command it sends back at once (a new
    // start, another stop) finds the recording over and its file complete.
    FinishFile();
    ChooseChannels(false);
    m_bAutoStarted = false;
    m_bRecording = false;
    NotifyGui(2);
    return 1;
}

void CCallRecorder::Close() {
    if (m_bClosed) {
        return;
    }
    m_bClosed = true;
    // With or without a driver: a recording is finished as at a stop.
    if (m_hWavFile != INVALID_HANDLE_VALUE) {
        StopRecording();
    }
    if (m_Driver.IsOpen()) {
        if (m_nRegistration != kNoHandle) {
            const uint32_t params[4] = {(uint32_t)m_nRegistration, 0, 0, 0};
            uint32_t length = 0;
            m_Driver.Request(kCmdUnregister, params, 4, nullptr, &length);
        }
        m_Driver.Close();
    }
    m_nRegistration = kNoHandle;
}
