#include "devicelink/iBus.h"

#include "base/trace/Trace.h"
#include "devicelink/ItemQueue.h"
#include "devicelink/WorkerThread.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

struct iBusMessageRecord {
    LONG refCount; // under the bus's messages lock
    iBusMessage content;
};
static_assert(offsetof(iBusMessageRecord, content) == 4);

struct iBusClient {
    void* userData;
    iBusCallback callback;
    uint32_t* ids;
    size_t idCount;
    bool unregistered; // during a dispatch: called no more, freed when the dispatch ends
};

struct iBus {
    iBusImplementation implementation;
    CRITICAL_SECTION messagesLock; // reference counts
    CRITICAL_SECTION clientsLock;  // the client list and every dispatch
    bool hasMessagesLock;
    bool hasClientsLock;
    ItemQueue* clients;   // no lock of its own: clientsLock covers it
    ItemQueue* messages;  // own lock; null when the implementation posts directly
    int dispatchDepth;    // under clientsLock: dispatches running (re-entered on one thread)
    bool hasUnregistered; // under clientsLock: clients marked during a dispatch
};

namespace {

constexpr DWORD kSpinCount = 4000;
volatile LONG g_nLiveMessages = 0;

struct CsGuard {
    CRITICAL_SECTION* cs;
    explicit CsGuard(CRITICAL_SECTION* c) : cs(c) { EnterCriticalSection(cs); }
    ~CsGuard() { LeaveCriticalSection(cs); }
};

void FreeClient(iBusClient* client) {
    free(client->ids);
    free(client);
}

bool IsListed(iBus* bus, iBusClient* client) {
    const size_t count = ItemQueueCount(bus->clients);
    for (size_t i = 0; i < count; ++i) {
        if (ItemQueueGetAt(bus->clients, i) == client) {
            return true;
        }
    }
    return false;
}

// Under clientsLock, after the outermost dispatch: frees the clients its callbacks unregistered.
void RemoveUnregistered(iBus* bus) {
    bus->hasUnregistered = false;
    for (size_t i = 0; i < ItemQueueCount(bus->clients);) {
        iBusClient* client = static_cast<iBusClient*>(ItemQueueGetAt(bus->clients, i));
        if (client && client->unregistered) {
            ItemQueueRemoveAt(bus->clients, i);
            FreeClient(client);
        } else {
            ++i;
        }
    }
}

} // namespace

iBus* iBusCreate(const iBusImplementation* implementation) {
    if (!implementation) {
        TRACE("IBUS: Create ERROR: Implementation = NULL!");
        return nullptr;
    }
    if (!implementation->Init) {
        TRACE("IBUS: Create ERROR: Implementation->Init = NULL!");
        return nullptr;
    }
    iBus* bus = static_cast<iBus*>(calloc(1, sizeof(iBus)));
    if (!bus) {
        TRACE("IBUS: Create ERROR: Can not allocate bus!");
        return nullptr;
    }
    bus->implementation = *implementation;
    bus->hasMessagesLock = InitializeCriticalSectionAndSpinCount(&bus->messagesLock, kSpinCount) != FALSE;
    if (!bus->hasMessagesLock) {
        TRACE("IBUS: Create ERROR: Can not create Messages Spin Lock!");
        iBusDestroy(bus);
        return nullptr;
    }
    bus->hasClientsLock = InitializeCriticalSectionAndSpinCount(&bus->clientsLock, kSpinCount) != FALSE;
    if (!bus->hasClientsLock) {
        TRACE("IBUS: Create ERROR: Can not create Clients Spin Lock!");
        iBusDestroy(bus);
        return nullptr;
    }
    bus->clients = ItemQueueCreate(false);
    if (!bus->clients) {
        TRACE("IBUS: Create ERROR: Can not create Clients Queue!");
        iBusDestroy(bus);
        return nullptr;
    }
    if (implementation->DirectPostMessage) {
        TRACE("IBUS: Create: Implementation supports DirectPostMessage! No Message Queue!");
        return bus;
    }
    bus->messages = ItemQueueCreate(true);
    if (!bus->messages) {
        TRACE("IBUS: Create ERROR: Can not create Message Queue!");
        iBusDestroy(bus);
        return nullptr;
    }
    return bus;
}

int iBusStart(iBus* bus) {
    if (!bus || !bus->implementation.Init) {
        return 0;
    }
    iBusStartRecord start = {bus, iBusDispatchMessage, bus->messages ? iBusFetchMessage : nullptr};
    return bus->implementation.Init(bus->implementation.context, &start);
}

void iBusDestroy(iBus* bus) {
    if (!bus) {
        return;
    }
    if (bus->messages) {
        if (ItemQueueCount(bus->messages)) {
            TRACE("IBUS: Destroy ERROR: there are messages in queue!");
            iBusMessageRecord* record = nullptr;
            while (iBusFetchMessage(bus, &record, 1)) {
                iBusReleaseMessage(bus, record);
            }
        }
        ItemQueueDestroy(bus->messages);
    }
    if (bus->clients) {
        if (ItemQueueCount(bus->clients)) {
            TRACE("IBUS: Destroy ERROR: there are registered clients!");
            while (ItemQueueCount(bus->clients)) {
                iBusUnregisterClient(bus, static_cast<iBusClient*>(ItemQueueGetAt(bus->clients, 0)));
            }
        }
        ItemQueueDestroy(bus->clients);
    }
    if (bus->hasMessagesLock) {
        DeleteCriticalSection(&bus->messagesLock);
    }
    if (bus->hasClientsLock) {
        DeleteCriticalSection(&bus->clientsLock);
    }
    free(bus);
}

iBusClient* iBusRegisterClient(iBus* bus, const iBusClientDescription* description, const uint32_t* ids,
                               size_t idCount) {
    if (!bus || !description || !bus->clients) {
        return nullptr;
    }
    const bool hasIds = ids && idCount > 0;
    if (hasIds && !description->callback) {
        return nullptr;
    }
    iBusClient* client = static_cast<iBusClient*>(calloc(1, sizeof(iBusClient)));
    if (!client) {
        return nullptr;
    }
    client->userData = description->userData;
    client->callback = description->callback;
    if (hasIds) {
        client->ids = static_cast<uint32_t*>(malloc(idCount * sizeof(uint32_t)));
        if (!client->ids) {
            free(client);
            return nullptr;
        }
        memcpy(client->ids, ids, idCount * sizeof(uint32_t));
        client->idCount = idCount;
    }
    CsGuard guard(&bus->clientsLock);
    if (!ItemQueueAppend(bus->clients, client)) {
        FreeClient(client);
        return nullptr;
    }
    return client;
}

int iBusUnregisterClient(iBus* bus, iBusClient* client) {
    if (!bus || !client || !bus->clients) {
        return 0;
    }
    CsGuard guard(&bus->clientsLock);
    if (bus->dispatchDepth > 0) {
        // A callback of the running dispatch (the only thread that can hold the lock now)
        // unregisters: taking the client off the list would shift the dispatch's place in
        // it. Mark it; the dispatch removes it when done.
        if (client->unregistered || !IsListed(bus, client)) {
            return 0;
        }
        client->unregistered = true;
        bus->hasUnregistered = true;
        return 1;
    }
    if (!ItemQueueRemove(bus->clients, client)) {
        return 0;
    }
    FreeClient(client);
    return 1;
}

iBusMessageRecord* iBusCreateMessage(iBus* bus, uint32_t id, uint32_t kind, const uint32_t* params,
                                     size_t paramCount, const void* data, size_t dataLength) {
    if (!bus || dataLength > UINT32_MAX - kBusHeaderSize - sizeof(LONG)) {
        return nullptr;
    }
    if (!data) {
        dataLength = 0;
    }
    iBusMessageRecord* record = static_cast<iBusMessageRecord*>(
        malloc(offsetof(iBusMessageRecord, content) + kBusHeaderSize + dataLength));
    if (!record) {
        return nullptr;
    }
    record->refCount = 1;
    iBusMessage& message = record->content;
    message.Size = (uint32_t)(kBusHeaderSize + dataLength);
    message.Id = id;
    message.Kind = kind;
    for (size_t i = 0; i < 4; ++i) {
        message.Param[i] = params && i < paramCount ? params[i] : 0;
    }
    if (dataLength) {
        memcpy(iBusMessageData(&message), data, dataLength);
    }
    InterlockedIncrement(&g_nLiveMessages);
    return record;
}

void iBusAddRefMessage(iBus* bus, iBusMessageRecord* record) {
    if (!bus || !record) {
        return;
    }
    CsGuard guard(&bus->messagesLock);
    ++record->refCount;
}

void iBusReleaseMessage(iBus* bus, iBusMessageRecord* record) {
    if (!bus || !record) {
        return;
    }
    bool last = false;
    {
        CsGuard guard(&bus->messagesLock);
        if (record->refCount > 0) {
            last = --record->refCount == 0;
        }
    }
    if (last) {
        free(record);
        InterlockedDecrement(&g_nLiveMessages);
    }
}

iBusMessage* iBusGetMessageContent(iBus* bus, iBusMessageRecord* record) {
    return bus && record ? &record->content : nullptr;
}

int iBusPostMessage(iBus* bus, iBusMessageRecord* record, void* argument) {
    if (!bus || !record) {
        return 0;
    }
    if (bus->implementation.DirectPostMessage) {
        return bus->implementation.DirectPostMessage(bus->implementation.context, record, argument);
    }
    iBusAddRefMessage(bus, record);
    if (!ItemQueueAppend(bus->messages, record)) {
        iBusReleaseMessage(bus, record);
        return 0;
    }
    if (bus->implementation.Wake) {
        bus->implementation.Wake(bus->implementation.context);
    }
    return 1;
}

int iBusSendMessage(iBus* bus, uint32_t id, uint32_t kind, const uint32_t* params, size_t paramCount,
                    const void* data, size_t dataLength, void* argument) {
    iBusMessageRecord* record = iBusCreateMessage(bus, id, kind, params, paramCount, data, dataLength);
    if (!record) {
        return 0;
    }
    int result = iBusPostMessage(bus, record, argument);
    iBusReleaseMessage(bus, record);
    return result;
}

int iBusFetchMessage(iBus* bus, iBusMessageRecord** record, int remove) {
    if (!bus || !record || !bus->messages) {
        return 0;
    }
    void* item = remove ? ItemQueueRemoveAt(bus->messages, 0) : ItemQueueGetAt(bus->messages, 0);
    if (!item) {
        return 0;
    }
    *record = static_cast<iBusMessageRecord*>(item);
    return 1;
}

int iBusDispatchMessage(iBus* bus, iBusMessageRecord* record) {
    if (!bus || !record || !bus->clients) {
        return 0;
    }
    const uint32_t id = record->content.Id;
    int called = 0;
    CsGuard guard(&bus->clientsLock);
    ++bus->dispatchDepth;
    // Clients registered by a callback join at the tail and wait for the next message.
    const size_t count = ItemQueueCount(bus->clients);
    for (size_t i = 0; i < count; ++i) {
        iBusClient* client = static_cast<iBusClient*>(ItemQueueGetAt(bus->clients, i));
        if (client && client->unregistered) {
            continue;
        }
        for (size_t k = 0; client && k < client->idCount; ++k) {
            if (client->ids[k] == id) {
                if (client->callback) {
                    client->callback(record, client->userData);
                    ++called;
                }
                break;
            }
        }
    }
    if (--bus->dispatchDepth == 0 && bus->hasUnregistered) {
        RemoveUnregistered(bus);
    }
    return called;
}

long iBusGetLiveMessageCount() {
    return g_nLiveMessages;
}

// ---------------------------------------------------------------------------------------
// Polling implementation

namespace {

constexpr uint32_t kDefaultPollMs = 20;

struct PollingContext {
    uint32_t pollMs;
    iBus* bus;
    iBusDispatchFn dispatch;
    iBusFetchFn fetch;
    WorkerThread* worker;
    HANDLE wakeEvent; // auto-reset: a post (or a stop request) for the delivery thread
};

void PollingWake(void* context) {
    SetEvent(static_cast<PollingContext*>(context)->wakeEvent);
}

void PollingStop(void* context) {
    PollingContext* ctx = static_cast<PollingContext*>(context);
    if (!ctx) {
        return;
    }
    WorkerThreadRequestStop(ctx->worker);
    SetEvent(ctx->wakeEvent);
    WorkerThreadStopAndWait(ctx->worker);
    ctx->bus = nullptr;
    ctx->dispatch = nullptr;
    ctx->fetch = nullptr;
}

void DeliveryLoop(void* context) {
    PollingContext* ctx = static_cast<PollingContext*>(context);
    for (;;) {
        iBusMessageRecord* record = nullptr;
        if (ctx->fetch(ctx->bus, &record, 1)) {
            // A full queue is drained before the stop request is looked at.
            if (ctx->dispatch(ctx->bus, record) == 0) {
                const iBusMessage* content = iBusGetMessageContent(ctx->bus, record);
                TRACE("IBUS: WARNING: No client for message (Id = 0x%x, Kind = %d), dropped",
                      (unsigned)content->Id, (int)content->Kind);
            }
            iBusReleaseMessage(ctx->bus, record);
            continue;
        }
        if (WorkerThreadIsStopRequested(ctx->worker)) {
            break;
        }
        // A post that came after the fetch has set the event: no message waits out the poll.
        WaitForSingleObject(ctx->wakeEvent, ctx->pollMs);
    }
}

int PollingInit(void* context, iBusStartRecord* start) {
    PollingContext* ctx = static_cast<PollingContext*>(context);
    if (!ctx) {
        return 0;
    }
    if (!start || !start->bus || !start->dispatch || !start->fetch) {
        PollingStop(ctx);
        return 0;
    }
    ctx->bus = start->bus;
    ctx->dispatch = start->dispatch;
    ctx->fetch = start->fetch;
    if (WorkerThreadStart(ctx->worker, DeliveryLoop, ctx) != kStatusOk) {
        PollingStop(ctx);
        return 0;
    }
    return 1;
}

} // namespace

int iBusPollingImplementationCreate(iBusImplementation* implementation, uint32_t pollIntervalMs) {
    if (!implementation) {
        return kStatusBadArgument;
    }
    memset(implementation, 0, sizeof *implementation);
    PollingContext* ctx = static_cast<PollingContext*>(calloc(1, sizeof(PollingContext)));
    WorkerThread* worker = WorkerThreadCreate();
    HANDLE wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!ctx || !worker || !wakeEvent) {
        free(ctx);
        free(worker);
        if (wakeEvent) {
            CloseHandle(wakeEvent);
        }
        return kStatusNoResource;
    }
    ctx->pollMs = pollIntervalMs ? pollIntervalMs : kDefaultPollMs;
    ctx->worker = worker;
    ctx->wakeEvent = wakeEvent;
    implementation->context = ctx;
    implementation->Init = PollingInit;
    implementation->DirectPostMessage = nullptr;
    implementation->Stop = PollingStop;
    implementation->Wake = PollingWake;
    return kStatusOk;
}

void iBusPollingImplementationDestroy(iBusImplementation* implementation) {
    if (!implementation) {
        return;
    }
    PollingContext* ctx = static_cast<PollingContext*>(implementation->context);
    if (ctx) {
        WorkerThreadDestroy(ctx->worker);
        CloseHandle(ctx->wakeEvent);
        free(ctx);
    }
    memset(implementation, 0, sizeof *implementation);
}
