#include "devicelink/AdapterEnum.h"

#include "base/trace/Trace.h"
#include "devicelink/NPipe.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct AdapterEnumerator {
    NPipe* pipe;
    CRITICAL_SECTION lock;
    uint32_t count;
    // A request that gave up mid-way leaves its answer on its way: the connection is out of
    // step and every later request on it fails. Read and written under the lock.
    bool outOfStep;
};

namespace {

constexpr DWORD kStepSleepMs = 10;
const char* const kPipeName = "VCORE\\HWENUM";

enum State { kSend = 0, kHeader = 1, kData = 2, kDone = 3, kAborted = 4 };

void ChangeState(int& state, int next) {
    TRACE("ZUENUM: State: %d => %d", state, next);
    state = next;
}

// One exchange. On success the response header is filled and, when the response has data,
// *data holds them (malloc'ed, the caller frees) and *dataLength their size.
bool Exchange(AdapterEnumerator* e, const EnumRequest& request, EnumResponseHeader* header, uint8_t** data,
              uint32_t* dataLength) {
    *data = nullptr;
    *dataLength = 0;
    EnterCriticalSection(&e->lock);
    // Under the lock: a request that waited here for one that then gave up must see it.
    if (e->outOfStep) {
        LeaveCriticalSection(&e->lock);
        return false;
    }
    // Nothing may wait from before: this request's answer is the first bytes to come.
    size_t stale = 0;
    NPipeGetReadCount(e->pipe, &stale);
    if (stale) {
        uint8_t discard[kNPipeFifoSize];
        size_t length = stale;
        NPipeRead(e->pipe, discard, &length);
    }
    int state = kSend;
    uint8_t* buffer = nullptr;
    uint32_t wanted = 0;
    int budget = (int)kEnumBudgetMs;
    bool progressed = true;
    while (state != kDone && state != kAborted) {
        progressed = false;
        switch (state) {
        case kSend: {
            size_t space = 0;
            NPipeGetWriteSpace(e->pipe, &space);
            if (space < sizeof request) {
                TRACE("ZUENUM: No room to place request! Aborted!");
                ChangeState(state, kAborted);
                break;
            }
            size_t length = sizeof request;
            NPipeWrite(e->pipe, &request, &length);
            ChangeState(state, kHeader);
            progressed = true;
            break;
        }
        case kHeader: {
            size_t waiting = 0;
            NPipeGetReadCount(e->pipe, &waiting);
            if (waiting < sizeof *header) {
                break;
            }
            size_t got = sizeof *header;
            NPipeRead(e->pipe, header, &got);
            if (got < sizeof *header) {
                TRACE("ZUENUM: Can not get response header! Aborted!");
                ChangeState(state, kAborted);
                break;
            }
            progressed = true;
            if (header->size == kEnumResponseHeaderSize) {
                ChangeState(state, kDone);
                break;
            }
            wanted = header->size - kEnumResponseHeaderSize;
            // The IN FIFO could never hold more: such an answer cannot be taken in. A size
            // below the header's own wraps round to a huge one and is refused here too.
            buffer = wanted <= kNPipeFifoSize ? static_cast<uint8_t*>(malloc(wanted)) : nullptr;
            if (!buffer) {
                TRACE("ZUENUM: Can not allocate response datra buffer! Aborted!");
                ChangeState(state, kAborted);
                break;
            }
            ChangeState(state, kData);
            break;
        }
        case kData: {
            size_t waiting = 0;
            NPipeGetReadCount(e->pipe, &waiting);
            if (waiting < wanted) {
                break;
            }
            size_t got = wanted;
            NPipeRead(e->pipe, buffer, &got);
            if (got < wanted) {
                TRACE("ZUENUM: Can not get response data! Aborted!");
                ChangeState(state, kAborted);
                break;
            }
            progressed = true;
            ChangeState(state, kDone);
            break;
        }
        default:
            TRACE("ZUENUM: Unexpected state: %d! Aborted!", state);
            ChangeState(state, kAborted);
            break;
        }
        if (state == kDone || state == kAborted || progressed) {
            continue;
        }
        if (budget < (int)kStepSleepMs) {
            TRACE("ZUENUM: No response in time! Aborted!");
            ChangeState(state, kAborted);
            break;
        }
        Sleep(kStepSleepMs);
        budget -= (int)kStepSleepMs;
    }
    const bool ok = state == kDone;
    if (!ok) {
        free(buffer);
        buffer = nullptr;
        wanted = 0;
        e->outOfStep = true;
    }
    *data = buffer;
    *dataLength = wanted;
    LeaveCriticalSection(&e->lock);
    return ok;
}

} // namespace

AdapterEnumerator* OpenEnumerator() {
    char* name = NPipeMakeName(nullptr, kPipeName);
    if (!name) {
        return nullptr;
    }
    if (!WaitNamedPipeA(name, NMPWAIT_USE_DEFAULT_WAIT)) {
        free(name);
        return nullptr;
    }
    AdapterEnumerator* e = static_cast<AdapterEnumerator*>(calloc(1, sizeof(AdapterEnumerator)));
    if (!e) {
        free(name);
        return nullptr;
    }
    InitializeCriticalSection(&e->lock);
    bool connected = false;
    e->pipe = NPipeCreate();
    if (!e->pipe || NPipeConnect(e->pipe, name, &connected) != 0 || !connected) {
        free(name);
        CloseEnumerator(e);
        return nullptr;
    }
    free(name);

    const EnumRequest request = {kEnumRequestSize, kEnumCmdGetAdapterCount, 0, 0};
    EnumResponseHeader header = {};
    uint8_t* data = nullptr;
    uint32_t dataLength = 0;
    const bool ok = Exchange(e, request, &header, &data, &dataLength) && header.status == 0;
    free(data);
    if (!ok) {
        CloseEnumerator(e);
        return nullptr;
    }
    e->count = header.result;
    return e;
}

uint32_t AdapterCount(const AdapterEnumerator* enumerator) {
    return enumerator ? enumerator->count : 0;
}

bool GetAdapterKey(AdapterEnumerator* enumerator, uint32_t index, char* buffer, size_t capacity) {
    if (!enumerator || !buffer || !capacity || index >= enumerator->count) {
        return false;
    }
    const EnumRequest request = {kEnumRequestSize, kEnumCmdGetAdapterKey, index, (uint32_t)capacity};
    EnumResponseHeader header = {};
    uint8_t* data = nullptr;
    uint32_t dataLength = 0;
    bool ok = Exchange(enumerator, request, &header, &data, &dataLength) && header.status == 0 &&
              capacity >= header.result && data && dataLength;
    if (ok) {
        // Never more than the buffer holds, and always terminated.
        size_t length = strnlen(reinterpret_cast<const char*>(data), dataLength);
        if (length >= capacity) {
            length = capacity - 1;
        }
        memcpy(buffer, data, length);
        buffer[length] = 0;
    }
    free(data);
    return ok;
}

void CloseEnumerator(AdapterEnumerator* enumerator) {
    if (!enumerator) {
        return;
    }
    DeleteCriticalSection(&enumerator->lock);
    NPipeDestroy(enumerator->pipe);
    free(enumerator);
}

void FindAdapterRegistryRoot(char* buffer, size_t capacity) {
    if (!buffer || !capacity) {
        return;
    }
    buffer[0] = 0;
    AdapterEnumerator* enumerator = OpenEnumerator();
    if (!enumerator) {
        return;
    }
    const uint32_t count = AdapterCount(enumerator);
    const uint32_t asked = count < kEnumMaxAdaptersAsked ? count : kEnumMaxAdaptersAsked;
    if (asked < count) {
        TRACE("ZUENUM: %u adapters reported, keys asked for the first %u only", count, asked);
    }
    char key[kAdapterKeySize];
    for (uint32_t i = 0; i < asked; ++i) {
        if (GetAdapterKey(enumerator, i, key, sizeof key)) {
            TRACE("Adaptor SW registry key: %s", key);
            snprintf(buffer, capacity, "%s", key);
        }
    }
    CloseEnumerator(enumerator);
}
