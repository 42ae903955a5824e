// ItemQueue: an ordered list of pointers with a count and an optional lock of its own.
// With the lock, every operation holds it for its whole duration and the queue may be
// used from any thread; without it, the owner serialises access.
#pragma once

#include <cstddef>

struct ItemQueue;

typedef void (*ItemQueueFreeItem)(void* item);

ItemQueue* ItemQueueCreate(bool withLock);
// Frees the list nodes, not the items.
void ItemQueueDestroy(ItemQueue* queue);

// 1 when appended, 0 for a null queue or no memory.
int ItemQueueAppend(ItemQueue* queue, void* item);
// The item at `index` (0 = oldest) or null.
void* ItemQueueGetAt(ItemQueue* queue, size_t index);
// Takes the item at `index` off the list and returns it; null when there is none.
void* ItemQueueRemoveAt(ItemQueue* queue, size_t index);
// Takes `item` (found by identity) off the list; 1 when it was there.
int ItemQueueRemove(ItemQueue* queue, void* item);
// Read without the lock: a snapshot.
size_t ItemQueueCount(const ItemQueue* queue);
// Empties the list; with `freeItem`, each item is passed to it.
void ItemQueueEmpty(ItemQueue* queue, ItemQueueFreeItem freeItem);
