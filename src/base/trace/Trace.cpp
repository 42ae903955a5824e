#include "base/trace/Trace.h"

#include "base/trace/DriverChannel.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace orvin {
namespace {

const char* const kSettingsKey = "Software\\Velcora\\Quendo";
const char* const kModuleTag = "OrvinAgent";
const char* const kDebugDriverNt = "WINDDX0";
const char* const kDebugDriver9x = "WINDD";
const char* const kWdmHelperDriver = "ZUWDMHLP";
constexpr int kFirstBufferSize = 1040;

// Guards start, stop and the sinks. Made on first use, so that code tracing from another
// file's start-up finds it ready, and never destroyed, so that a thread still tracing at
// process exit does not meet a deleted lock.
CRITICAL_SECTION& TraceLock() {
    static CRITICAL_SECTION* lock = [] {
        auto* cs = new CRITICAL_SECTION;
        InitializeCriticalSection(cs);
        return cs;
    }();
    return *lock;
}

struct Guard {
    Guard() { EnterCriticalSection(&TraceLock()); }
    ~Guard() { LeaveCriticalSection(&TraceLock()); }
};

volatile LONG g_bStarted = 0;
bool g_bKeptOff = false; // TraceKeepOff: the settings are never read
uint32_t g_uSinkType = kTraceNone;
char g_szFileName[MAX_PATH] = {};
uint32_t g_uDebugLevel = 0;
const int32_t g_nTraceLevel = 0;
HANDLE g_hFile = INVALID_HANDLE_VALUE;
// The file sink's disk flush runs on a thread of its own: a line is in the file (and seen
// by every reader) as soon as its WriteFile returns, and the caller does not wait the
// half millisecond or more that forcing it to the disk takes. Lines written while a flush
// runs are flushed right after it.
HANDLE g_hFlushThread = nullptr;
HANDLE g_hFlushEvent = nullptr; // auto-reset: lines written since the last flush
volatile LONG g_nDirty = 0;     // set by a writer, taken by the flush thread: one wake a flush
volatile LONG g_nFlushStop = 0;
DriverChannel g_debugDriver;
// Shared with the installation code, hence the use count.
DriverChannel g_wdmHelper;
int g_nWdmHelperUses = 0;

bool IsWindows9x() {
    // GetVersion's top bit is set on Windows 95, 98 and Me only.
    return (GetVersion() & 0x80000000u) != 0;
}

void ReadSettings() {
    g_uSinkType = kTraceNone;
    g_uDebugLevel = 0;
    g_szFileName[0] = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return;
    }
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegQueryValueExA(key, "DebugType", nullptr, &type, (BYTE*)&value, &size) == ERROR_SUCCESS &&
        type == REG_DWORD) {
        g_uSinkType = value > kTraceWdmHelper ? (uint32_t)kTraceNone : (uint32_t)value;
        if (g_uSinkType == kTraceFile) {
            size = sizeof g_szFileName; // up to 260 bytes, the terminator included
            if (RegQueryValueExA(key, "DebugFile", nullptr, &type, (BYTE*)g_szFileName, &size) !=
                    ERROR_SUCCESS ||
                (type != REG_SZ && type != REG_EXPAND_SZ)) {
                g_szFileName[0] = 0;
                g_uSinkType = kTraceNone;
            }
            g_szFileName[sizeof g_szFileName - 1] = 0;
        }
        size = sizeof value;
        if (RegQueryValueExA(key, "DebugLevel", nullptr, &type, (BYTE*)&value, &size) == ERROR_SUCCESS &&
            type == REG_DWORD) {
            g_uDebugLevel = value;
        }
    }
    RegCloseKey(key);
}

DWORD WINAPI FlushMain(void*) {
    for (;;) {
        WaitForSingleObject(g_hFlushEvent, INFINITE);
        InterlockedExchange(&g_nDirty, 0);
        // The handle stays open until this thread has ended (StopFlusher).
        FlushFileBuffers(g_hFile);
        if (g_nFlushStop) {
            return 0;
        }
    }
}

// With the file open. Without the thread each line is flushed where it is written.
void StartFlusher() {
    g_nFlushStop = 0;
    g_nDirty = 0;
    g_hFlushEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_hFlushThread = g_hFlushEvent ? CreateThread(nullptr, 0, FlushMain, nullptr, 0, nullptr) : nullptr;
    if (!g_hFlushThread && g_hFlushEvent) {
        CloseHandle(g_hFlushEvent);
        g_hFlushEvent = nullptr;
    }
}

// Before the file closes: the last lines are flushed, and the thread is gone.
void StopFlusher() {
    if (g_hFlushThread) {
        g_nFlushStop = 1;
        SetEvent(g_hFlushEvent);
        WaitForSingleObject(g_hFlushThread, INFINITE);
        CloseHandle(g_hFlushThread);
        g_hFlushThread = nullptr;
    }
    if (g_hFlushEvent) {
        CloseHandle(g_hFlushEvent);
        g_hFlushEvent = nullptr;
    }
}

bool TakeWdmHelper() {
    if (g_nWdmHelperUses == 0) {
        g_wdmHelper.SetName(kWdmHelperDriver);
        // Starting the helper driver when it is missing is the installation code's business.
        if (!g_wdmHelper.Open()) {
            return false;
        }
    }
    ++g_nWdmHelperUses;
    return true;
}

void DropWdmHelper() {
    if (g_nWdmHelperUses > 0 && --g_nWdmHelperUses == 0) {
        g_wdmHelper.Close();
    }
}

// Driver sinks take the line with its terminating zero; the driver echoes the buffer.
void SendToDriver(DriverChannel& channel, uint32_t command, const char* line) {
    char copy[kTraceMessageLimit + 32];
    uint32_t length = (uint32_t)strlen(line) + 1;
    memcpy(copy, line, length);
    void* data = copy;
    channel.Request(command, nullptr, 0, &data, &length);
}

void WriteLineLocked(const char* line) {
    char text[kTraceMessageLimit + 32];
    switch (g_uSinkType) {
    case kTraceDebugDriver:
        SendToDriver(g_debugDriver, kTraceCmdDebugDriverLine, line);
        break;
    case kTraceDebugger:
        snprintf(text, sizeof text, "%s\n", line);
        OutputDebugStringA(text);
        break;
    case kTraceFile: {
        int n = snprintf(text, sizeof text, "%s\r\n", line);
        DWORD written = 0;
        // One write per line, in the file at once: it is complete at any moment.
        WriteFile(g_hFile, text, (DWORD)n, &written, nullptr);
        if (g_hFlushEvent) {
            if (InterlockedExchange(&g_nDirty, 1) == 0) {
                SetEvent(g_hFlushEvent);
            }
        } else {
            FlushFileBuffers(g_hFile);
        }
        break;
    }
    case kTraceWdmHelper:
        SendToDriver(g_wdmHelper, kTraceCmdWdmHelperLine, line);
        break;
    default:
        break;
    }
}

void WriteMessageLocked(const char* message) {
    // "{tag} message": 512 bytes of message at most, plus the tag.
    char line[kTraceMessageLimit + 16];
    snprintf(line, sizeof line, "{%s} %s", kModuleTag, message);
    WriteLineLocked(line);
}

void StartLocked() {
    if (g_bStarted) {
        return;
    }
    g_bStarted = 1;
    if (g_bKeptOff) {
        g_uSinkType = kTraceNone;
        return;
    }
    ReadSettings();

    if (g_uSinkType == kTraceDebugDriver) {
        g_debugDriver.SetName(IsWindows9x() ? kDebugDriver9x : kDebugDriverNt);
        g_debugDriver.Open(); // a missing device opens per request, or not at all
    }
    if (g_uSinkType == kTraceFile) {
        g_hFile = CreateFileA(g_szFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (g_hFile == INVALID_HANDLE_VALUE) {
            // Tracing stays off until the next TraceStop/TraceStart; lines do not retry.
            g_uSinkType = kTraceNone;
            return;
        }
        StartFlusher();
    }
    if (g_uSinkType == kTraceWdmHelper && !TakeWdmHelper()) {
        // Not started: the next line tries again. Until the helper is there, its lines go
        // to a device that does not open and are dropped.
        g_bStarted = 0;
        return;
    }
    WriteMessageLocked("Log Started Succesfully!");
}

} // namespace

void TraceStart() {
    Guard guard;
    StartLocked();
}

void TraceKeepOff() {
    Guard guard;
    g_bKeptOff = true;
}

void TraceStop() {
    Guard guard;
    if (!g_bStarted) {
        return;
    }
    if (g_hFile != INVALID_HANDLE_VALUE) {
        StopFlusher();
        CloseHandle(g_hFile);
        g_hFile = INVALID_HANDLE_VALUE;
    }
    if (g_uSinkType == kTraceWdmHelper) {
        DropWdmHelper();
    }
    g_debugDriver.Close();
    g_uSinkType = kTraceNone;
    g_bStarted = 0;
}

uint32_t TraceGetDebugLevel() {
    Guard guard;
    StartLocked();
    return g_uDebugLevel;
}

uint32_t TraceGetSinkType() {
    Guard guard;
    StartLocked();
    return g_uSinkType;
}

int32_t TraceGetLevel() {
    return g_nTraceLevel;
}

void TraceWriteV(const char* format, va_list args) {
    // Formatting happens outside the lock, in the caller's stack.
    char message[kTraceMessageLimit];
    vsnprintf(message, sizeof message, format, args);
    Guard guard;
    StartLocked();
    if (g_uSinkType != kTraceNone) {
        WriteMessageLocked(message);
    }
}

void TraceWrite(const char* format, ...) {
    va_list args;
    va_start(args, format);
    TraceWriteV(format, args);
    va_end(args);
}

void TraceLine(const char* format, ...) {
    char text[kFirstBufferSize];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    TraceWrite("%s\n", text);
}

} // namespace orvin
