#include "devicelink/ItemQueue.h"

#include <windows.h>

#include <atomic>
#include <new>
#include <cstdlib>

struct ItemNode {
    ItemNode* prev;
    ItemNode* next;
    void* item;
};

struct ItemQueue {
    ItemNode* head;
    ItemNode* tail;
    std::atomic<size_t> count; // written under the lock, read without it
    bool locked;
    CRITICAL_SECTION lock;
};

namespace {

struct QueueGuard {
    ItemQueue* q;
    explicit QueueGuard(ItemQueue* queue) : q(queue) {
        if (q->locked) {
            EnterCriticalSection(&q->lock);
        }
    }
    ~QueueGuard() {
        if (q->locked) {
            LeaveCriticalSection(&q->lock);
        }
    }
};

ItemNode* NodeAt(ItemQueue* queue, size_t index) {
    ItemNode* node = queue->head;
    while (node && index--) {
        node = node->next;
    }
    return node;
}

void Unlink(ItemQueue* queue, ItemNode* node) {
    (node->prev ? node->prev->next : queue->head) = node->next;
    (node->next ? node->next->prev : queue->tail) = node->prev;
    --queue->count;
    free(node);
}

} // namespace

ItemQueue* ItemQueueCreate(bool withLock) {
    ItemQueue* queue = new (std::nothrow) ItemQueue{};
    if (queue && withLock) {
        InitializeCriticalSection(&queue->lock);
        queue->locked = true;
    }
    return queue;
}

void ItemQueueDestroy(ItemQueue* queue) {
    if (!queue) {
        return;
    }
    ItemQueueEmpty(queue, nullptr);
    if (queue->locked) {
        DeleteCriticalSection(&queue->lock);
    }
    delete queue;
}

int ItemQueueAppend(ItemQueue* queue, void* item) {
    if (!queue) {
        return 0;
    }
    ItemNode* node = static_cast<ItemNode*>(malloc(sizeof(ItemNode)));
    if (!node) {
        return 0;
    }
    node->item = item;
    node->next = nullptr;
    QueueGuard guard(queue);
    node->prev = queue->tail;
    (queue->tail ? queue->tail->next : queue->head) = node;
    queue->tail = node;
    ++queue->count;
    return 1;
}

void* ItemQueueGetAt(ItemQueue* queue, size_t index) {
    if (!queue) {
        return nullptr;
    }
    QueueGuard guard(queue);
    ItemNode* node = NodeAt(queue, index);
    return node ? node->item : nullptr;
}

void* ItemQueueRemoveAt(ItemQueue* queue, size_t index) {
    if (!queue) {
        return nullptr;
    }
    QueueGuard guard(queue);
    ItemNode* node = NodeAt(queue, index);
    if (!node) {
        return nullptr;
    }
    void* item = node->item;
    Unlink(queue, node);
    return item;
}

int ItemQueueRemove(ItemQueue* queue, void* item) {
    if (!queue) {
        return 0;
    }
    QueueGuard guard(queue);
    for (ItemNode* node = queue->head; node; node = node->next) {
        if (node->item == item) {
            Unlink(queue, node);
            return 1;
        }
    }
    return 0;
}

size_t ItemQueueCount(const ItemQueue* queue) {
    return queue ? queue->count.load(std::memory_order_relaxed) : 0;
}

void ItemQueueEmpty(ItemQueue* queue, ItemQueueFreeItem freeItem) {
    if (!queue) {
        return;
    }
    QueueGuard guard(queue);
    while (queue->head) {
        void* item = queue->head->item;
        Unlink(queue, queue->head);
        if (freeItem) {
            freeItem(item);
        }
    }
}
