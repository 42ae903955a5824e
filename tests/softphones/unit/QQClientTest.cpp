// The QQ client over a fake QQ in this process: the handshake and the audio devices, the
// number sent whole with its tag, QQ's call statuses as the service hears them, the
// service's requests as QQ call statuses, items read only within the data QQ sent, and
// the message-waiting signal. Items are written here byte by byte as QQ lays them out.
#include "FakeSoftphones.h"
#include "softphone/qq/QQApiClient.h"
#include "tests/agent/audiodevices/FakeMixers.h"
#include "tests/lib/fuzz/GuardedPage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Milliseconds from the performance counter: GetTickCount64 moves in steps of up to 16 ms,
// so a pause of 100 ms can read as 88.
double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

// What the client reports to the service whole, and the signals it asks for.
class WatchedQQ : public QQApiClient {
public:
    WatchedQQ() = default;
    explicit WatchedQQ(IMixerApi& mixers) : QQApiClient(mixers) {}
    void ReportCallStatus(const IMM& record) override {
        reports.push_back(record);
        QQApiClient::ReportCallStatus(record);
    }
    void SendPlaybackSignalRequest(int a, int b, int c, int d) override {
        signals.push_back({a, b, c, d});
        signalTimes.push_back(NowMs());
    }
    std::vector<IMM> reports;
    std::vector<std::vector<int>> signals;
    std::vector<double> signalTimes;
};

const std::string kDefaultDevices = Item(6, U32(0));

class QQTest : public ::testing::Test {
protected:
    void SetUp() override { Start(m_client); }
    void Start(WatchedQQ& client) {
        client.SetConfigParams(&m_params);
        client.SetMainDialog(&m_log);
        ASSERT_TRUE(client.Engine()->Create(&client));
    }
    // Attached, and the audio devices chosen half a second later.
    void Attach(WatchedQQ& client) {
        client.ConnectToApiServer();
        ASSERT_TRUE(Pump([&] { return (client.ConnectionFlags() & 0x0C) == 0x0C; }));
        ASSERT_TRUE(Pump([&] { return !m_qq.received.empty(); }));
        m_qq.received.clear();
        m_log.service.clear();
    }
    void Keys(const char* keys) {
        for (const char* k = keys; *k; ++k) {
            m_client.HandleAdapterEvent(Event(1, 1, *k)); // NOTIFY_DTMF_KEY
        }
    }
    // The messages QQ got since the last look, as (event, data).
    std::vector<std::pair<uint32_t, std::string>> Messages() {
        std::vector<std::pair<uint32_t, std::string>> messages;
        for (const CopyData& copy : m_qq.received) {
            messages.emplace_back(copy.data, copy.bytes);
        }
        m_qq.received.clear();
        return messages;
    }
    void Status(uint8_t status, const std::string& rest = "") {
        m_qq.Send(19, Item(8, std::string(1, (char)status)) + rest);
    }

    CConfigParams m_params;
    TrafficLog m_log;
    FakeQQ m_qq;
    WatchedQQ m_client;
};

using MessageList = std::vector<std::pair<uint32_t, std::string>>;

TEST_F(QQTest, TheHandshakeCarries100AndOnlyTheResponseWith2Attaches) {
    m_qq.answer = false;
    m_client.ConnectToApiServer();
    EXPECT_EQ(m_qq.discovers, 1);
    EXPECT_EQ((HWND)m_qq.discoverWParam, m_client.Engine()->Window());
    EXPECT_EQ(m_qq.discoverLParam, 100);
    m_qq.Respond(1);
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0);
    m_qq.Respond(2);
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C);
    EXPECT_EQ(m_log.service,
              (std::vector<std::string>{"MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:1, buffer:"}));
    EXPECT_TRUE(m_qq.received.empty()) << "the audio devices wait half a second";
    ASSERT_TRUE(Pump([&] { return !m_qq.received.empty(); }));
    EXPECT_EQ(Messages(), (MessageList{{10, kDefaultDevices}})) << "no adapter: QQ's own devices";
    EXPECT_EQ(m_log.softphone.back(), "Set Audio Device: Default Audio Device");
    PumpFor(700);
    EXPECT_TRUE(m_qq.received.empty()) << "the timer runs once";

    m_qq.Available();
    EXPECT_EQ(m_qq.discovers, 2) << "API available: discovered again";
}

TEST_F(QQTest, TheAdaptersGoingWithinHalfASecondOfTheConnectionSelectsNoDevicesAfter) {
    m_client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    m_client.HandleAdapterEvent(Event(1, 8, 0)); // NOTIFY_CLOSE_DEVICE
    ASSERT_FALSE(m_qq.received.empty()) << "QQ's own devices back";
    m_qq.received.clear();
    PumpFor(700);
    EXPECT_TRUE(m_qq.received.empty()) << "timer 80 went with the connection";
}

TEST(QQAudioTest, TheAdaptersDeviceGoesToQQWithItsNameAndId) {
    FakeMixers mixers({{"Speakers"}, {"Orvin Virtual Audio Device"}});
    CConfigParams params;
    TrafficLog log;
    FakeQQ qq;
    WatchedQQ client(mixers);
    client.SetConfigParams(&params);
    client.SetMainDialog(&log);
    ASSERT_TRUE(client.Engine()->Create(&client));
    client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return !qq.received.empty(); }));
    ASSERT_EQ(qq.received.size(), 1u);
    EXPECT_EQ(qq.received[0].data, 10u);
    EXPECT_EQ(qq.received[0].bytes, Item(5, std::string("Orvin Virtual Audio Device\0", 27)) +
                                        Item(6, std::string("\x01\x00\x00\x00", 4)));
    EXPECT_EQ(log.softphone.back(), "Set Audio Device: Orvin Virtual Audio Device");
}

TEST_F(QQTest, NumbersGoWholeWithTag3BelowThreeDigitsAndTag1From) {
    Attach(m_client);
    Keys("12*");
    Keys("123*");
    EXPECT_EQ(Messages(), (MessageList{{13, Item(3, "12")}, {13, Item(1, "123")}}));
    EXPECT_NE(std::find(m_log.other.begin(), m_log.other.end(), "Call Number: 123"), m_log.other.end());
    EXPECT_EQ(m_client.CollectedDigits(), "");

    m_params.m_cSendKey = '#';
    Keys("1*2#");
    Keys("45A6#");
    EXPECT_EQ(Messages(), (MessageList{{13, Item(3, "2")}, {13, Item(3, "6")}}))
        << "a star with digits, or a key that is no digit, starts the number afresh";
    Keys("#*");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(m_log.service,
              (std::vector<std::string>{"MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:4, buffer:"}))
        << "a lone star with no call";
}

TEST_F(QQTest, QQsCallStatusesReachTheServiceWithHandleAndCaller) {
    Attach(m_client);
    Status(2, Item(9, U32(77)) + Item(10, std::string("alice\0", 6)));
    EXPECT_EQ(m_client.Session().m_nState, 4);
    Status(4, Item(9, U32(77)));
    Status(8, Item(9, U32(77)));
    EXPECT_EQ(m_client.Session().m_nState, 7);
    Status(9, Item(9, U32(77)));
    Status(10, Item(9, U32(77)) + Item(11, U32(1))); // mute: nothing for the service
    Status(3);                                       // busy: nothing for the service
    EXPECT_EQ(m_client.Session().m_nState, 12);
    Status(6, Item(9, U32(77)));
    Status(1, Item(9, U32(79)) + Item(11, U32(0)) + Item(12, std::string("orvin\0", 6)) +
                  Item(12, std::string("555\0", 4)));
    Status(7, Item(9, U32(79)));
    Status(5, Item(9, U32(80)));
    EXPECT_EQ(m_log.service, (std::vector<std::string>{
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:77, buffer:alice",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_INPROGRESS, info:77, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_LOCALHOLD, info:77, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_INPROGRESS, info:77, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:77, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_ROUTING, info:79, buffer:555",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_FAILED, info:79, buffer:",
                                 "MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:80, buffer:",
                             }));
    m_log.service.clear();
    m_qq.Send(19, Item(9, U32(5)) + Item(8, "\x02")); // the first item is not the status
    m_qq.Send(17, Item(8, "\x02"));
    m_qq.Send(20, "");
    EXPECT_TRUE(m_log.service.empty());
    EXPECT_EQ(m_client.Session().m_nState, 9);
}

TEST_F(QQTest, AnAcceptUnderANewHandleCarriesTheFormerOneInBuffer2) {
    Attach(m_client);
    Status(2, Item(9, U32(77)) + Item(10, std::string("bob\0", 4)));
    Status(4, Item(9, U32(77)));
    Status(4, Item(9, U32(0x0102)));
    ASSERT_EQ(m_client.reports.size(), 3u);
    EXPECT_EQ(std::string(m_client.reports[1].Buffer2, 32), std::string(32, '\0')) << "the same handle";
    const IMM& moved = m_client.reports[2];
    EXPECT_EQ(moved.Type, 0);
    EXPECT_EQ(moved.Code, 5);
    EXPECT_EQ(moved.Info, 0x0102);
    EXPECT_EQ(std::string(moved.Buffer2, 32), std::string("\x4d\x00\x00\x00", 4) + std::string(28, '\0'));
}

TEST_F(QQTest, TheServicesRequestsBecomeQQCallStatuses) {
    const int expected[] = {0, 0, 1, 7, 2, 4, 8, 8, 8, 6, 0, 5, 3, 6, 9, 0};
    for (int status = 0; status < 16; ++status) {
        EXPECT_EQ(m_client.ToQQCallStatus(status), expected[status]) << "agent call status " << status;
    }
    Attach(m_client);
    Status(2, Item(9, U32(77)));
    m_client.HandleAdapterEvent(Event(0, 5, 77));  // answer
    m_client.HandleAdapterEvent(Event(0, 7, 77));  // hold
    m_client.HandleAdapterEvent(Event(0, 14, 77)); // resume
    m_client.HandleAdapterEvent(Event(0, 9, 77));  // end
    EXPECT_EQ(Messages(), (MessageList{{12, Item(7, "\x91")},
                                       {19, Item(8, "\x08") + Item(9, U32(77))},
                                       {19, Item(8, "\x09") + Item(9, U32(77))},
                                       {12, Item(7, "\x92")}}));
    EXPECT_EQ(m_client.Session().m_nState, 7) << "hold switches the state; resume (14) changes nothing";
    m_client.HandleAdapterEvent(Event(0, 4, 77)); // not a request the service makes
    EXPECT_TRUE(Messages().empty());
}

TEST_F(QQTest, QQShuttingDownDetachesAndNothingMoreGoesToIt) {
    Attach(m_client);
    Status(2, Item(9, U32(77)));
    m_qq.Send(18, "");
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0);
    EXPECT_EQ(m_log.service.back(), "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:2, buffer:");
    EXPECT_EQ(m_log.ringsOff, 1);
    EXPECT_EQ(m_log.busy, 1) << "a ringing call: ringing off, then busy";
    EXPECT_EQ(Messages(), (MessageList{{10, kDefaultDevices}, {10, kDefaultDevices}}));
    Keys("123*");
    m_client.HandleAdapterEvent(Event(0, 5, 77));
    EXPECT_TRUE(Messages().empty());
}

// An item whose length runs past the data, a huge length, a text without its terminator,
// an item header cut short and a status without the items it needs: nothing is read past
// the data, at most 23 bytes of a value are taken, and the call status goes on. Each
// message ends where a no-access page begins.
TEST_F(QQTest, ItemsFromQQAreReadOnlyWithinTheirData) {
    Attach(m_client);
    GuardedPage page;
    ASSERT_TRUE(page.Valid());
    auto fromQQ = [&](const std::string& data) {
        COPYDATASTRUCT copy = {19, (DWORD)data.size(), page.Place(data.data(), data.size())};
        m_client.OnApiServerMessage(&copy);
        const std::string heard = m_log.service.empty() ? "(nothing)" : m_log.service.back();
        m_log.service.clear();
        return heard;
    };
    const std::string ringing = Item(8, "\x02");
    EXPECT_EQ(fromQQ(ringing + Item(9, U32(77)) + ItemClaiming(10, 0xFFFFFFFF, "alice")),
              "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:77, buffer:alice");
    EXPECT_EQ(fromQQ(ringing + Item(9, U32(78)) + ItemClaiming(10, 40, "bob-bob-bo")),
              "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:78, buffer:bob-bob-bo");
    EXPECT_EQ(fromQQ(ringing + Item(9, U32(79)) + Item(10, "abcdefghijklmnopqrstuvwxyz0123")),
              "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:79, buffer:abcdefghijklmnopqrstuvw")
        << "at most 23 bytes of a text";
    EXPECT_EQ(fromQQ(ringing + Item(9, U32(80)) + Item(10, "carol")),
              "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:80, buffer:carol")
        << "a text without its terminator, ending the data";
    EXPECT_EQ(fromQQ(ringing + Item(9, U32(81))),
              "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:81, buffer:")
        << "no caller";
    EXPECT_EQ(fromQQ(ringing + Item(9, "\x52\x00")),
              "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:82, buffer:")
        << "a handle of two bytes";
    EXPECT_EQ(fromQQ(ringing + std::string("\x09\x04\x00", 3)),
              "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:0, buffer:")
        << "an item header cut short";
    EXPECT_EQ(fromQQ(ringing), "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:0, buffer:") << "no handle";
    EXPECT_EQ(fromQQ(Item(8, "")), "(nothing)") << "a status item without its byte";
    EXPECT_EQ(fromQQ(ItemClaiming(8, 0x7FFFFFFF, "\x06")),
              "MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:0, buffer:");
    EXPECT_EQ(fromQQ(std::string("\x08\x01", 2)), "(nothing)");
    EXPECT_EQ(fromQQ(Item(8, "\x01") + Item(9, U32(83)) + Item(11, "x") + Item(12, std::string("dave\0", 5))),
              "MSG_TYPE_CALL_EVENT: CALL_STATUS_ROUTING, info:83, buffer:dave")
        << "connecting without the last text";
}

TEST_F(QQTest, TheMessageWaitingSignalPlaysTwiceWhileMessagesWaitAndNoCallRingsOrRuns) {
    Attach(m_client);
    m_client.HandleAdapterEvent(Event(1, 5, 0)); // the line turns to VoIP: no messages
    EXPECT_TRUE(m_client.signals.empty());
    m_params.m_nVoiceMessageWaiting = 1;
    Keys("12");
    const double start = NowMs();
    m_client.HandleAdapterEvent(Event(1, 5, 0));
    const double took = NowMs() - start;
    EXPECT_EQ(m_client.CollectedDigits(), "");
    const std::vector<int> tone = {1, 4000, 600, 80};
    ASSERT_EQ(m_client.signals, (std::vector<std::vector<int>>{tone, tone}));
    EXPECT_GE(m_client.signalTimes[1] - m_client.signalTimes[0], 95.0) << "100 ms apart";
    EXPECT_GE(took, 195.0) << "100 ms after each";

    m_client.signals.clear();
    m_client.HandleAdapterEvent(Event(1, 0, 0)); // off hook on VoIP
    EXPECT_EQ(m_client.signals.size(), 2u);
    m_client.HandleAdapterEvent(Event(1, 0, 1));
    Status(2, Item(9, U32(77)));
    m_client.HandleAdapterEvent(Event(1, 0, 0)); // off hook to answer a ringing call
    Status(4, Item(9, U32(77)));
    m_client.HandleAdapterEvent(Event(1, 5, 0)); // and in the call
    EXPECT_EQ(m_client.signals.size(), 2u) << "not while a call rings or runs";
    Status(6, Item(9, U32(77)));
    m_client.HandleAdapterEvent(Event(1, 0, 1));
    m_client.HandleAdapterEvent(Event(1, 5, 1)); // PSTN
    m_client.HandleAdapterEvent(Event(1, 0, 0));
    EXPECT_EQ(m_client.signals.size(), 2u) << "not on the PSTN line";
}

} // namespace
