// The EyeBeam client over a fake EyeBeam in this process: the handshake (its own broadcast
// and another window's are not EyeBeam's goodbye), the 620-byte records it sends, the handset's digits and
// the send key, EyeBeam's call states and event 900, and records from EyeBeam read only as far as they go.
// What goes to the service is read from the traffic the client logs for it.
#include "FakeSoftphones.h"
#include "softphone/eyebeam/EyebeamApiClient.h"
#include "tests/lib/fuzz/GuardedPage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kConnected[] = "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:1, buffer:";
const char kDisconnected[] = "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:2, buffer:";

class EyebeamTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.SetConfigParams(&m_params);
        m_client.SetMainDialog(&m_log);
        ASSERT_TRUE(m_client.Engine()->Create(&m_client));
    }
    void Attach() {
        m_client.ConnectToApiServer();
        ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
        m_eyebeam.received.clear();
        m_log.service.clear();
    }
    void Keys(const char* keys) {
        for (const char* k = keys; *k; ++k) {
            m_client.HandleAdapterEvent(Event(1, 1, *k)); // NOTIFY_DTMF_KEY
        }
    }
    // The records EyeBeam got since the last look, as (type, code, info).
    std::vector<std::vector<int32_t>> Records() {
        std::vector<std::vector<int32_t>> records;
        for (const CopyData& copy : m_eyebeam.received) {
            int32_t fields[3] = {};
            memcpy(fields, copy.bytes.data(), copy.bytes.size() < 12 ? copy.bytes.size() : 12);
            records.push_back({fields[0], fields[1], fields[2]});
        }
        m_eyebeam.received.clear();
        return records;
    }
    void FromEyeBeam(int32_t type, int32_t event) { m_eyebeam.Send(0, FakeEyeBeam::Record(type, event)); }

    CConfigParams m_params;
    TrafficLog m_log;
    FakeEyeBeam m_eyebeam;
    CEyebeamApiClient m_client;
};

using RecordList = std::vector<std::vector<int32_t>>;

TEST_F(EyebeamTest, TheHandshakeTakesEyeBeamsHelloAndGoodbyeButNotItsOwnBroadcast) {
    m_client.ConnectToApiServer();
    EXPECT_EQ(m_eyebeam.discovers, 1);
    EXPECT_EQ((HWND)m_eyebeam.discoverWParam, m_client.Engine()->Window());
    EXPECT_EQ(m_eyebeam.discoverLParam, 0);
    ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    EXPECT_EQ(m_client.Engine()->EyeBeamWindow(), m_eyebeam.m_hWnd);
    EXPECT_EQ(m_log.service, (std::vector<std::string>{kConnected})) << "its own broadcast is no goodbye";
    FakeEyeBeam stranger; // another program's discover: the register message with 0
    stranger.Register(m_client.Engine()->Window(), 0);
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C) << "only the EyeBeam it knows says goodbye";

    m_eyebeam.Register(m_client.Engine()->Window(), 0);
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0);
    EXPECT_EQ(m_client.Engine()->EyeBeamWindow(), nullptr);
    EXPECT_EQ(m_log.service.back(), kDisconnected);
    Keys("5");
    EXPECT_TRUE(m_eyebeam.received.empty()) << "nothing goes to a softphone that said goodbye";

    m_eyebeam.Available();
    EXPECT_EQ(m_eyebeam.discovers, 2) << "API available: discovered again";
    ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    EXPECT_EQ(m_log.service.back(), kConnected);
}

TEST_F(EyebeamTest, RecordsToEyeBeamAre620BytesWithTypeCodeAndInfoInPlace) {
    Attach();
    Keys("5");
    ASSERT_EQ(m_eyebeam.received.size(), 1u);
    const CopyData& record = m_eyebeam.received[0];
    EXPECT_EQ(record.data, 0u);
    EXPECT_EQ(record.from, m_client.Engine()->Window());
    ASSERT_EQ(record.bytes.size(), 620u);
    const std::string head("\x01\x00\x00\x00\x01\x00\x00\x00\x35\x00\x00\x00", 12);
    EXPECT_EQ(record.bytes.substr(0, 12), head);
    EXPECT_EQ(record.bytes.substr(12), std::string(608, '\0'));
    EXPECT_EQ(m_log.softphone.back(), "EventType: 0x1, Event:0x1, Info:0x35");
}

TEST_F(EyebeamTest, TheSendKeyDialsOnlyAfterTwoDigits) {
    Attach();
    Keys("5*");
    EXPECT_EQ(Records(), (RecordList{{1, 1, '5'}, {1, 1, '*'}})) << "after one digit the send key is a digit";
    EXPECT_TRUE(m_log.service.empty());
    m_client.HandleAdapterEvent(Event(1, 0, 1)); // on hook: the digits go
    EXPECT_EQ(Records(), (RecordList{{1, 13, 17}}));
    EXPECT_EQ(m_client.CollectedDigits(), "");

    Keys("55*");
    EXPECT_EQ(Records(), (RecordList{{1, 1, '5'}, {1, 1, '5'}, {1, 13, 16}}));
    EXPECT_EQ(m_log.service,
              (std::vector<std::string>{"MSG_TYPE_CALL_EVENT: CALL_STATUS_ROUTING, info:1000, buffer:"}));
    EXPECT_EQ(m_client.Session().m_nState, 2);
    EXPECT_EQ(m_client.CollectedDigits(), "");

    m_params.m_cSendKey = '#';
    m_client.HandleAdapterEvent(Event(1, 0, 1));
    Records();
    Keys("12#");
    EXPECT_EQ(Records(), (RecordList{{1, 1, '1'}, {1, 1, '2'}, {1, 13, 16}}));
}

TEST_F(EyebeamTest, ALoneStarWithNoCallIsTheServicesAndNotForwarded) {
    Attach();
    Keys("*");
    EXPECT_EQ(m_log.service,
              (std::vector<std::string>{"MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:4, buffer:"}));
    EXPECT_TRUE(Records().empty());
    FromEyeBeam(0, 4);
    FromEyeBeam(0, 5); // in a call the star is a key for the far end
    m_log.service.clear();
    Keys("*");
    EXPECT_TRUE(m_log.service.empty());
    EXPECT_EQ(Records(), (RecordList{{1, 1, '*'}}));
}

TEST_F(EyebeamTest, EyeBeamsCallStatesReachTheServiceUnderCallId1000) {
    Attach();
    FromEyeBeam(0, 4);
    EXPECT_EQ(m_client.Session().m_nState, 4);
    EXPECT_EQ(m_client.Session().m_nCallId, 1000);
    FromEyeBeam(0, 5);
    FromEyeBeam(1, 9); // not a call event
    FromEyeBeam(0, 11);
    FromEyeBeam(0, 14); // no call status EyeBeam reports
    EXPECT_EQ(m_log.service, (std::vector<std::string>{
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:1000, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_INPROGRESS, info:1000, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:1000, buffer:",
                             }))
        << "a refused call is reported finished";
}

TEST_F(EyebeamTest, Event900PutsARoutedCallInProgressEndsARingingOneAndElseChangesNothing) {
    Attach();
    Keys("55*");
    m_log.service.clear();
    FromEyeBeam(0, 900);
    EXPECT_EQ(m_client.Session().m_nState, 5);
    FromEyeBeam(0, 900);
    EXPECT_EQ(m_client.Session().m_nState, 5) << "in progress: nothing changes";
    FromEyeBeam(0, 9);
    FromEyeBeam(0, 4);
    FromEyeBeam(0, 900);
    EXPECT_EQ(m_client.Session().m_nState, 9);
    EXPECT_EQ(m_log.service, (std::vector<std::string>{
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_INPROGRESS, info:1000, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:1000, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:1000, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:1000, buffer:",
                             }));
}

TEST_F(EyebeamTest, TheHandsetAndTheServiceReachEyeBeam) {
    Attach();
    m_client.HandleAdapterEvent(Event(1, 0, 0)); // off hook: nothing for EyeBeam
    EXPECT_EQ(m_client.ConnectionFlags() & 0x10, 0x10);
    m_client.HandleAdapterEvent(Event(0, 5, 1000)); // the service answers
    m_client.HandleAdapterEvent(Event(0, 7, 0));    // a status without a call id: not told
    m_client.HandleAdapterEvent(Event(1, 0, 1));    // on hook
    m_client.HandleAdapterEvent(Event(0, 9, 1000)); // the service ends the call
    EXPECT_EQ(Records(), (RecordList{{0, 5, 0}, {1, 13, 17}, {0, 9, 0}}));
    EXPECT_EQ(m_client.ConnectionFlags() & 0x10, 0);
}

// A record shorter than the type and the event is traced and ignored; one of 8 bytes or
// more is read only as far as it goes. Each record ends where a no-access page begins.
TEST_F(EyebeamTest, RecordsFromEyeBeamAreReadOnlyAsFarAsTheyGo) {
    Attach();
    GuardedPage page;
    ASSERT_TRUE(page.Valid());
    const std::string ringing = FakeEyeBeam::Record(0, 4, 0, 620);
    for (size_t size = 0; size < 8; ++size) {
        COPYDATASTRUCT copy = {0, (DWORD)size, page.Place(ringing.data(), size)};
        m_client.OnApiServerMessage(&copy);
    }
    EXPECT_EQ(m_client.Session().m_nState, 9) << "no record shorter than 8 bytes is read";
    EXPECT_TRUE(m_log.service.empty());
    COPYDATASTRUCT eight = {0, 8, page.Place(ringing.data(), 8)};
    m_client.OnApiServerMessage(&eight);
    EXPECT_EQ(m_client.Session().m_nState, 4);
    const std::string finished = FakeEyeBeam::Record(0, 9, 0, 1000);
    COPYDATASTRUCT longer = {0, 1000, page.Place(finished.data(), finished.size())};
    m_client.OnApiServerMessage(&longer);
    EXPECT_EQ(m_client.Session().m_nState, 9);
    EXPECT_EQ(m_log.service.size(), 2u);
}

} // namespace
