// NPipe: the client end of one of the adapter service's named pipes.
//
// Callers never touch the pipe handle: they put bytes into the OUT FIFO and take bytes
// out of the IN FIFO, never blocking. A PipeThread per connection moves the bytes between
// the FIFOs and the pipe with overlapped reads and writes in chunks of at most 128 bytes.
// It keeps a read outstanding whenever the IN FIFO has room (made ahead, while nothing is
// waiting on the pipe: it completes with what the service's next write brings), and blocks on that
// read's completion, a write's completion and its wake event together: bytes written into
// the OUT FIFO and room made in the IN FIFO wake it at once. The waits are bounded (50 ms
// idle, 20 ms with a write in progress) so a stop request is always seen. When the pipe
// fails the thread ends and clears the connected flag: that is how the owner learns that
// the service went away.
//
// The owner may hand over an event of its own (NPipeSetNotifyEvent): the PipeThread sets
// it whenever bytes arrive in the IN FIFO, room is made in the OUT FIFO or the connection
// is lost, so a reader need not poll.
//
// Threads: Connect, Close and Destroy belong to the owner's thread. Write/Read and the
// counts may be called from any thread (each FIFO has its own lock); by convention one
// thread writes the OUT FIFO and one reads the IN FIFO.
#pragma once

#include "devicelink/ByteFifo.h"
#include "devicelink/WorkerThread.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr size_t kNPipeFifoSize = 1024;
constexpr size_t kNPipeChunkSize = 128;

enum : uint32_t {
    kNPipeConnectPending = 0x1, // server use only
    kNPipeConnected = 0x2,
    kNPipeServerEnd = 0x4, // never set by the agent
};

struct NPipe {
    volatile LONG flags;
    HANDLE hPipe;
    HANDLE hInEvent;
    HANDLE hOutEvent;
    ByteFifo inFifo;
    ByteFifo outFifo;
    uint8_t inBuffer[kNPipeFifoSize];
    uint8_t outBuffer[kNPipeFifoSize];
    uint8_t readChunk[kNPipeChunkSize];
    uint8_t writeChunk[kNPipeChunkSize];
    WorkerThread* thread;
    CRITICAL_SECTION lock;
    HANDLE hWakeEvent;            // auto-reset: OUT FIFO filled, IN FIFO drained, stop
    HANDLE volatile hNotifyEvent; // the owner's, or null
};

// "\\server\PIPE\name" (server "." when none), allocated with malloc; null for a missing
// or empty name. The caller frees it.
char* NPipeMakeName(const char* server, const char* name);

NPipe* NPipeCreate();
void NPipeDestroy(NPipe* pipe);
// Closes any previous connection, then opens the named pipe when an instance is free and
// starts the PipeThread. 0 with *connected telling whether it opened; 1 for a missing
// argument; 4 for a server end.
int NPipeConnect(NPipe* pipe, const char* fullName, bool* connected);
int NPipeClose(NPipe* pipe);
// Marks the connection broken from outside the PipeThread (for a stream that cannot be
// resynchronised): clears the connected flag and asks the PipeThread to end.
int NPipeAbort(NPipe* pipe);
// Empties both FIFOs.
int NPipeResetFifos(NPipe* pipe);
// The event the PipeThread sets for the owner (null: none). The owner keeps it alive
// until it has set null again.
int NPipeSetNotifyEvent(NPipe* pipe, HANDLE event);

// *length in: bytes offered / wanted; out: bytes accepted / delivered. 1 for a zero length.
int NPipeWrite(NPipe* pipe, const void* data, size_t* length);
int NPipeRead(NPipe* pipe, void* buffer, size_t* length);
int NPipeGetReadCount(NPipe* pipe, size_t* count);
int NPipeGetWriteSpace(NPipe* pipe, size_t* space);
int NPipeIsConnected(NPipe* pipe, bool* connected);
