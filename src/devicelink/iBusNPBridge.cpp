#include "devicelink/iBusNPBridge.h"

#include "base/trace/Trace.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr DWORD kIdleSleepMs = 20;

// Runs on the bus's delivery thread: only queue the message.
void QueueForPipe(iBusMessageRecord* record, void* data) {
    iBusNPBridge* bridge = static_cast<iBusNPBridge*>(data);
    // The reference comes first: once in the list, the bridge thread may write the message
    // and release its reference before this call would have taken it.
    iBusAddRefMessage(bridge->bus, record);
    if (!ItemQueueAppend(bridge->outgoing, record)) {
        iBusReleaseMessage(bridge->bus, record);
        TRACE("iBusNPBridge: ERROR: Can not add message from iBus to queue");
        return;
    }
    SetEvent(bridge->wakeEvent);
    TRACE_LEVEL(2, "BusNPBridge: Message received from Bus");
}

// Bus to pipe: true when a message was dealt with.
bool BusToPipe(iBusNPBridge* bridge) {
    iBusMessageRecord* record = static_cast<iBusMessageRecord*>(ItemQueueGetAt(bridge->outgoing, 0));
    if (!record) {
        return false;
    }
    bool error = false;
    iBusMessage* content = iBusGetMessageContent(bridge->bus, record);
    if (!content) {
        TRACE("iBusNPBridge: ERROR: Can not get message content");
        error = true;
    } else if (content->Size > kNPipeFifoSize) {
        // Could never be written and would hold back every later message.
        TRACE("iBusNPBridge: ERROR: Message too large for the pipe (%d > %d bytes), dropped",
              (int)content->Size, (int)kNPipeFifoSize);
        error = true;
    } else {
        bool connected = false;
        if (NPipeIsConnected(bridge->pipe, &connected) != 0 || !connected) {
            return false; // waits for the next connection
        }
        size_t space = 0;
        NPipeGetWriteSpace(bridge->pipe, &space);
        if (space < content->Size) {
            return false; // waits at the head of the list
        }
        size_t written = content->Size;
        int status = NPipeWrite(bridge->pipe, content, &written);
        if (status != 0) {
            TRACE("iBusNPBridge: WARNING: Pipe Write Error#%d", status);
            error = true;
        } else if (written != content->Size) {
            TRACE("iBusNPBridge: ERROR: %d from %d bytes written", (int)written, (int)content->Size);
            error = true;
        } else {
            TRACE_LEVEL(2, "BusNPBridge: Message sent to NPipe (%d bytes)", (int)content->Size);
        }
    }
    ItemQueueRemove(bridge->outgoing, record);
    iBusReleaseMessage(bridge->bus, record);
    if (error) {
        TRACE("iBusNPBridge: ERROR: Error reported during iBus => Pipe");
    }
    return true;
}

void ClearPending(iBusNPBridge* bridge) {
    memset(&bridge->pendingHeader, 0, sizeof bridge->pendingHeader);
    bridge->headerPending = false;
}

// Pipe to bus: true when a message was posted.
bool PipeToBus(iBusNPBridge* bridge) {
    if (bridge->streamBroken) {
        return false;
    }
    if (!bridge->headerPending) {
        size_t waiting = 0;
        NPipeGetReadCount(bridge->pipe, &waiting);
        if (waiting < kBusHeaderSize) {
            return false;
        }
        size_t got = kBusHeaderSize;
        NPipeRead(bridge->pipe, &bridge->pendingHeader, &got);
        if (got != kBusHeaderSize) {
            TRACE("iBusNPBridge: ERROR: Header Read Error (%d != %d)", (int)got, (int)kBusHeaderSize);
            ClearPending(bridge);
            return false;
        }
        const uint32_t size = bridge->pendingHeader.Size;
        if (size < kBusHeaderSize || size > kBridgeMaxIncomingSize) {
            // Nothing after this can be framed again: drop the connection; the owner
            // reconnects and greets afresh.
            TRACE("iBusNPBridge: ERROR: Bad message size (%u bytes), stream broken, closing the pipe", size);
            TRACE("iBusNPBridge: ERROR: Error reported during Pipe => iBus");
            ClearPending(bridge);
            bridge->streamBroken = 1;
            NPipeAbort(bridge->pipe);
            return false;
        }
        bridge->headerPending = true;
    }

    const iBusMessage& header = bridge->pendingHeader;
    const size_t dataLength = header.Size - kBusHeaderSize;
    uint8_t* data = nullptr;
    if (dataLength) {
        size_t waiting = 0;
        NPipeGetReadCount(bridge->pipe, &waiting);
        if (waiting < dataLength) {
            return false;
        }
        data = static_cast<uint8_t*>(malloc(dataLength));
        if (!data) {
            TRACE("iBusNPBridge: ERROR: Can not allocate Data buffer");
            return false;
        }
        size_t got = dataLength;
        NPipeRead(bridge->pipe, data, &got);
        if (got != dataLength) {
            TRACE("iBusNPBridge: ERROR: Data Read Error (%d != %d)", (int)got, (int)dataLength);
            free(data);
            return false;
        }
    }

    bool posted = false;
    iBusMessageRecord* record =
        iBusCreateMessage(bridge->bus, header.Id, header.Kind, header.Param, 4, data, dataLength);
    if (!record) {
        TRACE("iBusNPBridge: ERROR: Can not create iBus message");
    } else {
        posted = iBusPostMessage(bridge->bus, record, nullptr) != 0;
        if (posted) {
            TRACE_LEVEL(2, "BusNPBridge: Message received from NPipe passed to Bus (Data=%d bytes)",
                        (int)dataLength);
        } else {
            TRACE("iBusNPBridge: ERROR: Can not Post iBus message");
        }
        iBusReleaseMessage(bridge->bus, record);
    }
    ClearPending(bridge);
    free(data);
    return posted;
}

void BridgeThreadMain(void* arg) {
    iBusNPBridge* bridge = static_cast<iBusNPBridge*>(arg);
    for (;;) {
        const bool sent = BusToPipe(bridge);
        const bool received = PipeToBus(bridge);
        if (WorkerThreadIsStopRequested(bridge->thread)) {
            break;
        }
        if (!sent && !received) {
            WaitForSingleObject(bridge->wakeEvent, kIdleSleepMs);
        }
    }
}

} // namespace

iBusNPBridge* iBusNPBridgeCreate() {
    iBusNPBridge* bridge = static_cast<iBusNPBridge*>(calloc(1, sizeof(iBusNPBridge)));
    if (!bridge) {
        return nullptr;
    }
    bridge->outgoing = ItemQueueCreate(true);
    bridge->thread = WorkerThreadCreate();
    bridge->wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!bridge->outgoing || !bridge->thread || !bridge->wakeEvent) {
        ItemQueueDestroy(bridge->outgoing);
        WorkerThreadDestroy(bridge->thread);
        if (bridge->wakeEvent) {
            CloseHandle(bridge->wakeEvent);
        }
        free(bridge);
        return nullptr;
    }
    return bridge;
}

int iBusNPBridgeStart(iBusNPBridge* bridge, iBus* bus, const uint32_t* ids, size_t idCount, NPipe* pipe) {
    if (!bridge || !bus || !ids || !idCount || !pipe || bridge->pipe) {
        return 0;
    }
    bridge->pipe = pipe;
    bridge->bus = bus;
    bridge->streamBroken = 0;
    NPipeSetNotifyEvent(pipe, bridge->wakeEvent);
    if (WorkerThreadStart(bridge->thread, BridgeThreadMain, bridge) != kStatusOk) {
        NPipeSetNotifyEvent(pipe, nullptr);
        bridge->pipe = nullptr;
        return 0;
    }
    iBusClientDescription description = {bridge, QueueForPipe};
    bridge->client = iBusRegisterClient(bus, &description, ids, idCount);
    return bridge->client != nullptr;
}

void iBusNPBridgeStop(iBusNPBridge* bridge) {
    if (!bridge) {
        return;
    }
    WorkerThreadRequestStop(bridge->thread);
    SetEvent(bridge->wakeEvent);
    WorkerThreadStopAndWait(bridge->thread);
    if (bridge->client) {
        iBusUnregisterClient(bridge->bus, bridge->client);
        bridge->client = nullptr;
    }
    if (bridge->pipe) {
        NPipeSetNotifyEvent(bridge->pipe, nullptr);
    }
    bridge->pipe = nullptr;
    // The bus is kept: records in the outgoing list are released through it.
}

void iBusNPBridgeResetIncoming(iBusNPBridge* bridge) {
    if (bridge) {
        ClearPending(bridge);
        bridge->streamBroken = 0;
    }
}

void iBusNPBridgeDestroy(iBusNPBridge* bridge) {
    if (!bridge) {
        return;
    }
    WorkerThreadDestroy(bridge->thread);
    // Records still waiting hold a reference each; give them back rather than leak them.
    while (void* record = ItemQueueRemoveAt(bridge->outgoing, 0)) {
        iBusReleaseMessage(bridge->bus, static_cast<iBusMessageRecord*>(record));
    }
    ItemQueueDestroy(bridge->outgoing);
    CloseHandle(bridge->wakeEvent);
    free(bridge);
}
