// The bus's polling delivery: it wakes on a post rather than on its poll, and a callback
// may leave the bus (or take others off it) without another client missing the message.
#include "devicelink/iBus.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

class BusDeliveryTest : public ::testing::Test {
public: // the callbacks reach the fixture through a pointer
    void Start(uint32_t pollMs) {
        ASSERT_EQ(iBusPollingImplementationCreate(&m_impl, pollMs), 0);
        m_bus = iBusCreate(&m_impl);
        ASSERT_NE(m_bus, nullptr);
        ASSERT_EQ(iBusStart(m_bus), 1);
    }
    void TearDown() override {
        if (m_bus) {
            for (iBusClient* client : m_clients) {
                iBusUnregisterClient(m_bus, client);
            }
            m_impl.Stop(m_impl.context);
            iBusDestroy(m_bus);
            iBusPollingImplementationDestroy(&m_impl);
        }
    }

    // A client on id 1 that logs its name, then runs its action (on the delivery thread).
    struct Client {
        BusDeliveryTest* test;
        std::string name;
        void (*action)(BusDeliveryTest* test, Client* self) = nullptr;
        iBusClient* handle = nullptr;
    };
    iBusClient* Register(Client& client) {
        const uint32_t ids[] = {1};
        const iBusClientDescription description = {&client, [](iBusMessageRecord*, void* data) {
                                                       auto* self = static_cast<Client*>(data);
                                                       self->test->m_log += self->name;
                                                       if (self->action) {
                                                           self->action(self->test, self);
                                                       }
                                                   }};
        client.test = this;
        client.handle = iBusRegisterClient(m_bus, &description, ids, 1);
        return client.handle;
    }
    // Posts a message for id 1 and waits until it has been delivered.
    std::string Deliver() {
        m_log.clear();
        const long before = iBusGetLiveMessageCount();
        EXPECT_EQ(iBusSendMessage(m_bus, 1, 3, nullptr, 0, nullptr, 0, nullptr), 1);
        for (int i = 0; i < 500 && iBusGetLiveMessageCount() > before; ++i) {
            Sleep(10);
        }
        EXPECT_EQ(iBusGetLiveMessageCount(), before) << "the message was not delivered and released";
        return m_log;
    }

    iBusImplementation m_impl{};
    iBus* m_bus = nullptr;
    std::vector<iBusClient*> m_clients; // still registered at the end of the test
    std::string m_log;                  // written on the delivery thread only
    std::vector<int> m_results;
};

// A poll interval far longer than any wait here: only the post's wake-up can deliver in time.
TEST_F(BusDeliveryTest, APostWakesTheDeliveryThreadAndAStopNeedNotWaitOutThePoll) {
    Start(60000);
    static std::atomic<int> delivered;
    delivered = 0;
    const uint32_t ids[] = {7};
    const iBusClientDescription description = {nullptr, [](iBusMessageRecord*, void*) { ++delivered; }};
    m_clients.push_back(iBusRegisterClient(m_bus, &description, ids, 1));
    Sleep(100); // the delivery thread has found the queue empty and waits
    for (int round = 1; round <= 3; ++round) {
        const DWORD posted = GetTickCount();
        ASSERT_EQ(iBusSendMessage(m_bus, 7, 3, nullptr, 0, nullptr, 0, nullptr), 1);
        while (delivered < round && GetTickCount() - posted < 20000) {
            Sleep(1);
        }
        ASSERT_EQ(delivered.load(), round);
        EXPECT_LT(GetTickCount() - posted, 20000u);
    }
    const DWORD stopping = GetTickCount();
    m_impl.Stop(m_impl.context);
    EXPECT_LT(GetTickCount() - stopping, 20000u) << "the stop waited out the 60-second poll";
}

TEST_F(BusDeliveryTest, AClientLeavingInItsCallbackDoesNotMakeTheNextOneMissTheMessage) {
    Start(5);
    Client a{this, "A", [](BusDeliveryTest* test, Client* self) {
                 test->m_results.push_back(iBusUnregisterClient(test->m_bus, self->handle));
                 test->m_results.push_back(iBusUnregisterClient(test->m_bus, self->handle));
             }};
    Client b{this, "B"}, c{this, "C"};
    ASSERT_NE(Register(a), nullptr);
    ASSERT_NE(Register(b), nullptr);
    ASSERT_NE(Register(c), nullptr);
    m_clients = {b.handle, c.handle};

    EXPECT_EQ(Deliver(), "ABC");
    EXPECT_EQ(m_results, (std::vector<int>{1, 0})) << "unregistered once, then no longer there";
    EXPECT_EQ(Deliver(), "BC");
}

TEST_F(BusDeliveryTest, AClientTakenOffByAnEarlierCallbackIsNotCalledAndTheRestAre) {
    Start(5);
    static Client* victim;
    Client a{this, "A", [](BusDeliveryTest* test, Client*) {
                 test->m_results.push_back(iBusUnregisterClient(test->m_bus, victim->handle));
             }};
    Client b{this, "B"}, c{this, "C"}, d{this, "D"};
    victim = &c;
    ASSERT_NE(Register(a), nullptr);
    ASSERT_NE(Register(b), nullptr);
    ASSERT_NE(Register(c), nullptr);
    ASSERT_NE(Register(d), nullptr);
    m_clients = {b.handle, d.handle};

    EXPECT_EQ(Deliver(), "ABD");
    EXPECT_EQ(m_results, (std::vector<int>{1}));
    a.action = nullptr;
    m_clients.push_back(a.handle);
    EXPECT_EQ(Deliver(), "ABD");
}

TEST_F(BusDeliveryTest, AClientRegisteredInACallbackGetsTheNextMessage) {
    Start(5);
    static Client late;
    late = Client{this, "L"};
    Client a{this, "A", [](BusDeliveryTest* test, Client* self) {
                 test->Register(late);
                 self->action = nullptr;
             }};
    ASSERT_NE(Register(a), nullptr);
    EXPECT_EQ(Deliver(), "A");
    ASSERT_NE(late.handle, nullptr);
    m_clients = {a.handle, late.handle};
    EXPECT_EQ(Deliver(), "AL");
}

} // namespace
