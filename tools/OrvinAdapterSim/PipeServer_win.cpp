#include "PipeServer_win.h"

namespace orvin::sim {

namespace {

// How soon a stop condition is seen; completions are seen at once.
constexpr DWORD kSliceMs = 50;
constexpr DWORD kPipeBufferSize = 4096;

class Event {
public:
    Event() : m_h(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() {
        if (m_h) {
            CloseHandle(m_h);
        }
    }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

// Waits for an operation that returned ERROR_IO_PENDING.
IoResult Finish(HANDLE pipe, OVERLAPPED* overlapped, DWORD* transferred, const StopCondition& stop,
                DWORD timeoutMs) {
    DWORD waited = 0;
    for (;;) {
        DWORD result = WaitForSingleObject(overlapped->hEvent, kSliceMs);
        if (result == WAIT_OBJECT_0) {
            return GetOverlappedResult(pipe, overlapped, transferred, FALSE) ? IoResult::Done
                                                                             : IoResult::Failed;
        }
        if (result != WAIT_TIMEOUT) {
            CancelIoEx(pipe, overlapped);
            GetOverlappedResult(pipe, overlapped, transferred, TRUE);
            return IoResult::Failed;
        }
        waited += kSliceMs;
        bool stopped = stop && stop();
        if (stopped || (timeoutMs != INFINITE && waited >= timeoutMs)) {
            CancelIoEx(pipe, overlapped);
            // The operation may still have completed before the cancel took.
            BOOL completed = GetOverlappedResult(pipe, overlapped, transferred, TRUE);
            if (completed && !stopped) {
                return IoResult::Done;
            }
            return stopped ? IoResult::Cancelled : IoResult::TimedOut;
        }
    }
}

} // namespace

std::wstring FullPipeName(const char* name) {
    std::wstring full = L"\\\\.\\pipe\\";
    for (const char* p = name; *p; ++p) {
        full += (wchar_t)(unsigned char)*p;
    }
    return full;
}

HANDLE CreatePipeInstance(const std::wstring& fullName, bool first, DWORD maxInstances) {
    DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
    return CreateNamedPipeW(fullName.c_str(), openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                            maxInstances, kPipeBufferSize, kPipeBufferSize, 0, nullptr);
}

HANDLE CreateMessagePipeInstance(const std::wstring& fullName, DWORD bufferSize) {
    return CreateNamedPipeW(fullName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, bufferSize, bufferSize,
                            0, nullptr);
}

IoResult ReadMessage(HANDLE pipe, std::vector<uint8_t>* message, const StopCondition& stop) {
    message->clear();
    std::vector<uint8_t> chunk(65536);
    for (;;) {
        Event event;
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.Get();
        DWORD got = 0;
        IoResult result = IoResult::Done;
        DWORD error = ERROR_SUCCESS;
        if (!ReadFile(pipe, chunk.data(), (DWORD)chunk.size(), &got, &overlapped)) {
            error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                result = Finish(pipe, &overlapped, &got, stop, INFINITE);
                error = result == IoResult::Failed ? GetLastError() : ERROR_SUCCESS;
            }
        }
        if (error == ERROR_MORE_DATA) {
            message->insert(message->end(), chunk.begin(), chunk.begin() + got);
            continue; // the rest of the same message
        }
        if (error != ERROR_SUCCESS && error != ERROR_IO_PENDING) {
            return IoResult::Failed;
        }
        if (result != IoResult::Done) {
            return result;
        }
        message->insert(message->end(), chunk.begin(), chunk.begin() + got);
        return message->empty() ? IoResult::Failed : IoResult::Done;
    }
}

IoResult WaitForClient(HANDLE pipe, const StopCondition& stop) {
    Event event;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    if (ConnectNamedPipe(pipe, &overlapped)) {
        return IoResult::Done;
    }
    DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
        return IoResult::Done;
    }
    if (error != ERROR_IO_PENDING) {
        return IoResult::Failed;
    }
    DWORD unused;
    return Finish(pipe, &overlapped, &unused, stop, INFINITE);
}

IoResult ReadSome(HANDLE pipe, void* buffer, DWORD size, DWORD* got, const StopCondition& stop) {
    Event event;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    *got = 0;
    if (ReadFile(pipe, buffer, size, got, &overlapped)) {
        return *got ? IoResult::Done : IoResult::Failed;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return IoResult::Failed;
    }
    IoResult result = Finish(pipe, &overlapped, got, stop, INFINITE);
    return result == IoResult::Done && *got == 0 ? IoResult::Failed : result;
}

IoResult ReadExact(HANDLE pipe, void* buffer, DWORD size, const StopCondition& stop) {
    auto* bytes = static_cast<BYTE*>(buffer);
    while (size) {
        DWORD got = 0;
        IoResult result = ReadSome(pipe, bytes, size, &got, stop);
        if (result != IoResult::Done) {
            return result;
        }
        bytes += got;
        size -= got;
    }
    return IoResult::Done;
}

IoResult WriteAll(HANDLE pipe, const void* data, DWORD size, const StopCondition& stop, DWORD timeoutMs) {
    const auto* bytes = static_cast<const BYTE*>(data);
    while (size) {
        Event event;
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.Get();
        DWORD written = 0;
        IoResult result = IoResult::Done;
        if (!WriteFile(pipe, bytes, size, &written, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                return IoResult::Failed;
            }
            result = Finish(pipe, &overlapped, &written, stop, timeoutMs);
        }
        if (result != IoResult::Done) {
            return result;
        }
        if (written == 0) {
            return IoResult::Failed;
        }
        bytes += written;
        size -= written;
    }
    return IoResult::Done;
}

bool SleepUnless(DWORD ms, const StopCondition& stop) {
    for (DWORD slept = 0; slept < ms; slept += kSliceMs) {
        if (stop && stop()) {
            return false;
        }
        Sleep(ms - slept < kSliceMs ? ms - slept : kSliceMs);
    }
    return !(stop && stop());
}

} // namespace orvin::sim
