// The bus, its worker thread and queue helpers, and the polling delivery.
#include "devicelink/iBus.h"
#include "devicelink/ItemQueue.h"
#include "devicelink/WorkerThread.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// ---- WorkerThread

void SpinUntilStopped(void* data) {
    auto* thread = static_cast<WorkerThread*>(data);
    while (!WorkerThreadIsStopRequested(thread)) {
        Sleep(1);
    }
}

void Nothing(void*) {}

TEST(WorkerThreadTest, StartStopAndRestart) {
    WorkerThread* thread = WorkerThreadCreate();
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WorkerThreadStart(nullptr, SpinUntilStopped, nullptr), kStatusBadArgument);
    EXPECT_EQ(WorkerThreadStart(thread, nullptr, nullptr), kStatusBadArgument);

    ASSERT_EQ(WorkerThreadStart(thread, SpinUntilStopped, thread), kStatusOk);
    EXPECT_TRUE(WorkerThreadIsRunning(thread));
    EXPECT_EQ(WorkerThreadStart(thread, SpinUntilStopped, thread), kStatusWrongState);
    WorkerThreadStopAndWait(thread);
    EXPECT_FALSE(WorkerThreadIsRunning(thread));
    EXPECT_FALSE(WorkerThreadIsStopRequested(thread)) << "the request is cleared once the thread is gone";

    // A routine that ends by itself leaves the object ready for the next start.
    ASSERT_EQ(WorkerThreadStart(thread, Nothing, nullptr), kStatusOk);
    Sleep(50);
    ASSERT_EQ(WorkerThreadStart(thread, SpinUntilStopped, thread), kStatusOk);
    WorkerThreadDestroy(thread);
}

TEST(WorkerThreadTest, StopRightAfterStartWaitsForTheRoutine) {
    static std::atomic<int> finished;
    finished = 0;
    for (int i = 0; i < 20; ++i) {
        WorkerThread* thread = WorkerThreadCreate();
        ASSERT_EQ(WorkerThreadStart(
                      thread,
                      [](void* data) {
                          SpinUntilStopped(data);
                          ++finished;
                      },
                      thread),
                  kStatusOk);
        WorkerThreadStopAndWait(thread);
        EXPECT_EQ(finished.load(), i + 1);
        WorkerThreadDestroy(thread);
    }
}

// ---- ItemQueue

TEST(ItemQueueTest, OrderRemovalAndEmptying) {
    ItemQueue* queue = ItemQueueCreate(true);
    int a = 1, b = 2, c = 3;
    EXPECT_EQ(ItemQueueAppend(nullptr, &a), 0);
    ASSERT_EQ(ItemQueueAppend(queue, &a), 1);
    ASSERT_EQ(ItemQueueAppend(queue, &b), 1);
    ASSERT_EQ(ItemQueueAppend(queue, &c), 1);
    EXPECT_EQ(ItemQueueCount(queue), 3u);
    EXPECT_EQ(ItemQueueGetAt(queue, 1), &b);
    EXPECT_EQ(ItemQueueGetAt(queue, 3), nullptr);
    EXPECT_EQ(ItemQueueRemove(queue, &b), 1);
    EXPECT_EQ(ItemQueueRemove(queue, &b), 0);
    EXPECT_EQ(ItemQueueRemoveAt(queue, 1), &c);
    EXPECT_EQ(ItemQueueRemoveAt(queue, 1), nullptr);
    EXPECT_EQ(ItemQueueRemoveAt(queue, 0), &a);
    EXPECT_EQ(ItemQueueCount(queue), 0u);

    // The tail is right after removals from the middle and the end.
    ItemQueueAppend(queue, &a);
    ItemQueueAppend(queue, &b);
    ItemQueueRemoveAt(queue, 1);
    ItemQueueAppend(queue, &c);
    EXPECT_EQ(ItemQueueGetAt(queue, 1), &c);

    static int freed;
    freed = 0;
    ItemQueueEmpty(queue, [](void*) { ++freed; });
    EXPECT_EQ(freed, 2);
    EXPECT_EQ(ItemQueueCount(queue), 0u);
    ItemQueueDestroy(queue);
}

// ---- Bus

struct Received {
    std::vector<uint32_t> ids;
    std::vector<int> order;
};

struct Recorder {
    Received* log;
    int tag;
};

void Record(iBusMessageRecord* record, void* data) {
    auto* recorder = static_cast<Recorder*>(data);
    // The content is reached through the bus only; any bus gives it.
    recorder->log->ids.push_back(reinterpret_cast<uint32_t*>(record)[2]);
    recorder->log->order.push_back(recorder->tag);
}

class BusTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_baseline = iBusGetLiveMessageCount();
        ASSERT_EQ(iBusPollingImplementationCreate(&m_impl, 10), kStatusOk);
        m_bus = iBusCreate(&m_impl);
        ASSERT_NE(m_bus, nullptr);
    }
    void TearDown() override {
        if (m_impl.Stop) {
            m_impl.Stop(m_impl.context);
        }
        iBusDestroy(m_bus);
        iBusPollingImplementationDestroy(&m_impl);
        EXPECT_EQ(iBusGetLiveMessageCount(), m_baseline) << "every message record is freed";
    }
    iBusImplementation m_impl{};
    iBus* m_bus = nullptr;
    long m_baseline = 0;
};

TEST_F(BusTest, NullArgumentsGiveTheFailureValue) {
    EXPECT_EQ(iBusCreate(nullptr), nullptr);
    iBusImplementation noInit{};
    EXPECT_EQ(iBusCreate(&noInit), nullptr);
    EXPECT_EQ(iBusStart(nullptr), 0);
    EXPECT_EQ(iBusRegisterClient(nullptr, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(iBusRegisterClient(m_bus, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(iBusUnregisterClient(m_bus, nullptr), 0);
    EXPECT_EQ(iBusCreateMessage(nullptr, 1, 1, nullptr, 0, nullptr, 0), nullptr);
    EXPECT_EQ(iBusGetMessageContent(m_bus, nullptr), nullptr);
    EXPECT_EQ(iBusPostMessage(m_bus, nullptr, nullptr), 0);
    EXPECT_EQ(iBusSendMessage(nullptr, 1, 1, nullptr, 0, nullptr, 0, nullptr), 0);
    iBusMessageRecord* record = nullptr;
    EXPECT_EQ(iBusFetchMessage(m_bus, &record, 1), 0);
    EXPECT_EQ(iBusFetchMessage(nullptr, &record, 1), 0);
    EXPECT_EQ(iBusDispatchMessage(m_bus, nullptr), 0);
    iBusAddRefMessage(nullptr, nullptr);
    iBusReleaseMessage(m_bus, nullptr);
    iBusDestroy(nullptr);
    EXPECT_EQ(iBusPollingImplementationCreate(nullptr, 0), kStatusBadArgument);
}

TEST_F(BusTest, MessageLayoutAndReferenceCounting) {
    const uint32_t params[5] = {10, 20, 30, 40, 50};
    const char data[] = "abc";
    iBusMessageRecord* record = iBusCreateMessage(m_bus, 0x3E8, 3, params, 5, data, 3);
    ASSERT_NE(record, nullptr);
    iBusMessage* content = iBusGetMessageContent(m_bus, record);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(content) - reinterpret_cast<uint8_t*>(record), 4);
    EXPECT_EQ(content->Size, 31u);
    EXPECT_EQ(content->Id, 0x3E8u);
    EXPECT_EQ(content->Kind, 3u);
    EXPECT_EQ(content->Param[0], 10u);
    EXPECT_EQ(content->Param[3], 40u) << "at most four params are taken";
    EXPECT_EQ(memcmp(iBusMessageData(content), "abc", 3), 0);
    EXPECT_EQ(iBusGetLiveMessageCount(), m_baseline + 1);

    const uint32_t two[2] = {1, 2};
    iBusMessageRecord* small = iBusCreateMessage(m_bus, 1, 1, two, 2, nullptr, 0);
    EXPECT_EQ(iBusGetMessageContent(m_bus, small)->Size, 28u);
    EXPECT_EQ(iBusGetMessageContent(m_bus, small)->Param[2], 0u);
    iBusReleaseMessage(m_bus, small);

    iBusAddRefMessage(m_bus, record);
    iBusReleaseMessage(m_bus, record);
    EXPECT_EQ(iBusGetLiveMessageCount(), m_baseline + 1) << "one reference is left";
    iBusReleaseMessage(m_bus, record);
    EXPECT_EQ(iBusGetLiveMessageCount(), m_baseline) << "the last reference frees the record";
}

TEST_F(BusTest, SendLeavesTheMessageAliveOnlyThroughTheQueue) {
    ASSERT_EQ(iBusSendMessage(m_bus, 5, 1, nullptr, 0, "x", 1, nullptr), 1);
    EXPECT_EQ(iBusGetLiveMessageCount(), m_baseline + 1);
    iBusMessageRecord* peeked = nullptr;
    ASSERT_EQ(iBusFetchMessage(m_bus, &peeked, 0), 1);
    iBusMessageRecord* fetched = nullptr;
    ASSERT_EQ(iBusFetchMessage(m_bus, &fetched, 1), 1);
    EXPECT_EQ(peeked, fetched);
    EXPECT_EQ(iBusFetchMessage(m_bus, &fetched, 1), 0);
    iBusReleaseMessage(m_bus, peeked);
    EXPECT_EQ(iBusGetLiveMessageCount(), m_baseline);
}

TEST_F(BusTest, RegistrationRules) {
    const uint32_t ids[] = {1};
    iBusClientDescription noCallback{nullptr, nullptr};
    EXPECT_EQ(iBusRegisterClient(m_bus, &noCallback, ids, 1), nullptr) << "ids without a callback";
    iBusClient* silent = iBusRegisterClient(m_bus, &noCallback, nullptr, 0);
    ASSERT_NE(silent, nullptr) << "neither ids nor callback is a valid, deaf client";

    iBusMessageRecord* record = iBusCreateMessage(m_bus, 1, 0, nullptr, 0, nullptr, 0);
    EXPECT_EQ(iBusDispatchMessage(m_bus, record), 0);
    iBusReleaseMessage(m_bus, record);
    EXPECT_EQ(iBusUnregisterClient(m_bus, silent), 1);
}

TEST_F(BusTest, DispatchVisitsClientsInRegistrationOrderOncePerClient) {
    Received log;
    Recorder first{&log, 1}, second{&log, 2}, other{&log, 3};
    const uint32_t firstIds[] = {7, 9, 7}, secondIds[] = {7}, otherIds[] = {8};
    iBusClientDescription d1{&first, Record}, d2{&second, Record}, d3{&other, Record};
    iBusClient* c1 = iBusRegisterClient(m_bus, &d1, firstIds, 3);
    iBusClient* c2 = iBusRegisterClient(m_bus, &d2, secondIds, 1);
    iBusClient* c3 = iBusRegisterClient(m_bus, &d3, otherIds, 1);

    iBusMessageRecord* seven = iBusCreateMessage(m_bus, 7, 0, nullptr, 0, nullptr, 0);
    iBusMessageRecord* nobody = iBusCreateMessage(m_bus, 42, 0, nullptr, 0, nullptr, 0);
    EXPECT_EQ(iBusDispatchMessage(m_bus, seven), 2);
    EXPECT_EQ(iBusDispatchMessage(m_bus, nobody), 0);
    EXPECT_EQ(log.order, (std::vector<int>{1, 2}));
    iBusReleaseMessage(m_bus, seven);
    iBusReleaseMessage(m_bus, nobody);

    // Ids are the client's own copy.
    EXPECT_EQ(iBusUnregisterClient(m_bus, c2), 1);
    EXPECT_EQ(iBusUnregisterClient(m_bus, c2), 0);
    iBusUnregisterClient(m_bus, c1);
    iBusUnregisterClient(m_bus, c3);
}

TEST_F(BusTest, DestroyReleasesQueuedMessagesAndUnregistersClients) {
    Received log;
    Recorder recorder{&log, 1};
    const uint32_t ids[] = {1};
    iBusClientDescription description{&recorder, Record};
    iBusRegisterClient(m_bus, &description, ids, 1);
    iBusRegisterClient(m_bus, &description, ids, 1);
    for (int i = 0; i < 10; ++i) {
        iBusSendMessage(m_bus, 1, 0, nullptr, 0, "data", 4, nullptr);
    }
    EXPECT_EQ(iBusGetLiveMessageCount(), m_baseline + 10);
    iBusDestroy(m_bus); // never started: the messages are still queued
    m_bus = nullptr;
    EXPECT_EQ(iBusGetLiveMessageCount(), m_baseline);
    EXPECT_TRUE(log.ids.empty());
}

TEST_F(BusTest, StopRequestedWhileMessagesAreQueuedDeliversThemAllFirst) {
    Received log;
    Recorder recorder{&log, 1};
    const uint32_t ids[] = {3};
    iBusClientDescription description{&recorder, Record};
    iBusClient* client = iBusRegisterClient(m_bus, &description, ids, 1);
    constexpr int kCount = 500;
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(iBusSendMessage(m_bus, 3, 0, nullptr, 0, nullptr, 0, nullptr), 1);
    }
    ASSERT_EQ(iBusStart(m_bus), 1);
    m_impl.Stop(m_impl.context);
    EXPECT_EQ(log.ids.size(), (size_t)kCount);
    iBusUnregisterClient(m_bus, client);
}

TEST(BusDirectPostTest, DirectPostMeansNoQueueAndNoBusReference) {
    static int posted;
    posted = 0;
    iBusImplementation direct{};
    direct.Init = [](void*, iBusStartRecord* start) { return start->fetch == nullptr ? 1 : 0; };
    direct.DirectPostMessage = [](void*, iBusMessageRecord*, void* argument) {
        ++posted;
        return argument ? 5 : 6;
    };
    const long baseline = iBusGetLiveMessageCount();
    iBus* bus = iBusCreate(&direct);
    ASSERT_NE(bus, nullptr);
    EXPECT_EQ(iBusStart(bus), 1) << "no fetch operation without a queue";
    int argument = 0;
    iBusMessageRecord* record = iBusCreateMessage(bus, 1, 1, nullptr, 0, nullptr, 0);
    EXPECT_EQ(iBusPostMessage(bus, record, &argument), 5);
    EXPECT_EQ(iBusPostMessage(bus, record, nullptr), 6);
    EXPECT_EQ(posted, 2);
    iBusMessageRecord* fetched = nullptr;
    EXPECT_EQ(iBusFetchMessage(bus, &fetched, 1), 0);
    iBusReleaseMessage(bus, record);
    EXPECT_EQ(iBusGetLiveMessageCount(), baseline) << "the bus took no reference";
    iBusDestroy(bus);
}

// Several posters at once: each message is delivered exactly once, in each poster's order,
// to every subscriber (which share one record), and every record is freed.
struct FanOutSink {
    std::vector<std::vector<uint32_t>> seen; // per poster, the sequence numbers in arrival order
    std::vector<const void*> lastRecord;
};

void CountMessage(iBusMessageRecord* record, void* data) {
    auto* sink = static_cast<FanOutSink*>(data);
    const uint32_t* words = reinterpret_cast<const uint32_t*>(record) + 1; // after the count
    const uint32_t poster = words[3], sequence = words[4];
    sink->seen[poster].push_back(sequence);
}

TEST_F(BusTest, ConcurrentPostersEveryMessageDeliveredOnceToEverySubscriber) {
    constexpr int kPosters = 4, kPerPoster = 20000;
    FanOutSink a, b;
    a.seen.resize(kPosters);
    b.seen.resize(kPosters);
    const uint32_t ids[] = {77};
    iBusClientDescription da{&a, CountMessage}, db{&b, CountMessage};
    iBusClient* ca = iBusRegisterClient(m_bus, &da, ids, 1);
    iBusClient* cb = iBusRegisterClient(m_bus, &db, ids, 1);
    ASSERT_EQ(iBusStart(m_bus), 1);

    std::vector<std::thread> posters;
    for (uint32_t p = 0; p < kPosters; ++p) {
        posters.emplace_back([this, p] {
            for (uint32_t i = 0; i < kPerPoster; ++i) {
                const uint32_t params[2] = {p, i};
                ASSERT_EQ(iBusSendMessage(m_bus, 77, 0, params, 2, nullptr, 0, nullptr), 1);
            }
        });
    }
    for (auto& poster : posters) {
        poster.join();
    }
    m_impl.Stop(m_impl.context); // drains the queue first

    for (FanOutSink* sink : {&a, &b}) {
        for (uint32_t p = 0; p < kPosters; ++p) {
            ASSERT_EQ(sink->seen[p].size(), (size_t)kPerPoster) << "poster " << p;
            for (uint32_t i = 0; i < kPerPoster; ++i) {
                ASSERT_EQ(sink->seen[p][i], i) << "poster " << p;
            }
        }
    }
    iBusUnregisterClient(m_bus, ca);
    iBusUnregisterClient(m_bus, cb);
}

} // namespace
