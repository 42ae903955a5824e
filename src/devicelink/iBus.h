// iBus: the device link's in-process publish/subscribe channel.
//
// A producer posts a reference-counted message (a 28-byte header and optional data);
// clients subscribe to message ids; the delivery mechanism handed to the bus at creation
// (its implementation) carries posted messages to the subscribed clients. The agent
// delivers with the polling implementation: one worker thread that drains the queue.
//
// Threads: posting, creating, releasing and (un)registering are safe from any thread.
// Reference counts change only under the messages lock. Each dispatch holds the clients
// lock for its whole duration and runs the callbacks on the delivery thread with that lock
// held: callbacks must be short, and a callback that keeps a message takes its own
// reference. Both locks are critical sections, so the holding thread may re-enter them:
// a callback may (un)register clients. A client unregistered during a dispatch is called
// no more, but stays listed until the dispatch ends, so every other client still gets
// the message.
//
// The polling delivery thread sleeps its poll interval when the queue is empty, but a
// post wakes it at once (the implementation's optional Wake): the interval is only the
// longest wait, for the stop check.
//
// Every operation answers a null argument with its failure value (0 or null).
#pragma once

#include <cstddef>
#include <cstdint>

// The message content: the unit that also crosses the adapter service's pipe byte for
// byte (little-endian, no padding).
struct iBusMessage {
    uint32_t Size; // 28 + number of data bytes
    uint32_t Id;   // routing id, matched against the clients' id lists
    uint32_t Kind;
    uint32_t Param[4];
    // Size - 28 data bytes follow.
};
static_assert(sizeof(iBusMessage) == 28);
constexpr uint32_t kBusHeaderSize = sizeof(iBusMessage);

inline uint8_t* iBusMessageData(iBusMessage* message) {
    return reinterpret_cast<uint8_t*>(message + 1);
}
inline const uint8_t* iBusMessageData(const iBusMessage* message) {
    return reinterpret_cast<const uint8_t*>(message + 1);
}

// A reference count followed by the content. Holders pass the record around and reach
// the content through iBusGetMessageContent.
struct iBusMessageRecord;

struct iBus;

typedef int (*iBusDispatchFn)(iBus* bus, iBusMessageRecord* record);
typedef int (*iBusFetchFn)(iBus* bus, iBusMessageRecord** record, int remove);

// What the bus hands to its implementation's Init.
struct iBusStartRecord {
    iBus* bus;
    iBusDispatchFn dispatch;
    iBusFetchFn fetch; // null when the bus has no message queue
};

struct iBusImplementation {
    void* context;
    int (*Init)(void* context, iBusStartRecord* start);                                 // non-zero on success
    int (*DirectPostMessage)(void* context, iBusMessageRecord* record, void* argument); // optional
    void (*Stop)(void* context);
    void (*Wake)(void* context); // optional: called after each post appended to the queue
};

typedef void (*iBusCallback)(iBusMessageRecord* record, void* userData);

struct iBusClientDescription {
    void* userData;
    iBusCallback callback;
};

struct iBusClient;

iBus* iBusCreate(const iBusImplementation* implementation);
int iBusStart(iBus* bus);
// The owner runs the implementation's Stop first.
void iBusDestroy(iBus* bus);

iBusClient* iBusRegisterClient(iBus* bus, const iBusClientDescription* description, const uint32_t* ids,
                               size_t idCount);
int iBusUnregisterClient(iBus* bus, iBusClient* client);

// A new record with reference count 1. At most four params are taken; data are copied.
iBusMessageRecord* iBusCreateMessage(iBus* bus, uint32_t id, uint32_t kind, const uint32_t* params,
                                     size_t paramCount, const void* data, size_t dataLength);
void iBusAddRefMessage(iBus* bus, iBusMessageRecord* record);
void iBusReleaseMessage(iBus* bus, iBusMessageRecord* record);
iBusMessage* iBusGetMessageContent(iBus* bus, iBusMessageRecord* record);

// The poster keeps its own reference and releases it when done.
int iBusPostMessage(iBus* bus, iBusMessageRecord* record, void* argument);
// Create, post, release the creator's reference. The post's result (0 when creation failed).
int iBusSendMessage(iBus* bus, uint32_t id, uint32_t kind, const uint32_t* params, size_t paramCount,
                    const void* data, size_t dataLength, void* argument);

// 1 when the queue had a message: the oldest one; with `remove` it is taken off the
// queue and the queue's reference passes to the caller.
int iBusFetchMessage(iBus* bus, iBusMessageRecord** record, int remove);
// Calls every client subscribed to the message's id once; returns how many were called.
int iBusDispatchMessage(iBus* bus, iBusMessageRecord* record);

// Message records alive in the process (created and not yet freed): a leak check.
long iBusGetLiveMessageCount();

// The polling implementation: a worker thread that fetches and dispatches until the
// queue is empty, then waits for the next post, at most the poll interval (0 means
// 20 ms). A message that reaches no client is traced as dropped.
int iBusPollingImplementationCreate(iBusImplementation* implementation, uint32_t pollIntervalMs);
void iBusPollingImplementationDestroy(iBusImplementation* implementation);
