#include "devicelink/NPipe.h"

#include "base/trace/Trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kIdleWaitMs = 50;    // nothing to write: the longest wait, for the stop check
constexpr DWORD kPendingWaitMs = 20; // a write in progress

void SetFlag(NPipe* pipe, uint32_t flag) {
    InterlockedOr(&pipe->flags, (LONG)flag);
}
void ClearFlag(NPipe* pipe, uint32_t flag) {
    InterlockedAnd(&pipe->flags, ~(LONG)flag);
}

void NotifyOwner(NPipe* pipe) {
    HANDLE event = pipe->hNotifyEvent;
    if (event) {
        SetEvent(event);
    }
}

// One direction's operation in progress.
struct PendingIo {
    DWORD requested = 0; // 0: none in progress
    OVERLAPPED overlapped = {};
    bool completed = false; // an operation finished in this pass
    bool ahead = false;     // a read made before anything was waiting: takes what comes first
};

// Write step: false when it failed. Never blocks: the pass's wait covers the write.
bool WriteStep(NPipe* pipe, PendingIo& io) {
    if (!io.requested) {
        size_t taken = ByteFifoRead(&pipe->outFifo, pipe->writeChunk, kNPipeChunkSize);
        if (!taken) {
            return true;
        }
        NotifyOwner(pipe); // room in the OUT FIFO
        ResetEvent(pipe->hOutEvent);
        memset(&io.overlapped, 0, sizeof io.overlapped);
        io.overlapped.hEvent = pipe->hOutEvent;
        io.requested = (DWORD)taken;
        if (!WriteFile(pipe->hPipe, pipe->writeChunk, io.requested, nullptr, &io.overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            TRACE("PipeThread: WARNING: Write failed (Err=%d)", (int)GetLastError());
            io.requested = 0;
            return false;
        }
        // Completed at once or pending: either way the event tells, and a write the pipe
        // took at once is collected now rather than after another wait.
    }
    DWORD wait = WaitForSingleObject(pipe->hOutEvent, 0);
    if (wait == WAIT_TIMEOUT) {
        return true;
    }
    if (wait != WAIT_OBJECT_0) {
        TRACE("PipeThread: WARNING: Write Wait failed (WRes = %d, Err=%d)", (int)wait, (int)GetLastError());
        return false;
    }
    DWORD transferred = 0;
    const DWORD requested = io.requested;
    io.requested = 0;
    if (!GetOverlappedResult(pipe->hPipe, &io.overlapped, &transferred, TRUE)) {
        TRACE("PipeThread: WARNING: Write GetResult failed (Err=%d)", (int)GetLastError());
        return false;
    }
    if (transferred != requested) {
        TRACE("PipeThread: WARNING: Write: %d != %d", (int)requested, (int)transferred);
    }
    io.completed = true;
    return true;
}

// Read step: false when it failed. Never blocks: the pass's wait covers the read.
bool ReadStep(NPipe* pipe, PendingIo& io) {
    if (!io.requested) {
        // Never more than the IN FIFO can take: no received byte is ever dropped.
        DWORD size = (DWORD)ByteFifoFreeSpace(&pipe->inFifo);
        if (!size) {
            return true; // the reader makes room and wakes us
        }
        DWORD available = 0;
        if (!PeekNamedPipe(pipe->hPipe, nullptr, 0, nullptr, &available, nullptr) &&
            GetLastError() != ERROR_IO_PENDING) {
            TRACE("PipeThread: WARNING: Peek failed (Err=%d)", (int)GetLastError());
            return false;
        }
        // With nothing waiting, a read made ahead: it completes as soon as the service
        // writes, with what that write brought (up to the chunk), so a message arrives in
        // one completion. Otherwise exactly what is waiting.
        io.ahead = available == 0;
        if (available && size > available) {
            size = available;
        }
        if (size > kNPipeChunkSize) {
            size = kNPipeChunkSize;
        }
        ResetEvent(pipe->hInEvent);
        memset(&io.overlapped, 0, sizeof io.overlapped);
        io.overlapped.hEvent = pipe->hInEvent;
        io.requested = size;
        if (!ReadFile(pipe->hPipe, pipe->readChunk, size, nullptr, &io.overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            TRACE("PipeThread: WARNING: Read failed (Err=%d)", (int)GetLastError());
            io.requested = 0;
            return false;
        }
        // A read of bytes already waiting has usually completed: collected now.
    }
    DWORD wait = WaitForSingleObject(pipe->hInEvent, 0);
    if (wait == WAIT_TIMEOUT) {
        return true;
    }
    if (wait != WAIT_OBJECT_0) {
        TRACE("PipeThread: WARNING: Read Wait failed (WRes = %d, Err=%d)", (int)wait, (int)GetLastError());
        return false;
    }
    DWORD transferred = 0;
    const DWORD requested = io.requested;
    io.requested = 0;
    if (!GetOverlappedResult(pipe->hPipe, &io.overlapped, &transferred, TRUE)) {
        TRACE("PipeThread: WARNING: Read GetResult failed (Err=%d)", (int)GetLastError());
        return false;
    }
    if (transferred != requested && !io.ahead) {
        TRACE("PipeThread: WARNING: Read: %d != %d", (int)requested, (int)transferred);
    }
    ByteFifoWrite(&pipe->inFifo, pipe->readChunk, transferred);
    NotifyOwner(pipe); // bytes in the IN FIFO
    io.completed = true;
    return true;
}

void PipeThreadMain(void* data) {
    NPipe* pipe = static_cast<NPipe*>(data);
    PendingIo writeIo, readIo;
    ResetEvent(pipe->hInEvent);
    ResetEvent(pipe->hOutEvent);
    bool failed = false;
    for (;;) {
        writeIo.completed = readIo.completed = false;
        const bool writeOk = WriteStep(pipe, writeIo);
        if (!ReadStep(pipe, readIo) || !writeOk) {
            failed = true;
            break;
        }
        if (WorkerThreadIsStopRequested(pipe->thread)) {
            break;
        }
        if (readIo.completed || writeIo.completed) {
            continue; // a burst is not held to one chunk per wait
        }
        // Whatever happens next wakes us: a completion, bytes to write, room to read into.
        HANDLE handles[3] = {pipe->hWakeEvent};
        DWORD count = 1;
        if (writeIo.requested) {
            handles[count++] = pipe->hOutEvent;
        }
        if (readIo.requested) {
            handles[count++] = pipe->hInEvent;
        }
        DWORD wait =
            WaitForMultipleObjects(count, handles, FALSE, writeIo.requested ? kPendingWaitMs : kIdleWaitMs);
        if (wait == WAIT_FAILED) {
            // Not fatal by itself: the steps collect each operation's own result.
            Sleep(kPendingWaitMs);
        }
    }
    // Whatever is still in flight must not land in our buffers after we are gone.
    if (readIo.requested || writeIo.requested) {
        CancelIo(pipe->hPipe);
        DWORD ignored = 0;
        if (readIo.requested) {
            GetOverlappedResult(pipe->hPipe, &readIo.overlapped, &ignored, TRUE);
        }
        if (writeIo.requested) {
            GetOverlappedResult(pipe->hPipe, &writeIo.overlapped, &ignored, TRUE);
        }
    }
    if (failed) {
        ClearFlag(pipe, kNPipeConnected);
        NotifyOwner(pipe);
    }
}

} // namespace

char* NPipeMakeName(const char* server, const char* name) {
    if (!name || !*name) {
        return nullptr;
    }
    if (!server || !*server) {
        server = ".";
    }
    size_t size = strlen(server) + strlen(name) + 9;
    char* full = static_cast<char*>(malloc(size));
    if (full) {
        snprintf(full, size, "\\\\%s\\PIPE\\%s", server, name);
    }
    return full;
}

NPipe* NPipeCreate() {
    NPipe* pipe = static_cast<NPipe*>(calloc(1, sizeof(NPipe)));
    if (!pipe) {
        TRACE("NPIPE: ERROR: Can not allocate Pipe Object");
        return nullptr;
    }
    pipe->hPipe = INVALID_HANDLE_VALUE;
    InitializeCriticalSection(&pipe->lock);
    const char* error = nullptr;
    if (!(pipe->hInEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
        error = "NPIPE: ERROR: Can not create Pipe IN Event";
    } else if (!(pipe->hOutEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr))) {
        error = "NPIPE: ERROR: Can not create Pipe OUT Event";
    } else if (!(pipe->hWakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr))) {
        error = "NPIPE: ERROR: Can not create Pipe Wake Event";
    } else if (!(pipe->thread = WorkerThreadCreate())) {
        error = "NPIPE: ERROR: Can not create Pipe Thread Object";
    } else if (ByteFifoInit(&pipe->inFifo, pipe->inBuffer, kNPipeFifoSize) != 0) {
        error = "NPIPE: ERROR: Can not init Pipe IN FIFO";
    } else if (ByteFifoInit(&pipe->outFifo, pipe->outBuffer, kNPipeFifoSize) != 0) {
        error = "NPIPE: ERROR: Can not init Pipe OUT FIFO";
    }
    if (error) {
        TRACE("%s", error);
        NPipeDestroy(pipe);
        return nullptr;
    }
    return pipe;
}

int NPipeClose(NPipe* pipe) {
    if (!pipe) {
        return 1;
    }
    WorkerThreadRequestStop(pipe->thread);
    if (pipe->hWakeEvent) {
        SetEvent(pipe->hWakeEvent);
    }
    WorkerThreadStopAndWait(pipe->thread);
    EnterCriticalSection(&pipe->lock);
    if (pipe->flags & kNPipeServerEnd) {
        DisconnectNamedPipe(pipe->hPipe);
        ClearFlag(pipe, kNPipeServerEnd);
    }
    if (pipe->hPipe != INVALID_HANDLE_VALUE) {
        CloseHandle(pipe->hPipe);
        pipe->hPipe = INVALID_HANDLE_VALUE;
    }
    ClearFlag(pipe, kNPipeConnectPending | kNPipeConnected);
    LeaveCriticalSection(&pipe->lock);
    return 0;
}

void NPipeDestroy(NPipe* pipe) {
    if (!pipe) {
        return;
    }
    NPipeClose(pipe);
    if (pipe->hInEvent) {
        CloseHandle(pipe->hInEvent);
    }
    if (pipe->hOutEvent) {
        CloseHandle(pipe->hOutEvent);
    }
    if (pipe->hWakeEvent) {
        CloseHandle(pipe->hWakeEvent);
    }
    WorkerThreadDestroy(pipe->thread);
    ByteFifoRelease(&pipe->inFifo);
    ByteFifoRelease(&pipe->outFifo);
    DeleteCriticalSection(&pipe->lock);
    free(pipe);
}

int NPipeConnect(NPipe* pipe, const char* fullName, bool* connected) {
    if (!pipe || !fullName || !*fullName) {
        return 1;
    }
    if (pipe->flags & kNPipeServerEnd) {
        return 4;
    }
    NPipeClose(pipe);
    if (WaitNamedPipeA(fullName, NMPWAIT_USE_DEFAULT_WAIT)) {
        // Overlapped, so that the PipeThread's waits are real and a service that stops
        // reading can never block the thread (and with it the agent's shutdown).
        HANDLE handle = CreateFileA(fullName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            EnterCriticalSection(&pipe->lock);
            pipe->hPipe = handle;
            SetFlag(pipe, kNPipeConnected);
            LeaveCriticalSection(&pipe->lock);
            if (WorkerThreadStart(pipe->thread, PipeThreadMain, pipe) != kStatusOk) {
                TRACE("NPIPE: ERROR: Can not create Pipe instance thread");
                NPipeClose(pipe);
            }
        }
    }
    if (connected) {
        *connected = (pipe->flags & kNPipeConnected) != 0;
    }
    return 0;
}

int NPipeAbort(NPipe* pipe) {
    if (!pipe) {
        return 1;
    }
    ClearFlag(pipe, kNPipeConnected);
    WorkerThreadRequestStop(pipe->thread);
    SetEvent(pipe->hWakeEvent);
    return 0;
}

int NPipeSetNotifyEvent(NPipe* pipe, HANDLE event) {
    if (!pipe) {
        return 1;
    }
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&pipe->hNotifyEvent), event);
    return 0;
}

int NPipeResetFifos(NPipe* pipe) {
    if (!pipe) {
        return 1;
    }
    ByteFifoReset(&pipe->inFifo);
    ByteFifoReset(&pipe->outFifo);
    return 0;
}

int NPipeWrite(NPipe* pipe, const void* data, size_t* length) {
    if (!pipe || !data || !length) {
        return 1;
    }
    if (!*length) {
        return 1;
    }
    size_t heldBefore = 0;
    *length = ByteFifoWrite(&pipe->outFifo, data, *length, &heldBefore);
    // Bytes already waiting mean the PipeThread will come back for these too: only a
    // FIFO that was empty may have sent it to sleep.
    if (*length && heldBefore == 0) {
        SetEvent(pipe->hWakeEvent);
    }
    return 0;
}

int NPipeRead(NPipe* pipe, void* buffer, size_t* length) {
    if (!pipe || !buffer || !length) {
        return 1;
    }
    if (!*length) {
        return 1;
    }
    size_t heldBefore = 0;
    *length = ByteFifoRead(&pipe->inFifo, buffer, *length, &heldBefore);
    // Only a full FIFO keeps the PipeThread from reading (it then waits for room).
    if (*length && heldBefore == kNPipeFifoSize) {
        SetEvent(pipe->hWakeEvent);
    }
    return 0;
}

int NPipeGetReadCount(NPipe* pipe, size_t* count) {
    if (!pipe || !count) {
        return 1;
    }
    *count = ByteFifoCount(&pipe->inFifo);
    return 0;
}

int NPipeGetWriteSpace(NPipe* pipe, size_t* space) {
    if (!pipe || !space) {
        return 1;
    }
    *space = ByteFifoFreeSpace(&pipe->outFifo);
    return 0;
}

int NPipeIsConnected(NPipe* pipe, bool* connected) {
    if (!pipe || !connected) {
        return 1;
    }
    *connected = (pipe->flags & kNPipeConnected) != 0;
    return 0;
}
