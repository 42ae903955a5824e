// ByteFifo: a locked circular byte buffer. Writes take what fits, reads give what is
// there; nothing blocks. Every operation holds the FIFO's own lock for the copy only, so
// one thread may write while another reads.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct ByteFifo {
    CRITICAL_SECTION lock;
    bool ownsBuffer;
    uint8_t* start;
    uint8_t* last; // the buffer's last byte
    size_t readPos;
    size_t writePos;
    size_t count;
    size_t capacity;
    bool initialised;
};

// With a null `buffer`, one of `capacity` bytes is allocated and owned. 0 on success,
// 1 for a null FIFO or zero capacity, 2 when the buffer cannot be had.
int ByteFifoInit(ByteFifo* fifo, uint8_t* buffer, size_t capacity);
void ByteFifoRelease(ByteFifo* fifo);
void ByteFifoReset(ByteFifo* fifo);
// Accepts min(length, free space) bytes; returns how many. `heldBefore` (optional) gets
// the count the FIFO held just before, read under the same lock as the copy.
size_t ByteFifoWrite(ByteFifo* fifo, const void* data, size_t length, size_t* heldBefore = nullptr);
// Delivers min(length, count) bytes; returns how many. `heldBefore` as for a write.
size_t ByteFifoRead(ByteFifo* fifo, void* data, size_t length, size_t* heldBefore = nullptr);
size_t ByteFifoCount(ByteFifo* fifo);
size_t ByteFifoFreeSpace(ByteFifo* fifo);
