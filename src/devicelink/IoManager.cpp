#include "devicelink/IoManager.h"

#include "base/trace/Trace.h"
#include "devicelink/AdapterEnum.h"
#include "devicelink/MessageCatalogue.h"

#include <cstdlib>

namespace {

constexpr uint32_t kPollIntervalMs = 100;
constexpr DWORD kRetrySleepMs = 20;
constexpr DWORD kConnectedCheckMs = 500;
const char* const kPipeName = "VCORE\\IOMAN";

enum Phase { kPrepare = 0, kConnect = 1, kGreet = 2, kConnected = 3, kDisconnect = 4 };

const uint32_t kIoctlCodes[] = {0xF000000F, 0xF000000A, 0xF000000C, 0xF000000E,
                                0xF000000D, 0xF0000010, 0xF0000011};

// The manager whose owner callback runs on this thread, if any.
thread_local const CIoManager* t_pInCallback = nullptr;

} // namespace

int64_t IoManTranslateInternalCode(uint32_t internalCode) {
    return internalCode < sizeof kIoctlCodes / sizeof kIoctlCodes[0] ? (int64_t)kIoctlCodes[internalCode]
                                                                     : -1;
}

CIoManager::~CIoManager() {
    Close();
}

int CIoManager::Open(IoManagerCallback callback, uint32_t adapterIndex, void* userData) {
    if (m_pConnection) {
        return 0; // already open: left as it is
    }
    if (!callback || adapterIndex >= kNoAdapter) {
        Close();
        return 0;
    }
    m_pCallback = callback;
    m_uAdapterIndex = adapterIndex;
    m_pUserData = userData;
    IoManConnection* c = static_cast<IoManConnection*>(calloc(1, sizeof(IoManConnection)));
    m_pConnection = c;
    if (c) {
        c->manager = this;
        InitializeCriticalSection(&c->waitingLock);
        c->waiting = ItemQueueCreate(false);
        c->wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    bool ok = c && c->waiting && c->wakeEvent &&
              iBusPollingImplementationCreate(&c->implementation, kPollIntervalMs) == kStatusOk;
    ok = ok && (c->bus = iBusCreate(&c->implementation)) != nullptr;
    ok = ok && iBusStart(c->bus);
    ok = ok && (c->bridge = iBusNPBridgeCreate()) != nullptr;
    if (ok) {
        const uint32_t ids[] = {IoManFromServiceId(adapterIndex)};
        const iBusClientDescription description = {this, ReceiveHandler};
        c->client = iBusRegisterClient(c->bus, &description, ids, 1);
        ok = c->client != nullptr;
    }
    ok = ok && (c->thread = WorkerThreadCreate()) != nullptr;
    ok = ok && WorkerThreadStart(c->thread, ThreadMain, c) == kStatusOk;
    if (!ok) {
        Close();
        return 0;
    }
    return 1;
}

void CIoManager::Close() {
    if (t_pInCallback == this) {
        TRACE("IOMAN: ERROR: Close called from the owner callback! Refused");
        return;
    }
    // Nothing more reaches the owner from here on. The callback goes first: a receive
    // handler that still sees it has already read the user data (see ReceiveHandler).
    m_pCallback.store(nullptr);
    m_pUserData.store(nullptr);
    // Detached first: a send from another thread either finished with the connection before
    // this or finds none. What they sent goes out in the drain below.
    AcquireSRWLockExclusive(&m_SendLock);
    IoManConnection* c = m_pConnection.exchange(nullptr);
    ReleaseSRWLockExclusive(&m_SendLock);
    if (c) {
        // What the owner sent last (its closing status) goes out before the pipe does: the
        // bus, the bridge and the PipeThread each hand it on within milliseconds. Seen
        // drained twice in a row, so a message between the bus queue and the bridge's list
        // (fetched, not yet dispatched) is not missed.
        if (c->phase == kConnected) {
            int drained = 0;
            for (DWORD waited = 0; drained < 2 && waited < kIoManCloseDrainMs; waited += 5) {
                drained = OutgoingDrained(c) ? drained + 1 : 0;
                if (drained < 2) {
                    Sleep(5);
                }
            }
            if (drained < 2) {
                TRACE("IOMAN: WARNING: Requests for the Service still waiting at close");
            }
        }
        // The thread's exit stops the bridge and closes the pipe.
        WorkerThreadRequestStop(c->thread);
        if (c->wakeEvent) {
            SetEvent(c->wakeEvent);
        }
        WorkerThreadDestroy(c->thread);
        iBusUnregisterClient(c->bus, c->client);
        iBusNPBridgeDestroy(c->bridge);
        if (c->waiting) {
            if (size_t count = ItemQueueCount(c->waiting)) {
                TRACE("IOMAN: WARNING: %d requests never reached the Service", (int)count);
            }
            while (void* record = ItemQueueRemoveAt(c->waiting, 0)) {
                iBusReleaseMessage(c->bus, static_cast<iBusMessageRecord*>(record));
            }
            ItemQueueDestroy(c->waiting);
        }
        DeleteCriticalSection(&c->waitingLock);
        if (c->wakeEvent) {
            CloseHandle(c->wakeEvent);
        }
        if (c->implementation.Stop) {
            c->implementation.Stop(c->implementation.context);
        }
        iBusDestroy(c->bus);
        iBusPollingImplementationDestroy(&c->implementation);
        free(c);
    }
    m_uAdapterIndex = kNoAdapter;
}

void CIoManager::SendEvent(uint32_t value, uint32_t internalCode, const IMM* message) {
    // Held for the whole send: Close cannot detach the connection, let alone free it, meanwhile.
    AcquireSRWLockShared(&m_SendLock);
    IoManConnection* c = m_pConnection.load();
    if (c && c->bus) {
        SendOn(c, value, internalCode, message);
    }
    ReleaseSRWLockShared(&m_SendLock);
}

void CIoManager::SendOn(IoManConnection* c, uint32_t value, uint32_t internalCode, const IMM* message) {
    iBus* bus = c->bus;
    const int64_t translated = IoManTranslateInternalCode(internalCode);
    if (translated < 0) {
        TRACE("IOMAN: WARNING: Can not translate Internal Code (%d) to IOCTL", (int)internalCode);
        return;
    }
    const uint32_t ioctl = (uint32_t)translated;
    const uint32_t id = IoManToServiceId(m_uAdapterIndex);
    if (message) {
        TRACE("IOMAN: %d: Event to Adapter: %s, Info = 0x%x", (int)m_uAdapterIndex,
              EventName(message->Type, message->Code).c_str(), (unsigned)message->Info);
        iBusMessageRecord* record =
            iBusInterMessageConvertIMMToBus(bus, id, VCORE_IBUS_ID_IMM_MESSAGE, &ioctl, message);
        const bool posted = record && PostOrHold(c, record);
        iBusReleaseMessage(bus, record);
        if (posted) {
            TRACE("IOMAN: IMM Message sent to Bus");
        } else {
            TRACE("IOMAN: WARNING: Can not send IMM Message to Service");
        }
        return;
    }
    const uint32_t params[4] = {ioctl, value, 0, 0};
    iBusMessageRecord* record =
        iBusCreateMessage(bus, id, VCORE_IBUS_ID_GENERIC_MESSAGE, params, 4, nullptr, 0);
    const bool posted = record && PostOrHold(c, record);
    iBusReleaseMessage(bus, record);
    if (posted) {
        TRACE("IOMAN: non-IMM Message sent to Bus");
    } else {
        TRACE("IOMAN: WARNING: Can not send non-IMM Message to Service");
    }
}

bool CIoManager::OutgoingDrained(IoManConnection* c) {
    iBusMessageRecord* queued = nullptr;
    if (iBusFetchMessage(c->bus, &queued, 0)) {
        return false;
    }
    if (c->bridge && ItemQueueCount(c->bridge->outgoing)) {
        return false;
    }
    size_t space = kNPipeFifoSize;
    NPipe* pipe = c->pipe;
    return !pipe || (NPipeGetWriteSpace(pipe, &space) == 0 && space == kNPipeFifoSize);
}

bool CIoManager::PostOrHold(IoManConnection* c, iBusMessageRecord* record) {
    EnterCriticalSection(&c->waitingLock);
    bool ok;
    if (c->phase == kConnected) {
        ok = iBusPostMessage(c->bus, record, nullptr) != 0;
    } else {
        iBusAddRefMessage(c->bus, record);
        ok = ItemQueueAppend(c->waiting, record) != 0;
        if (!ok) {
            iBusReleaseMessage(c->bus, record);
        } else if (ItemQueueCount(c->waiting) > kIoManMaxWaiting) {
            iBusReleaseMessage(c->bus, static_cast<iBusMessageRecord*>(ItemQueueRemoveAt(c->waiting, 0)));
            TRACE("IOMAN: WARNING: No connection to Service: the oldest waiting request dropped");
        } else {
            TRACE_LEVEL(2, "IOMAN: No connection to Service: the request waits for it");
        }
    }
    LeaveCriticalSection(&c->waitingLock);
    return ok;
}

bool CIoManager::IsAdapterAvailable() {
    IoManConnection* c = m_pConnection.load();
    if (!c || c->phase != kConnected) {
        return false;
    }
    AdapterEnumerator* enumerator = OpenEnumerator();
    if (!enumerator) {
        return false;
    }
    const bool available = AdapterCount(enumerator) > 0;
    CloseEnumerator(enumerator);
    return available;
}

void CIoManager::ReceiveHandler(iBusMessageRecord* record, void* userData) {
    CIoManager* self = static_cast<CIoManager*>(userData);
    // Null once Close has detached the connection: nothing more is handed to the owner.
    IoManConnection* c = self->m_pConnection.load();
    iBusMessage* content = iBusGetMessageContent(c ? c->bus : nullptr, record);
    if (!content) {
        return;
    }
    TRACE_LEVEL(2, "IOMAN: Message Received from iBus (Data = %d bytes)",
                (int)(content->Size - kBusHeaderSize));
    switch (content->Kind) {
    case VCORE_IBUS_ID_ADAPTOR_INFO:
        self->m_nLowCost = content->Param[0] ? 1 : 0;
        TRACE("IOMAN: Adaptor Info received: LowCost=%d", self->m_nLowCost.load());
        return;
    case VCORE_IBUS_ID_GENERIC_MESSAGE:
        TRACE("IOMAN: WARNING: Unexpected VCORE_IBUS_ID_GENERIC_MESSAGE received");
        return;
    case VCORE_IBUS_ID_IMM_MESSAGE:
        break;
    default:
        TRACE("IOMAN: WARNING: Unknown private message received (ID=%d)", (int)content->Kind);
        return;
    }
    IMM message;
    if (!iBusInterMessageConvertBusToIMM(content, &message, nullptr)) {
        TRACE("IOMAN: WARNING: Can not convert iBusMessage =>IMM");
        return;
    }
    // The user data are read before the callback and both before the trace line: a Close
    // meanwhile clears the callback first, so a callback seen here never comes with user
    // data already cleared.
    void* ownerData = self->m_pUserData.load();
    IoManagerCallback callback = self->m_pCallback.load();
    if (callback) {
        TRACE("IOMAN: %d: Event from Adapter: %s, Info = 0x%x", (int)self->m_uAdapterIndex,
              EventName(message.Type, message.Code).c_str(), (unsigned)message.Info);
        const CIoManager* outer = t_pInCallback;
        t_pInCallback = self;
        callback(&message, sizeof message, ownerData);
        t_pInCallback = outer;
    }
}

void CIoManager::ThreadMain(void* userData) {
    // The connection comes with the thread: Close detaches it from the manager before it
    // stops this thread.
    IoManConnection* c = static_cast<IoManConnection*>(userData);
    CIoManager* self = c->manager;
    NPipe* pipe = nullptr;
    char* name = nullptr;
    for (;;) {
        const int phase = c->phase;
        int next = phase;
        DWORD sleepMs = 0;
        switch (phase) {
        case kPrepare:
            if (!pipe) {
                pipe = NPipeCreate();
                c->pipe = pipe;
            }
            if (!name) {
                name = NPipeMakeName(nullptr, kPipeName);
            }
            next = pipe && name ? kConnect : kPrepare;
            sleepMs = next == kConnect ? 0 : kRetrySleepMs;
            break;
        case kConnect: {
            bool connected = false;
            if (!pipe) {
                next = kPrepare;
                sleepMs = kRetrySleepMs;
                break;
            }
            // A fresh connection starts clean: nothing of the last one may precede the
            // index. Emptied before the PipeThread starts, which would send stale bytes at once.
            // Messages still in the bridge's list wait for the greeting; bytes that reached
            // the dead pipe's OUT FIFO cannot be told apart from what the service got.
            size_t space = kNPipeFifoSize;
            NPipeGetWriteSpace(pipe, &space);
            if (space < kNPipeFifoSize) {
                TRACE("IOMAN: WARNING: %d bytes for the Service lost with the connection",
                      (int)(kNPipeFifoSize - space));
            }
            NPipeResetFifos(pipe);
            iBusNPBridgeResetIncoming(c->bridge);
            if (NPipeConnect(pipe, name, &connected) == 0 && connected) {
                next = kGreet;
            } else {
                sleepMs = kRetrySleepMs;
            }
            break;
        }
        case kGreet: {
            size_t space = 0;
            if (!pipe) {
                next = kPrepare;
                sleepMs = kRetrySleepMs;
                break;
            }
            NPipeGetWriteSpace(pipe, &space);
            if (space < sizeof(uint32_t)) {
                sleepMs = kRetrySleepMs;
                break;
            }
            const uint32_t index = self->m_uAdapterIndex;
            size_t length = sizeof index;
            NPipeWrite(pipe, &index, &length);
            const uint32_t ids[] = {IoManToServiceId(index)};
            next = iBusNPBridgeStart(c->bridge, c->bus, ids, 1, pipe) ? kConnected : kDisconnect;
            break;
        }
        case kConnected: {
            bool connected = false;
            if (!pipe) {
                next = kPrepare;
                sleepMs = kRetrySleepMs;
            } else if (NPipeIsConnected(pipe, &connected) == 0 && connected) {
                sleepMs = kConnectedCheckMs;
            } else {
                next = kDisconnect;
            }
            break;
        }
        case kDisconnect:
            iBusNPBridgeStop(c->bridge);
            NPipeClose(pipe);
            next = pipe ? kConnect : kPrepare;
            sleepMs = kRetrySleepMs;
            break;
        default:
            next = kPrepare;
            break;
        }
        if (next != phase) {
            TRACE("IOMAN: Phase: %d => %d", phase, next);
            if (next == kConnected) {
                // The bridge is subscribed now: what waited goes first, in order.
                EnterCriticalSection(&c->waitingLock);
                c->phase = next;
                while (void* record = ItemQueueRemoveAt(c->waiting, 0)) {
                    auto* waiting = static_cast<iBusMessageRecord*>(record);
                    if (!iBusPostMessage(c->bus, waiting, nullptr)) {
                        TRACE("IOMAN: WARNING: Can not send waiting request to Service");
                    }
                    iBusReleaseMessage(c->bus, waiting);
                }
                LeaveCriticalSection(&c->waitingLock);
            } else {
                c->phase = next;
            }
        }
        if (WorkerThreadIsStopRequested(c->thread)) {
            break;
        }
        // One wait, which a stop request (Close sets the event) ends at once: an idle
        // connection costs two wake-ups a second.
        if (sleepMs && WaitForSingleObject(c->wakeEvent, sleepMs) == WAIT_FAILED) {
            Sleep(sleepMs); // never a busy loop
        }
    }
    TRACE("IOMAN: Thread Stop Signal detected");
    iBusNPBridgeStop(c->bridge);
    c->pipe = nullptr;
    NPipeDestroy(pipe);
    free(name);
    TRACE("IOMAN: Thread Proc Exited");
}
