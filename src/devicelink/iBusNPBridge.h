// iBusNPBridge: joins a bus to a connected pipe. Bus messages with the subscribed ids are
// queued and written to the pipe as whole messages (the 28-byte header and data, no other
// framing); whole messages read from the pipe are posted on the bus.
//
// Threads: the bridge's own thread does all pipe I/O; the bus's delivery thread only
// appends to the outgoing list (which has its own lock). Start/Stop/Destroy belong to the
// owner's thread.
#pragma once

#include "ItemQueue.h"
#include "NPipe.h"
#include "WorkerThread.h"
#include "iBus.h"

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
