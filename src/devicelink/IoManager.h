// CIoManager: the agent's single door to the adapter.
//
// It keeps a connection to the adapter service's pipe "VCORE\IOMAN" alive through a small
// phase machine (0 prepare, 1 connect, 2 greet, 3 connected, 4 disconnect), joins that
// pipe to a private bus with the bridge, turns the agent's requests into bus messages and
// hands every adapter event back to its owner as an IMM message.
//
// Threads. Open and Close run on the owner's thread, never inside the owner callback (a
// Close from there is refused, traced: it would wait for the very thread it runs on), and
// never two at once; IsAdapterAvailable and the accessors run there too.
// SendEvent may be called from any thread (the GUI thread's requests, the voice dialogues'
// reports) at any time, also while Close runs: each send holds the connection under a
// shared lock, and Close takes that lock exclusively only to detach the connection, before
// it drains and tears it down. A send that comes after the detach finds the manager closed
// and sends nothing; none can touch a connection being freed.
// The owner callback runs on the bus's delivery thread with the bus's clients lock held:
// the owner hands the event over to its own thread or deals with it briefly. Close hands
// the callback and user data back atomically, callback first, and the delivery thread
// reads them the other way round, so a callback still seen during a close comes with its
// user data. An open manager runs four threads: its own, the bus's delivery thread, the
// bridge's and the PipeThread.
//
// Requests made while there is no connection to the service (before the first greeting,
// or while the service restarts) wait, up to kIoManMaxWaiting, and are sent right after
// the next greeting, in order; the start-up announcements thus reach a service that the
// manager is still connecting to.
#pragma once

#include "devicelink/iBus.h"
#include "devicelink/iBusNPBridge.h"
#include "devicelink/Imm.h"
#include "devicelink/NPipe.h"
#include "devicelink/WorkerThread.h"

#include <atomic>
#include <cstdint>

typedef void (*IoManagerCallback)(const IMM* message, uint32_t length, void* userData);

constexpr uint32_t kNoAdapter = 5;
constexpr uint32_t kAdapterIdBase = 1000;

// Ids on the bus and the pipe for adapter `index`.
constexpr uint32_t IoManToServiceId(uint32_t index) {
    return (kAdapterIdBase << 16) | index;
}
constexpr uint32_t IoManFromServiceId(uint32_t index) {
    return (index << 16) | kAdapterIdBase;
}

// The agent's internal request codes and what the service knows them as. -1: unknown.
int64_t IoManTranslateInternalCode(uint32_t internalCode);

class CIoManager;

struct IoManConnection {
    CIoManager* manager; // the owner of this connection, for its thread
    iBusImplementation implementation;
    iBus* bus;
    iBusNPBridge* bridge;
    iBusClient* client;
    WorkerThread* thread;
    volatile LONG phase; // written by the manager thread only
    // Requests made while the bridge is not running wait here (one reference each) and
    // follow the next greeting; the manager thread posts them, under the lock, as it
    // enters the connected phase, so none can slip in behind them.
    CRITICAL_SECTION waitingLock;
    ItemQueue* waiting;
    HANDLE wakeEvent;     // the manager thread's sleeps end at once on a stop request
    NPipe* volatile pipe; // the manager thread's pipe object, for Close to look at; null when none
};

// How long Close lets requests already sent (the closing status among them) go out.
constexpr DWORD kIoManCloseDrainMs = 500;

// At most this many requests wait for the service; beyond it the oldest is dropped (traced).
constexpr size_t kIoManMaxWaiting = 64;

class CIoManager {
public:
    CIoManager() = default;
    virtual ~CIoManager();
    CIoManager(const CIoManager&) = delete;
    CIoManager& operator=(const CIoManager&) = delete;

    // 1 on success; 0 (and closed) for a null callback, an index above 4 or any failure.
    int Open(IoManagerCallback callback, uint32_t adapterIndex, void* userData);
    void Close();
    // Sends a request to the service: with an IMM message as kind 3 (the IOCTL code as the
    // extra value), without one as kind 2 carrying (IOCTL code, value).
    void SendEvent(uint32_t value, uint32_t internalCode, const IMM* message);
    // Open, connected, and the service enumerates at least one adapter.
    bool IsAdapterAvailable();

    bool IsOpen() const { return m_pConnection.load() != nullptr; }
    int Phase() const {
        IoManConnection* c = m_pConnection.load();
        return c ? (int)c->phase : -1;
    }
    uint32_t AdapterIndex() const { return m_uAdapterIndex; }
    int LowCost() const { return m_nLowCost; }

private:
    // SendEvent's work on a connection it holds.
    void SendOn(IoManConnection* c, uint32_t value, uint32_t internalCode, const IMM* message);
    // Posts the request, or keeps it for the next connection. False when it was dropped.
    static bool PostOrHold(IoManConnection* c, iBusMessageRecord* record);
    // Nothing sent waits in the bus queue, the bridge's list or the pipe's OUT FIFO.
    static bool OutgoingDrained(IoManConnection* c);
    static void ReceiveHandler(iBusMessageRecord* record, void* userData);
    static void ThreadMain(void* userData);

    std::atomic<IoManagerCallback> m_pCallback{nullptr};
    std::atomic<void*> m_pUserData{nullptr};
    uint32_t m_uAdapterIndex = kNoAdapter;
    std::atomic<int> m_nLowCost{1};
    // Null when not open. Set by Open; detached by Close under m_SendLock held exclusively,
    // which every SendEvent holds shared for as long as it uses the connection.
    std::atomic<IoManConnection*> m_pConnection{nullptr};
    SRWLOCK m_SendLock = SRWLOCK_INIT;
};
