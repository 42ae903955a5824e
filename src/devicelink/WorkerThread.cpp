#include "devicelink/WorkerThread.h"

#include <process.h>

#include <cstdlib>

namespace {

constexpr DWORD kStopPollMs = 100;

unsigned __stdcall ThreadMain(void* arg) {
    WorkerThread* thread = static_cast<WorkerThread*>(arg);
    thread->routine(thread->userData);
    WorkerThreadRoutine exitRoutine = thread->exitRoutine;
    void* userData = thread->userData;
    InterlockedAnd(&thread->flags, ~(LONG)kWorkerThreadRunning);
    if (exitRoutine) {
        exitRoutine(userData);
    }
    return 0;
}

// Closes the handle of a thread that has ended. The handle is kept until then so the
// owner can wait for the thread itself, not only for its running flag.
void Join(WorkerThread* thread) {
    if (thread->hThread) {
        WaitForSingleObject(thread->hThread, INFINITE);
        CloseHandle(thread->hThread);
        thread->hThread = nullptr;
    }
}

} // namespace

WorkerThread* WorkerThreadCreate() {
    return static_cast<WorkerThread*>(calloc(1, sizeof(WorkerThread)));
}

int WorkerThreadStart(WorkerThread* thread, WorkerThreadRoutine routine, void* userData) {
    if (!thread || !routine) {
        return kStatusBadArgument;
    }
    if (thread->hThread) {
        if (WaitForSingleObject(thread->hThread, 0) != WAIT_OBJECT_0) {
            return kStatusWrongState;
        }
        Join(thread); // it ended on its own; start afresh
    }
    thread->flags = 0;
    thread->routine = routine;
    thread->exitRoutine = nullptr;
    thread->userData = userData;
    // Running is set before the thread exists, so a stop requested right after Start
    // always waits for the routine.
    thread->flags = kWorkerThreadRunning;
    uintptr_t handle = _beginthreadex(nullptr, 0, ThreadMain, thread, 0, nullptr);
    if (!handle) {
        thread->flags = 0;
        return kStatusNoResource;
    }
    thread->hThread = reinterpret_cast<HANDLE>(handle);
    return kStatusOk;
}

void WorkerThreadRequestStop(WorkerThread* thread) {
    if (thread) {
        InterlockedOr(&thread->flags, (LONG)kWorkerThreadStopRequested);
    }
}

bool WorkerThreadIsStopRequested(const WorkerThread* thread) {
    return thread && (thread->flags & kWorkerThreadStopRequested) != 0;
}

bool WorkerThreadIsRunning(const WorkerThread* thread) {
    return thread && (thread->flags & kWorkerThreadRunning) != 0;
}

void WorkerThreadStopAndWait(WorkerThread* thread) {
    if (!thread) {
        return;
    }
    WorkerThreadRequestStop(thread);
    // Polls every 100 ms, but wakes at once when the thread ends.
    while (WorkerThreadIsRunning(thread)) {
        if (thread->hThread) {
            WaitForSingleObject(thread->hThread, kStopPollMs);
        } else {
            Sleep(kStopPollMs);
        }
    }
    Join(thread);
    InterlockedAnd(&thread->flags, ~(LONG)kWorkerThreadStopRequested);
}

void WorkerThreadDestroy(WorkerThread* thread) {
    if (thread) {
        WorkerThreadStopAndWait(thread);
        free(thread);
    }
}
