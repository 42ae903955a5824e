// iBusNPBridge: joins a bus to a connected pipe. Bus messages with the subscribed ids are
// queued and written to the pipe as whole messages (the 28-byte header and data, no other
// framing); whole messages read from the pipe are posted on the bus.
//
// The bridge thread waits on its wake event, at most 20 ms (the stop check): a message
// queued for the pipe, bytes arriving in the pipe's IN FIFO, room made in its OUT FIFO
// and a lost connection all set it. While the pipe is not connected, messages stay in the
// outgoing list: bytes put into a dead pipe's OUT FIFO would be emptied away with the
// next connection, whereas the list goes out after the next greeting.
//
// Threads: the bridge's own thread does all pipe I/O; the bus's delivery thread only
// appends to the outgoing list (which has its own lock). Start/Stop/Destroy belong to the
// owner's thread.
#pragma once

#include "devicelink/iBus.h"
#include "devicelink/ItemQueue.h"
#include "devicelink/NPipe.h"
#include "devicelink/WorkerThread.h"

#include <cstdint>

// The largest message the pipe-to-bus direction can ever take in: the whole message must
// fit the IN FIFO. A header announcing more, or less than a header, is a broken stream.
constexpr uint32_t kBridgeMaxIncomingSize = kBusHeaderSize + kNPipeFifoSize;

struct iBusNPBridge {
    iBus* bus;
    NPipe* pipe;
    WorkerThread* thread;
    ItemQueue* outgoing; // message records waiting to be written, one reference each
    iBusClient* client;
    iBusMessage pendingHeader; // all zero when no header is pending
    bool headerPending;
    volatile LONG streamBroken; // set when the stream could not be resynchronised
    HANDLE wakeEvent;           // auto-reset: work for the bridge thread
};

iBusNPBridge* iBusNPBridgeCreate();
// 1 on success; 0 for a missing argument, a zero count or a bridge that already has a pipe.
int iBusNPBridgeStart(iBusNPBridge* bridge, iBus* bus, const uint32_t* ids, size_t idCount, NPipe* pipe);
// Stops the thread and leaves the bus. Messages still waiting go out after the next start.
void iBusNPBridgeStop(iBusNPBridge* bridge);
// Forgets the half-received message: for a fresh connection.
void iBusNPBridgeResetIncoming(iBusNPBridge* bridge);
// The owner stops the bridge first. Records still waiting are released.
void iBusNPBridgeDestroy(iBusNPBridge* bridge);
