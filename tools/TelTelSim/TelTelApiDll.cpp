// TelTelAPI.DLL, the stand-in for TelTel's own library: it exports exactly the library's
// functions (TelTelAPI.def; TelTelAPILacking.def leaves some out, for the build that tests
// what the agent does without them), each with the system's standard calling convention.
// Every call the agent makes is reported, with its arguments and what the stand-in could
// tell about them in the agent's process (whose window, whether a callback is code, the
// texts), to the control program TelTelSim.exe over the control pipe (TelTelWire.h); the
// control program checks and logs it. From the control program come TelTel's readiness,
// the functions' answers, the callbacks to run (on the library's own threads, as TelTel
// runs them) and window messages to post to the registered window.
//
// Without a control program the library answers as a TelTel that is not ready, and tries
// to reach one again at most every kRetryMs.
//
// Threads. The agent's threads call the functions; each call's report is written on the
// caller's thread, under the connection's lock. One reader thread per connection takes the
// control program's lines and runs the callbacks; it holds a reference to this library, so
// that the library stays loaded while its thread runs, and ends with the connection.
#include "TelTelWire.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

using namespace orvin::teltelsim;

namespace {

typedef void(WINAPI* Callback)(DWORD value);

constexpr DWORD kRetryMs = 200;
constexpr DWORD kWriteMs = 5000;

// The connection: the pipe, its writes, and what the control program set.
SRWLOCK g_lock = SRWLOCK_INIT;
HANDLE g_pipe = INVALID_HANDLE_VALUE; // guarded by g_lock (writes hold it exclusively)
DWORD g_lastAttempt = 0;
bool g_attempted = false;
HWND g_window = nullptr;
Callback g_callbacks[4] = {};
std::map<std::string, int> g_results;
volatile LONG g_ready = 0;
thread_local int t_inCallback = 0;

const char* const kExported[] = {
    "TelTel_Register",
    "TelTel_Unregister",
    "TelTel_RegisterInCallCBV2",
#ifndef TELTEL_LACKING
    "TelTel_RegisterIncmingCallCBV2",
#endif
    "TelTel_WndProc",
    "TelTel_IsTelTelReady",
    "TelTel_RegisterAudioDevices2",
    "TelTel_UnregisterAudioDevices",
#ifndef TELTEL_LACKING
    "TelTel_AnswerOrCall",
#endif
    "TelTel_HangupOrReject",
    "TelTel_BringToTop",
#ifndef TELTEL_LACKING
    "TelTel_Mute",
    "TelTel_Unmute",
#endif
};

long long Counter() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

std::string PipePath() {
    char name[200];
    const DWORD length = GetEnvironmentVariableA(kPipeNameVariable, name, sizeof name);
    return std::string("\\\\.\\pipe\\") + (length && length < sizeof name ? name : kDefaultPipeName);
}

// One whole write of a line (the lock held by the caller). False when the pipe failed.
bool WriteLocked(const std::string& line) {
    if (g_pipe == INVALID_HANDLE_VALUE) {
        return false;
    }
    const std::string data = line + "\n";
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(g_pipe, data.data(), (DWORD)data.size(), &written, &overlapped) != 0;
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, kWriteMs) != WAIT_OBJECT_0) {
            CancelIoEx(g_pipe, &overlapped);
        }
        ok = GetOverlappedResult(g_pipe, &overlapped, &written, TRUE) != 0;
    }
    CloseHandle(overlapped.hEvent);
    if (!ok || written != data.size()) {
        // The control program is gone or stuck: the reader sees its read fail and closes.
        CancelIoEx(g_pipe, nullptr);
        return false;
    }
    return true;
}

DWORD WINAPI ReaderThread(void* module);

void Connect() {
    // Called with the lock held exclusively.
    if (g_pipe != INVALID_HANDLE_VALUE) {
        return;
    }
    const DWORD now = GetTickCount();
    if (g_attempted && now - g_lastAttempt < kRetryMs) {
        return;
    }
    g_attempted = true;
    g_lastAttempt = now;
    const std::string path = PipePath();
    HANDLE pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY &&
        WaitNamedPipeA(path.c_str(), 500)) {
        pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        return;
    }
    // The reader holds this library while it runs.
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&ReaderThread),
                            &module)) {
        CloseHandle(pipe);
        return;
    }
    g_pipe = pipe;
    char file[MAX_PATH * 2] = {};
    GetModuleFileNameA(module, file, sizeof file - 1);
    Hello hello;
    hello.pid = GetCurrentProcessId();
    hello.module = file;
    for (const char* name : kExported) {
        hello.functions.push_back(name);
    }
    HANDLE reader = CreateThread(nullptr, 0, ReaderThread, module, 0, nullptr);
    if (!reader) {
        FreeLibrary(module);
        CloseHandle(pipe);
        g_pipe = INVALID_HANDLE_VALUE;
        return;
    }
    CloseHandle(reader);
    WriteLocked(FormatHello(hello));
}

void Report(const CallRecord& call) {
    AcquireSRWLockExclusive(&g_lock);
    Connect();
    WriteLocked(FormatCall(call));
    ReleaseSRWLockExclusive(&g_lock);
}

void Reply(const std::string& line) {
    AcquireSRWLockExclusive(&g_lock);
    WriteLocked(line);
    ReleaseSRWLockExclusive(&g_lock);
}

int Answer(const char* function) {
    AcquireSRWLockShared(&g_lock);
    auto it = g_results.find(function);
    const int result = it == g_results.end() ? 1 : it->second;
    ReleaseSRWLockShared(&g_lock);
    return result;
}

CallRecord Record(const char* function, int result) {
    CallRecord call;
    call.qpc = Counter();
    call.thread = GetCurrentThreadId();
    call.inCallback = t_inCallback != 0;
    call.function = function;
    call.result = result;
    return call;
}

CallArg WindowArg(HWND window) {
    DWORD pid = 0;
    CallArg::Fact fact = CallArg::Fact::NoWindow;
    if (window && IsWindow(window) && GetWindowThreadProcessId(window, &pid)) {
        fact = pid == GetCurrentProcessId() ? CallArg::Fact::Own : CallArg::Fact::Foreign;
    }
    return CallArg::Window((uint64_t)(uintptr_t)window, fact);
}

CallArg CallbackArg(Callback callback) {
    const void* address = reinterpret_cast<const void*>(callback);
    if (!address) {
        return CallArg::Callback(0, CallArg::Fact::Null);
    }
    MEMORY_BASIC_INFORMATION info;
    const DWORD executable =
        PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const bool code = VirtualQuery(address, &info, sizeof info) == sizeof info && info.State == MEM_COMMIT &&
                      info.Type == MEM_IMAGE && (info.Protect & executable) && !(info.Protect & PAGE_GUARD);
    return CallArg::Callback((uint64_t)(uintptr_t)address, code ? CallArg::Fact::Code : CallArg::Fact::Other);
}

bool Readable(const void* address, size_t* available) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(address, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        (info.Protect & (PAGE_GUARD | PAGE_NOACCESS))) {
        return false;
    }
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (!(info.Protect & readable)) {
        return false;
    }
    *available = (const char*)info.BaseAddress + info.RegionSize - (const char*)address;
    return true;
}

// The text at `text`, read no further than readable memory and kMaxTextBytes.
CallArg TextArg(const char* text) {
    const uint64_t address = (uint64_t)(uintptr_t)text;
    if (!text) {
        return CallArg::Unreadable(0);
    }
    std::string value;
    const char* at = text;
    while (value.size() < kMaxTextBytes) {
        size_t available = 0;
        if (!Readable(at, &available)) {
            return CallArg::Unreadable(address);
        }
        for (; available && value.size() < kMaxTextBytes; --available, ++at) {
            if (*at == 0) {
                return CallArg::Text(value);
            }
            value += *at;
        }
    }
    return CallArg::Unterminated(address);
}

void RunCallback(const ControlLine& line);

struct NewThreadCall {
    ControlLine line;
};

DWORD WINAPI CallbackThread(void* data) {
    RunCallback(static_cast<NewThreadCall*>(data)->line);
    return 0;
}

// Runs the callback the control program asked for, on this thread, and reports its return.
void RunCallback(const ControlLine& line) {
    AcquireSRWLockShared(&g_lock);
    const Callback callback = g_callbacks[static_cast<int>(line.event)];
    const bool registered = g_window != nullptr;
    ReleaseSRWLockShared(&g_lock);
    if (!registered) {
        Reply(FormatUnfired(line.id, "no window is registered"));
        return;
    }
    if (!callback) {
        Reply(FormatUnfired(line.id,
                            std::string("no ") + CallbackEventName(line.event) + " callback registered"));
        return;
    }
    FiredRecord fired;
    fired.id = line.id;
    fired.thread = GetCurrentThreadId();
    ++t_inCallback;
    fired.qpcStart = Counter();
    callback((DWORD)line.value);
    fired.qpcEnd = Counter();
    --t_inCallback;
    Reply(FormatFired(fired));
}

void Obey(const ControlLine& line) {
    switch (line.kind) {
    case ControlLine::Kind::Ready:
        InterlockedExchange(&g_ready, (LONG)line.value);
        break;
    case ControlLine::Kind::Result:
        AcquireSRWLockExclusive(&g_lock);
        g_results[line.function] = (int)line.value;
        ReleaseSRWLockExclusive(&g_lock);
        break;
    case ControlLine::Kind::Fire:
        if (line.newThread) {
            NewThreadCall call{line};
            HANDLE thread = CreateThread(nullptr, 0, CallbackThread, &call, 0, nullptr);
            if (!thread) {
                Reply(FormatUnfired(line.id, "no thread could be started"));
                break;
            }
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
        } else {
            RunCallback(line);
        }
        break;
    case ControlLine::Kind::Post: {
        AcquireSRWLockShared(&g_lock);
        HWND window = g_window;
        ReleaseSRWLockShared(&g_lock);
        const bool posted =
            window && PostMessageA(window, line.message, (WPARAM)line.wParam, (LPARAM)line.lParam);
        Reply(FormatPosted(line.id, posted));
        break;
    }
    }
}

DWORD WINAPI ReaderThread(void* module) {
    AcquireSRWLockShared(&g_lock);
    HANDLE pipe = g_pipe;
    ReleaseSRWLockShared(&g_lock);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::string pending;
    char buffer[4096];
    while (event) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD got = 0;
        if (!ReadFile(pipe, buffer, sizeof buffer, &got, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(pipe, &overlapped, &got, TRUE)) {
                break;
            }
        }
        if (got == 0) {
            continue;
        }
        pending.append(buffer, got);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string text = pending.substr(0, end);
            pending.erase(0, end + 1);
            ControlLine line;
            std::string error;
            if (ParseControlLine(text, &line, &error)) {
                Obey(line);
            }
        }
        if (pending.size() > kMaxLineBytes) {
            break;
        }
    }
    if (event) {
        CloseHandle(event);
    }
    AcquireSRWLockExclusive(&g_lock);
    if (g_pipe == pipe) {
        CloseHandle(g_pipe);
        g_pipe = INVALID_HANDLE_VALUE;
    }
    ReleaseSRWLockExclusive(&g_lock);
    InterlockedExchange(&g_ready, 0);
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

int RegisterCallbacks(const char* function, Callback first, Callback second, int firstSlot) {
    const int result = Answer(function);
    CallRecord call = Record(function, result);
    call.args.push_back(CallbackArg(first));
    call.args.push_back(CallbackArg(second));
    AcquireSRWLockExclusive(&g_lock);
    g_callbacks[firstSlot] = first;
    g_callbacks[firstSlot + 1] = second;
    ReleaseSRWLockExclusive(&g_lock);
    Report(call);
    return result;
}

int Plain(const char* function) {
    const int result = Answer(function);
    Report(Record(function, result));
    return result;
}

} // namespace

extern "C" {

int WINAPI TelTel_Register(HWND window) {
    const int result = Answer("TelTel_Register");
    CallRecord call = Record("TelTel_Register", result);
    call.args.push_back(WindowArg(window));
    AcquireSRWLockExclusive(&g_lock);
    if (!g_window) {
        g_window = window;
    }
    ReleaseSRWLockExclusive(&g_lock);
    Report(call);
    return result;
}

int WINAPI TelTel_Unregister(HWND window) {
    const int result = Answer("TelTel_Unregister");
    CallRecord call = Record("TelTel_Unregister", result);
    call.args.push_back(WindowArg(window));
    AcquireSRWLockExclusive(&g_lock);
    if (g_window == window) {
        g_window = nullptr;
    }
    ReleaseSRWLockExclusive(&g_lock);
    Report(call);
    return result;
}

int WINAPI TelTel_RegisterInCallCBV2(Callback callStart, Callback callEnd) {
    return RegisterCallbacks("TelTel_RegisterInCallCBV2", callStart, callEnd,
                             static_cast<int>(CallbackEvent::CallStart));
}

#ifndef TELTEL_LACKING
int WINAPI TelTel_RegisterIncmingCallCBV2(Callback ringStart, Callback ringStop) {
    return RegisterCallbacks("TelTel_RegisterIncmingCallCBV2", ringStart, ringStop,
                             static_cast<int>(CallbackEvent::RingStart));
}
#endif

int WINAPI TelTel_WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const int result = Answer("TelTel_WndProc");
    CallRecord call = Record("TelTel_WndProc", result);
    call.args.push_back(CallArg::Number(message));
    call.args.push_back(CallArg::Number((uint64_t)wParam));
    call.args.push_back(CallArg::Number((uint64_t)lParam));
    Report(call);
    return result;
}

int WINAPI TelTel_IsTelTelReady() {
    // A call may be the first: connect before answering, so the answer is the control
    // program's.
    AcquireSRWLockExclusive(&g_lock);
    Connect();
    ReleaseSRWLockExclusive(&g_lock);
    const int result = (int)InterlockedCompareExchange(&g_ready, 0, 0);
    Report(Record("TelTel_IsTelTelReady", result));
    return result;
}

int WINAPI TelTel_RegisterAudioDevices2(const char* first, const char* second, const char* third) {
    const int result = Answer("TelTel_RegisterAudioDevices2");
    CallRecord call = Record("TelTel_RegisterAudioDevices2", result);
    call.args.push_back(TextArg(first));
    call.args.push_back(TextArg(second));
    call.args.push_back(TextArg(third));
    Report(call);
    return result;
}

int WINAPI TelTel_UnregisterAudioDevices() {
    return Plain("TelTel_UnregisterAudioDevices");
}

#ifndef TELTEL_LACKING
int WINAPI TelTel_AnswerOrCall() {
    return Plain("TelTel_AnswerOrCall");
}
#endif

int WINAPI TelTel_HangupOrReject() {
    return Plain("TelTel_HangupOrReject");
}

int WINAPI TelTel_BringToTop() {
    return Plain("TelTel_BringToTop");
}

#ifndef TELTEL_LACKING
int WINAPI TelTel_Mute() {
    return Plain("TelTel_Mute");
}

int WINAPI TelTel_Unmute() {
    return Plain("TelTel_Unmute");
}
#endif

} // extern "C"
