// The I/O manager against a "VCORE\IOMAN" served by the test: greeting, traffic both ways,
// reconnection, and streams that must not confuse it.
#include "devicelink/IoManager.h"
#include "devicelink/MessageCatalogue.h"
#include "TestPipeServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<uint8_t> Header(uint32_t size, uint32_t id, uint32_t kind, std::vector<uint32_t> params) {
    iBusMessage header = {};
    header.Size = size;
    header.Id = id;
    header.Kind = kind;
    for (size_t i = 0; i < params.size(); ++i) {
        header.Param[i] = params[i];
    }
    std::vector<uint8_t> bytes(28);
    memcpy(bytes.data(), &header, 28);
    return bytes;
}

// A kind-3 message from the service carrying Buffer1 = text.
std::vector<uint8_t> EventFromService(int32_t type, int32_t code, int32_t info, const std::string& text) {
    std::vector<uint8_t> bytes =
        Header(28 + (text.empty() ? 0 : 32), IoManFromServiceId(0), VCORE_IBUS_ID_IMM_MESSAGE,
               {(uint32_t)type, (uint32_t)code, (uint32_t)info, text.empty() ? 0u : 1u});
    if (!text.empty()) {
        std::vector<uint8_t> buffer(32, 0);
        memcpy(buffer.data(), text.data(), text.size());
        bytes.insert(bytes.end(), buffer.begin(), buffer.end());
    }
    return bytes;
}

class IoManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_server = std::make_unique<TestPipeServer>("VCORE\\IOMAN");
        ASSERT_TRUE(m_server->Listening());
        ASSERT_EQ(m_manager.Open(&IoManagerTest::OnEvent, 0, this), 1);
        ExpectGreeting();
    }
    void TearDown() override { m_manager.Close(); }

    static void OnEvent(const IMM* message, uint32_t length, void* self) {
        auto* test = static_cast<IoManagerTest*>(self);
        EXPECT_EQ(length, sizeof(IMM));
        {
            std::lock_guard<std::mutex> lock(test->m_mutex);
            test->m_events.push_back(*message);
        }
        if (test->m_onEvent) {
            test->m_onEvent(*message);
        }
    }
    std::vector<IMM> Events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    void ExpectGreeting() {
        ASSERT_TRUE(m_server->Accept());
        auto index = m_server->Read(4);
        ASSERT_EQ(index, (std::vector<uint8_t>{0, 0, 0, 0})) << "the adapter index comes first";
        ASSERT_TRUE(WaitUntil([&] { return m_manager.Phase() == 3; }));
    }
    // Reads one whole message from the agent.
    std::vector<uint8_t> ReadMessage() {
        auto header = m_server->Read(28);
        if (header.size() != 28) {
            return {};
        }
        uint32_t size;
        memcpy(&size, header.data(), 4);
        auto data = m_server->Read(size - 28);
        header.insert(header.end(), data.begin(), data.end());
        return header;
    }

    std::unique_ptr<TestPipeServer> m_server;
    CIoManager m_manager;
    std::mutex m_mutex;
    std::vector<IMM> m_events;
    std::function<void(const IMM&)> m_onEvent; // set before the events it is for
};

TEST_F(IoManagerTest, EventsFromTheServiceReachTheOwner) {
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_HW_EVENT, NOTIFY_HOOK_STATE, HS_OffHook, "")));
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_CALL_EVENT, CALL_STATUS_RINGING, 0, "+4930123")));
    ASSERT_TRUE(WaitUntil([&] { return Events().size() == 2; }));
    auto events = Events();
    EXPECT_EQ(events[0].Type, MSG_TYPE_HW_EVENT);
    EXPECT_EQ(events[0].Code, NOTIFY_HOOK_STATE);
    EXPECT_EQ(events[1].Code, CALL_STATUS_RINGING);
    EXPECT_STREQ(events[1].Buffer1, "+4930123");
}

TEST_F(IoManagerTest, RequestsReachTheServiceWithTheirIoctlCodes) {
    IMM event = {};
    event.Type = MSG_TYPE_AGENT_EVENT;
    event.Code = NotifyAgentStatus;
    event.Info = AgentAlive;
    m_manager.SendEvent(99, 1, &event);
    auto message = ReadMessage();
    ASSERT_EQ(message.size(), 32u) << "header, no buffers, the IOCTL code";
    iBusMessage header;
    memcpy(&header, message.data(), 28);
    EXPECT_EQ(header.Id, 0x03E80000u);
    EXPECT_EQ(header.Kind, (uint32_t)VCORE_IBUS_ID_IMM_MESSAGE);
    EXPECT_EQ(header.Param[0], (uint32_t)MSG_TYPE_AGENT_EVENT);
    EXPECT_EQ(header.Param[1], (uint32_t)NotifyAgentStatus);
    EXPECT_EQ(header.Param[3], kImmHasExtra);
    uint32_t ioctl;
    memcpy(&ioctl, message.data() + 28, 4);
    EXPECT_EQ(ioctl, 0xF000000Au);

    m_manager.SendEvent(7, 7, nullptr); // unknown internal code: nothing goes out
    m_manager.SendEvent(5, 3, nullptr);
    message = ReadMessage();
    ASSERT_EQ(message.size(), 28u);
    memcpy(&header, message.data(), 28);
    EXPECT_EQ(header.Kind, (uint32_t)VCORE_IBUS_ID_GENERIC_MESSAGE);
    EXPECT_EQ(header.Param[0], 0xF000000Eu);
    EXPECT_EQ(header.Param[1], 5u);
    EXPECT_TRUE(m_server->Quiet(150));
}

TEST_F(IoManagerTest, AdaptorInfoAndUnexpectedKinds) {
    ASSERT_TRUE(m_server->Write(Header(28, IoManFromServiceId(0), VCORE_IBUS_ID_ADAPTOR_INFO, {0})));
    ASSERT_TRUE(WaitUntil([&] { return m_manager.LowCost() == 0; }));
    ASSERT_TRUE(m_server->Write(Header(28, IoManFromServiceId(0), VCORE_IBUS_ID_ADAPTOR_INFO, {7})));
    ASSERT_TRUE(WaitUntil([&] { return m_manager.LowCost() == 1; }));
    // Neither a generic message, an unknown kind nor another adapter's id reaches the owner.
    ASSERT_TRUE(m_server->Write(Header(28, IoManFromServiceId(0), VCORE_IBUS_ID_GENERIC_MESSAGE, {1})));
    ASSERT_TRUE(m_server->Write(Header(28, IoManFromServiceId(0), 9, {1})));
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_HW_EVENT, 1, 0, "x")));
    auto other = EventFromService(MSG_TYPE_HW_EVENT, 2, 0, "");
    uint32_t otherId = IoManFromServiceId(1);
    memcpy(other.data() + 4, &otherId, 4);
    ASSERT_TRUE(m_server->Write(other));
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_HW_EVENT, 3, 0, "")));
    ASSERT_TRUE(WaitUntil([&] { return Events().size() == 2; }));
    Sleep(150);
    auto events = Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].Code, 1);
    EXPECT_EQ(events[1].Code, 3);
}

TEST_F(IoManagerTest, ShortImmDataIsRefusedAndTheStreamGoesOn) {
    // Flags promise a payload; the message holds 8 bytes.
    auto bad = Header(36, IoManFromServiceId(0), VCORE_IBUS_ID_IMM_MESSAGE, {1, 5, 0, kImmHasPayload});
    bad.resize(36, 'x');
    ASSERT_TRUE(m_server->Write(bad));
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_HW_EVENT, 4, 0, "")));
    ASSERT_TRUE(WaitUntil([&] { return Events().size() == 1; }));
    EXPECT_EQ(Events()[0].Code, 4);
}

TEST_F(IoManagerTest, ReconnectsAndGreetsAfterTheServiceBreaksThePipe) {
    m_server->Break();
    ExpectGreeting();
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_HW_EVENT, NOTIFY_OPEN_DEVICE, 0, "")));
    ASSERT_TRUE(WaitUntil([&] { return Events().size() == 1; }));

    // The service goes away altogether and comes back.
    m_server->Close();
    ASSERT_TRUE(WaitUntil([&] { return m_manager.Phase() == 1; }));
    Sleep(100);
    m_server->Listen();
    ExpectGreeting();
    IMM event = {};
    event.Type = MSG_TYPE_HW_EVENT;
    event.Code = NOTIFY_JACK_SWAP;
    m_manager.SendEvent(0, 1, &event);
    auto message = ReadMessage();
    ASSERT_EQ(message.size(), 32u);
}

TEST_F(IoManagerTest, HalfAMessageBeforeABreakDoesNotSpoilTheNextConnection) {
    auto half = EventFromService(MSG_TYPE_HW_EVENT, NOTIFY_PSTN_RING, 0, "stale");
    half.resize(20);
    ASSERT_TRUE(m_server->Write(half));
    Sleep(200); // it has reached the agent's buffers
    m_server->Break();
    ExpectGreeting();
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_HW_EVENT, NOTIFY_VOIP_STATE, PC_PSTN, "fresh")));
    ASSERT_TRUE(WaitUntil([&] { return Events().size() == 1; }));
    EXPECT_EQ(Events()[0].Code, NOTIFY_VOIP_STATE);
    EXPECT_STREQ(Events()[0].Buffer1, "fresh");
}

TEST_F(IoManagerTest, ImpossibleHeaderMakesTheManagerReconnect) {
    ASSERT_TRUE(m_server->Write(Header(5, IoManFromServiceId(0), VCORE_IBUS_ID_IMM_MESSAGE, {})));
    // The agent drops the connection; the service sees it and takes the next one.
    ASSERT_TRUE(WaitUntil([&] { return m_server->Read(1, 10).empty() && m_manager.Phase() != 3; }, 3000));
    m_server->Break();
    ExpectGreeting();
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_HW_EVENT, NOTIFY_DTMF_KEY, '5', "")));
    ASSERT_TRUE(WaitUntil([&] { return Events().size() == 1; }));
    EXPECT_EQ(Events()[0].Info, '5');
}

TEST_F(IoManagerTest, CloseFromTheOwnerCallbackIsRefusedInsteadOfWaitingForItself) {
    std::atomic<bool> closeReturned{false};
    m_onEvent = [&](const IMM& message) {
        if (message.Code == NOTIFY_HOOK_STATE) {
            m_manager.Close();
            closeReturned = true;
        }
    };
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_HW_EVENT, NOTIFY_HOOK_STATE, HS_OffHook, "")));
    if (!WaitUntil([&] { return closeReturned.load(); }, 10000)) {
        ADD_FAILURE() << "Close called on the delivery thread never returned";
        TerminateProcess(GetCurrentProcess(), 1); // the manager's threads can never be stopped now
    }
    EXPECT_TRUE(m_manager.IsOpen());
    EXPECT_EQ(m_manager.Phase(), 3);
    // Still delivering, and still closable from the owner's thread.
    ASSERT_TRUE(m_server->Write(EventFromService(MSG_TYPE_HW_EVENT, NOTIFY_DTMF_KEY, '1', "")));
    ASSERT_TRUE(WaitUntil([&] { return Events().size() == 2; }));
    m_manager.Close();
    EXPECT_FALSE(m_manager.IsOpen());
}

TEST_F(IoManagerTest, CloseStopsEverythingAndCanOpenAgain) {
    m_manager.Close();
    EXPECT_FALSE(m_manager.IsOpen());
    EXPECT_EQ(m_manager.AdapterIndex(), kNoAdapter);
    m_server->Break();
    ASSERT_EQ(m_manager.Open(&IoManagerTest::OnEvent, 0, this), 1);
    ExpectGreeting();
}

// Requests from other threads (a voice dialogue's reports) may come while the owner closes
// the manager: each goes out whole before the close, or is dropped; none touches the
// connection being torn down (the test runs with Wine's heap checks, which fill freed
// memory, so a send that used it would fault). Round after round, two senders send every
// few milliseconds, and as fast as they can once the close begins.
TEST_F(IoManagerTest, SendsFromOtherThreadsDuringCloseGoOutWholeOrNotAtAll) {
    for (int round = 0; round < 25; ++round) {
        if (round > 0) {
            m_server->Break();
            ASSERT_EQ(m_manager.Open(&IoManagerTest::OnEvent, 0, this), 1);
            ExpectGreeting();
        }
        std::atomic<bool> stop{false}, closing{false};
        std::atomic<int> sent{0};
        std::vector<uint8_t> got;
        std::thread reader([&] { // on until told to stop and nothing is left to read
            for (;;) {
                auto bytes = m_server->Read(4096, 10);
                got.insert(got.end(), bytes.begin(), bytes.end());
                if (bytes.empty()) {
                    if (stop) {
                        break;
                    }
                    Sleep(1);
                }
            }
        });
        std::vector<std::thread> senders;
        for (int32_t sender = 1; sender <= 2; ++sender) {
            senders.emplace_back([&, sender] {
                IMM report = {};
                report.Type = 7;
                report.Code = 8;
                memcpy(report.Buffer1, &sender, 4);
                while (!stop) {
                    m_manager.SendEvent(0, 1, &report);
                    ++sent;
                    if (!closing) {
                        Sleep(5);
                    }
                }
            });
        }
        ASSERT_TRUE(WaitUntil([&] { return sent >= 20; }));
        closing = true;
        m_manager.Close();
        EXPECT_FALSE(m_manager.IsOpen());
        Sleep(50); // sends after the close do nothing
        stop = true;
        for (auto& sender : senders) {
            sender.join();
        }
        reader.join();
        // Header, Buffer1 and the IOCTL code: 64 bytes each, every one whole.
        ASSERT_EQ(got.size() % 64, 0u) << "round " << round << ": a message cut short";
        ASSERT_GE(got.size(), 64u) << "round " << round;
        for (size_t at = 0; at < got.size(); at += 64) {
            uint32_t field[8];
            memcpy(field, got.data() + at, sizeof field);
            ASSERT_EQ(field[0], 64u) << "round " << round << " at " << at;
            EXPECT_EQ(field[1], 0x03E80000u);
            EXPECT_EQ(field[2], 3u);
            EXPECT_EQ(field[3], 7u);
            EXPECT_EQ(field[4], 8u);
            EXPECT_EQ(field[6], 0x11u); // Buffer1 and the IOCTL code
        }
    }
}

} // namespace
