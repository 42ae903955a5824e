// The pipe transport and the bridge over a real named pipe served by the test.
#include "devicelink/iBusNPBridge.h"
#include "TestPipeServer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kFromPipeId = 0x3E8;
constexpr uint32_t kToPipeId = 0x03E80000;

std::vector<uint8_t> Wire(uint32_t id, uint32_t kind, std::vector<uint32_t> params, const std::string& data) {
    std::vector<uint8_t> bytes(28 + data.size());
    iBusMessage header = {};
    header.Size = (uint32_t)bytes.size();
    header.Id = id;
    header.Kind = kind;
    for (size_t i = 0; i < params.size() && i < 4; ++i) {
        header.Param[i] = params[i];
    }
    memcpy(bytes.data(), &header, 28);
    memcpy(bytes.data() + 28, data.data(), data.size());
    return bytes;
}

struct Arrived {
    uint32_t kind;
    uint32_t param0;
    std::string data;
};

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_name = "OrvinTest\\Bridge" + std::to_string(GetCurrentProcessId());
        m_server = std::make_unique<TestPipeServer>(m_name);
        ASSERT_TRUE(m_server->Listening());
        ASSERT_EQ(iBusPollingImplementationCreate(&m_impl, 5), kStatusOk);
        m_bus = iBusCreate(&m_impl);
        ASSERT_EQ(iBusStart(m_bus), 1);
        const uint32_t ids[] = {kFromPipeId};
        iBusClientDescription description = {this, [](iBusMessageRecord* record, void* self) {
                                                 static_cast<BridgeTest*>(self)->OnMessage(record);
                                             }};
        m_client = iBusRegisterClient(m_bus, &description, ids, 1);
        m_pipe = NPipeCreate();
        m_bridge = iBusNPBridgeCreate();
        char* full = NPipeMakeName(nullptr, m_name.c_str());
        bool connected = false;
        ASSERT_EQ(NPipeConnect(m_pipe, full, &connected), 0);
        free(full);
        ASSERT_TRUE(connected);
        ASSERT_TRUE(m_server->Accept());
        const uint32_t out[] = {kToPipeId};
        ASSERT_EQ(iBusNPBridgeStart(m_bridge, m_bus, out, 1, m_pipe), 1);
    }
    void TearDown() override {
        iBusNPBridgeStop(m_bridge);
        NPipeClose(m_pipe);
        iBusNPBridgeDestroy(m_bridge);
        NPipeDestroy(m_pipe);
        iBusUnregisterClient(m_bus, m_client);
        m_impl.Stop(m_impl.context);
        iBusDestroy(m_bus);
        iBusPollingImplementationDestroy(&m_impl);
    }
    void OnMessage(iBusMessageRecord* record) {
        const iBusMessage* content = iBusGetMessageContent(m_bus, record);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_arrived.push_back({content->Kind, content->Param[0],
                             std::string((const char*)iBusMessageData(content), content->Size - 28)});
    }
    std::vector<Arrived> ArrivedSoFar() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_arrived;
    }
    bool WaitArrived(size_t count) {
        return WaitUntil([&] { return ArrivedSoFar().size() >= count; });
    }
    // As the I/O manager does: try again until the server takes the connection.
    bool Reconnect() {
        // The server listens first: a broken instance takes no client until it does.
        auto accepted = std::async(std::launch::async, [this] { return m_server->Accept(); });
        char* full = NPipeMakeName(nullptr, m_name.c_str());
        bool connected = WaitUntil([&] {
            bool c = false;
            return NPipeConnect(m_pipe, full, &c) == 0 && c;
        });
        free(full);
        return accepted.get() && connected;
    }
    bool PipeConnected() {
        bool connected = false;
        NPipeIsConnected(m_pipe, &connected);
        return connected;
    }

    std::string m_name;
    std::unique_ptr<TestPipeServer> m_server;
    iBusImplementation m_impl{};
    iBus* m_bus = nullptr;
    iBusClient* m_client = nullptr;
    NPipe* m_pipe = nullptr;
    iBusNPBridge* m_bridge = nullptr;
    std::mutex m_mutex;
    std::vector<Arrived> m_arrived;
};

TEST_F(BridgeTest, BusMessagesLeaveWholeAndHeaderOnlyMessagesCrossBothWays) {
    ASSERT_EQ(iBusSendMessage(m_bus, kToPipeId, 2, std::vector<uint32_t>{5, 6, 7, 8}.data(), 4, nullptr, 0,
                              nullptr),
              1);
    ASSERT_EQ(iBusSendMessage(m_bus, kToPipeId, 3, nullptr, 0, "hello", 5, nullptr), 1);
    ASSERT_EQ(iBusSendMessage(m_bus, 0x1234, 3, nullptr, 0, "other id", 8, nullptr), 1);
    const auto expected1 = Wire(kToPipeId, 2, {5, 6, 7, 8}, "");
    const auto expected2 = Wire(kToPipeId, 3, {}, "hello");
    EXPECT_EQ(m_server->Read(expected1.size()), expected1);
    EXPECT_EQ(m_server->Read(expected2.size()), expected2);
    EXPECT_TRUE(m_server->Quiet(150)) << "only subscribed ids go to the pipe";

    ASSERT_TRUE(m_server->Write(Wire(kFromPipeId, 1, {7}, "")));
    ASSERT_TRUE(WaitArrived(1));
    EXPECT_EQ(ArrivedSoFar()[0].kind, 1u);
    EXPECT_EQ(ArrivedSoFar()[0].param0, 7u);
    EXPECT_EQ(ArrivedSoFar()[0].data, "");
}

TEST_F(BridgeTest, SplitMessagesArriveWholeAndBatchesArriveInOrder) {
    // One message dribbled in byte by byte.
    const auto split = Wire(kFromPipeId, 3, {1}, std::string(300, 'S'));
    for (size_t i = 0; i < split.size(); ++i) {
        ASSERT_TRUE(m_server->Write(&split[i], 1));
        if (i % 50 == 0) {
            Sleep(15);
        }
        if (i + 1 < split.size() && i % 100 == 0) {
            EXPECT_TRUE(ArrivedSoFar().empty()) << "posted before its last byte at " << i;
        }
    }
    ASSERT_TRUE(WaitArrived(1));
    EXPECT_EQ(ArrivedSoFar()[0].data, std::string(300, 'S'));

    // Several messages in one write.
    std::vector<uint8_t> batch;
    for (uint32_t i = 0; i < 10; ++i) {
        auto one = Wire(kFromPipeId, 3, {100 + i}, std::string(i * 7, (char)('a' + i)));
        batch.insert(batch.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(m_server->Write(batch));
    ASSERT_TRUE(WaitArrived(11));
    auto arrived = ArrivedSoFar();
    for (uint32_t i = 0; i < 10; ++i) {
        EXPECT_EQ(arrived[1 + i].param0, 100 + i);
        EXPECT_EQ(arrived[1 + i].data, std::string(i * 7, (char)('a' + i)));
    }
}

TEST_F(BridgeTest, AMessageIsQueuedForThePipeOnlyWithItsReferenceTaken) {
    // The bus's messages lock lies right after the implementation's four fields. While the
    // test holds it, a reference can be neither taken nor given back.
    auto* messagesLock =
        reinterpret_cast<CRITICAL_SECTION*>(reinterpret_cast<char*>(m_bus) + sizeof(iBusImplementation));
    const long baseline = iBusGetLiveMessageCount();
    iBusMessageRecord* record = iBusCreateMessage(m_bus, kToPipeId, 2, nullptr, 0, nullptr, 0);
    iBusAddRefMessage(m_bus, record); // a second reference of the test's: nothing is freed early
    EnterCriticalSection(messagesLock);
    auto probe = std::async(std::launch::async, [&] { iBusAddRefMessage(m_bus, record); });
    ASSERT_EQ(probe.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
        << "the lock held is the messages lock";

    // The bus hands the message to the bridge as its delivery thread would.
    auto dispatch = std::async(std::launch::async, [&] { return iBusDispatchMessage(m_bus, record); });
    EXPECT_TRUE(m_server->Quiet(300)) << "the bridge wrote a message whose queueing held no reference yet";
    LeaveCriticalSection(messagesLock);
    probe.get();
    EXPECT_EQ(dispatch.get(), 1);

    const auto expected = Wire(kToPipeId, 2, {}, "");
    EXPECT_EQ(m_server->Read(expected.size()), expected);
    EXPECT_TRUE(m_server->Quiet(100)) << "written once";
    for (int i = 0; i < 3; ++i) {
        iBusReleaseMessage(m_bus, record); // creation, the test's second, the probe's
    }
    EXPECT_TRUE(WaitUntil([&] { return iBusGetLiveMessageCount() == baseline; }))
        << iBusGetLiveMessageCount() - baseline << " records left";
}

TEST_F(BridgeTest, OversizedBusMessageIsDroppedAndLaterOnesFlow) {
    ASSERT_EQ(iBusSendMessage(m_bus, kToPipeId, 3, nullptr, 0, std::string(2000, 'L').data(), 2000, nullptr),
              1);
    ASSERT_EQ(iBusSendMessage(m_bus, kToPipeId, 3, nullptr, 0, "after", 5, nullptr), 1);
    const auto expected = Wire(kToPipeId, 3, {}, "after");
    EXPECT_EQ(m_server->Read(expected.size()), expected);
    EXPECT_TRUE(WaitUntil([&] { return ItemQueueCount(m_bridge->outgoing) == 0; }));
}

TEST_F(BridgeTest, HeaderWithImpossibleSizeBreaksTheConnection) {
    for (uint32_t size : {12u, 0u, 28u + 1024u + 1u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> bad = Wire(kFromPipeId, 3, {}, "");
        memcpy(bad.data(), &size, 4);
        ASSERT_TRUE(m_server->Write(bad));
        EXPECT_TRUE(WaitUntil([&] { return !PipeConnected(); })) << "the owner must learn of it";
        EXPECT_TRUE(ArrivedSoFar().empty());

        // The owner reconnects: the bridge takes up a fresh stream.
        iBusNPBridgeStop(m_bridge);
        m_server->Break();
        ASSERT_TRUE(Reconnect());
        NPipeResetFifos(m_pipe);
        iBusNPBridgeResetIncoming(m_bridge);
        const uint32_t out[] = {kToPipeId};
        ASSERT_EQ(iBusNPBridgeStart(m_bridge, m_bus, out, 1, m_pipe), 1);
    }
    ASSERT_TRUE(m_server->Write(Wire(kFromPipeId, 3, {42}, "ok")));
    ASSERT_TRUE(WaitArrived(1));
    EXPECT_EQ(ArrivedSoFar()[0].param0, 42u);
}

TEST_F(BridgeTest, MessagesPostedWhileThePipeIsDownFollowTheNextGreeting) {
    m_server->Close();
    EXPECT_TRUE(WaitUntil([&] { return !PipeConnected(); }));
    // The bridge still runs and is still subscribed, as in the I/O manager until it sees
    // the lost connection: what it takes now must wait for the next one, not go into the
    // dead pipe's buffers.
    ASSERT_EQ(iBusSendMessage(m_bus, kToPipeId, 3, nullptr, 0, "first", 5, nullptr), 1);
    ASSERT_EQ(iBusSendMessage(m_bus, kToPipeId, 2, std::vector<uint32_t>{0xF000000E, 1}.data(), 2, nullptr, 0,
                              nullptr),
              1);
    Sleep(200); // several bridge passes
    iBusNPBridgeStop(m_bridge);

    // The manager's reconnection: fresh FIFOs, the 4-byte index, then the bridge again.
    m_server->Listen();
    ASSERT_TRUE(Reconnect());
    NPipeResetFifos(m_pipe);
    iBusNPBridgeResetIncoming(m_bridge);
    const uint8_t index[4] = {0, 0, 0, 0};
    size_t length = 4;
    ASSERT_EQ(NPipeWrite(m_pipe, index, &length), 0);
    const uint32_t out[] = {kToPipeId};
    ASSERT_EQ(iBusNPBridgeStart(m_bridge, m_bus, out, 1, m_pipe), 1);
    ASSERT_EQ(iBusSendMessage(m_bus, kToPipeId, 3, nullptr, 0, "again", 5, nullptr), 1);

    EXPECT_EQ(m_server->Read(4), (std::vector<uint8_t>{0, 0, 0, 0})) << "the greeting comes first";
    for (const auto& expected : {Wire(kToPipeId, 3, {}, "first"), Wire(kToPipeId, 2, {0xF000000E, 1}, ""),
                                 Wire(kToPipeId, 3, {}, "again")}) {
        EXPECT_EQ(m_server->Read(expected.size()), expected);
    }
    EXPECT_TRUE(m_server->Quiet(100));
}

} // namespace
