#include "devicelink/ByteFifo.h"

#include <cstdlib>
#include <cstring>

namespace {

struct FifoGuard {
    ByteFifo* f;
    explicit FifoGuard(ByteFifo* fifo) : f(fifo) { EnterCriticalSection(&f->lock); }
    ~FifoGuard() { LeaveCriticalSection(&f->lock); }
};

} // namespace

int ByteFifoInit(ByteFifo* fifo, uint8_t* buffer, size_t capacity) {
    if (!fifo || !capacity) {
        return 1;
    }
    memset(fifo, 0, sizeof *fifo);
    if (!buffer) {
        buffer = static_cast<uint8_t*>(malloc(capacity));
        if (!buffer) {
            return 2;
        }
        fifo->ownsBuffer = true;
    }
    if (!InitializeCriticalSectionAndSpinCount(&fifo->lock, 1000)) {
        if (fifo->ownsBuffer) {
            free(buffer);
        }
        memset(fifo, 0, sizeof *fifo);
        return 2;
    }
    fifo->start = buffer;
    fifo->last = buffer + capacity - 1;
    fifo->capacity = capacity;
    fifo->initialised = true;
    return 0;
}

void ByteFifoRelease(ByteFifo* fifo) {
    if (!fifo || !fifo->initialised) {
        return;
    }
    if (fifo->ownsBuffer) {
        free(fifo->start);
    }
    DeleteCriticalSection(&fifo->lock);
    memset(fifo, 0, sizeof *fifo);
}

void ByteFifoReset(ByteFifo* fifo) {
    if (!fifo || !fifo->initialised) {
        return;
    }
    FifoGuard guard(fifo);
    fifo->readPos = fifo->writePos = fifo->count = 0;
}

size_t ByteFifoWrite(ByteFifo* fifo, const void* data, size_t length, size_t* heldBefore) {
    if (!fifo || !fifo->initialised || !data) {
        return 0;
    }
    FifoGuard guard(fifo);
    if (heldBefore) {
        *heldBefore = fifo->count;
    }
    size_t accepted = length < fifo->capacity - fifo->count ? length : fifo->capacity - fifo->count;
    const uint8_t* from = static_cast<const uint8_t*>(data);
    size_t first = fifo->capacity - fifo->writePos;
    if (first > accepted) {
        first = accepted;
    }
    memcpy(fifo->start + fifo->writePos, from, first);
    memcpy(fifo->start, from + first, accepted - first);
    fifo->writePos = (fifo->writePos + accepted) % fifo->capacity;
    fifo->count += accepted;
    return accepted;
}

size_t ByteFifoRead(ByteFifo* fifo, void* data, size_t length, size_t* heldBefore) {
    if (!fifo || !fifo->initialised || !data) {
        return 0;
    }
    FifoGuard guard(fifo);
    if (heldBefore) {
        *heldBefore = fifo->count;
    }
    size_t delivered = length < fifo->count ? length : fifo->count;
    uint8_t* to = static_cast<uint8_t*>(data);
    size_t first = fifo->capacity - fifo->readPos;
    if (first > delivered) {
        first = delivered;
    }
    memcpy(to, fifo->start + fifo->readPos, first);
    memcpy(to + first, fifo->start, delivered - first);
    fifo->readPos = (fifo->readPos + delivered) % fifo->capacity;
    fifo->count -= delivered;
    return delivered;
}

size_t ByteFifoCount(ByteFifo* fifo) {
    if (!fifo || !fifo->initialised) {
        return 0;
    }
    FifoGuard guard(fifo);
    return fifo->count;
}

size_t ByteFifoFreeSpace(ByteFifo* fifo) {
    if (!fifo || !fifo->initialised) {
        return 0;
    }
    FifoGuard guard(fifo);
    return fifo->capacity - fifo->count;
}
