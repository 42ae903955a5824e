// WorkerThread: the device link's thread object. A routine runs on its own thread and
// sees a stop request by polling WorkerThreadIsStopRequested; a thread is never ended
// by force. StopAndWait returns only once the routine has returned and the thread is gone.
//
// Start, StopAndWait and Destroy belong to the owner's thread; RequestStop and the two
// tests may be called from any thread.
#pragma once

#include <windows.h>

#include <cstdint>

typedef void (*WorkerThreadRoutine)(void* userData);

enum : uint32_t {
    kWorkerThreadRunning = 0x1,
    kWorkerThreadStopRequested = 0x2,
};

struct WorkerThread {
    volatile LONG flags; // kWorkerThreadRunning | kWorkerThreadStopRequested
    HANDLE hThread;      // null when no thread has been started or it has been joined
    WorkerThreadRoutine routine;
    WorkerThreadRoutine exitRoutine;
    void* userData;
};

// Device-link status results.
enum : int {
    kStatusOk = 0,
    kStatusBadArgument = 1,
    kStatusNoResource = 2,
    kStatusWrongState = 4,
};

WorkerThread* WorkerThreadCreate();
// 0 on success; 1 for a null thread or routine; 4 when a thread is still running; 2 when
// the system refused to create it.
int WorkerThreadStart(WorkerThread* thread, WorkerThreadRoutine routine, void* userData);
void WorkerThreadRequestStop(WorkerThread* thread);
bool WorkerThreadIsStopRequested(const WorkerThread* thread);
bool WorkerThreadIsRunning(const WorkerThread* thread);
// Requests the stop, polls every 100 ms until the routine has ended, then clears the request.
void WorkerThreadStopAndWait(WorkerThread* thread);
// StopAndWait, then frees the object.
void WorkerThreadDestroy(WorkerThread* thread);
