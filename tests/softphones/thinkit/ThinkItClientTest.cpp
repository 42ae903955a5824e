// The ThinkIt client over a fake ThinkIt in the test's process (a window that answers
// "ThinkITControlAPIDiscover" with "ThinkITControlAPIAttach" and keeps the commands it is
// sent): what it asks on connecting, ThinkIt going away and coming back, a call rung at
// once and again with its caller, keys and dialling with the speed-dial look-up on the
// PSTN line, ThinkIt's status words, texts of any length, and notifications that lack
// their values. What goes to the service is read from the traffic the client logs for it.
#include "devicelink/MessageCatalogue.h"
#include "softphone/thinkit/ThinkItApiClient.h"
#include "tests/agent/audiodevices/FakeMixers.h"
#include "tests/skype/unit/FakeSkype.h"
#include "tests/softphones/thinkit/ServiceLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* const kConnected = "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:1, buffer:";
const char* const kDisconnected = "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:2, buffer:";

class ThinkItTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.SetConfigParams(&m_params);
        m_client.SetMainDialog(&m_service);
        ASSERT_TRUE(m_client.TextEngine()->Create(&m_client));
        m_client.ConnectToApiServer();
        ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    }
    // The commands since the last look.
    std::vector<std::string> Commands() {
        std::vector<std::string> taken;
        taken.swap(m_phone.commands);
        return taken;
    }
    void Event(int type, int code, int info) { m_client.HandleAdapterEvent(ServiceEvent(type, code, info)); }
    void Keys(const char* keys) {
        for (const char* k = keys; *k; ++k) {
            Event(1, 1, *k); // NOTIFY_DTMF_KEY
        }
    }
    void Line(int line) { Event(1, 5, line); } // NOTIFY_VOIP_STATE: 0 VoIP, 1 PSTN
    // Answered and in progress: call 7 from alice.
    void CallInProgress() {
        m_phone.Notify("CALL 7 STATUS RINGING");
        m_phone.Notify("CALL 7 STATUS INPROGRESS");
        Commands();
        m_service.Take();
    }

    FakeMixers m_mixers{{FakeMixer{"Orvin Virtual Audio Device", true, true}}};
    FakeSkype m_phone{0, "ThinkITControlAPIDiscover", "ThinkITControlAPIAttach"};
    CConfigParams m_params;
    ServiceLog m_service;
    CThinkItApiClient m_client{m_mixers};
};

TEST_F(ThinkItTest, ConnectingAsksOnlyTheProtocolPointsTheAudioAndReportsAtOnce) {
    EXPECT_EQ(m_phone.discovers, 1);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"protocol 5", "set audio_in Orvin Virtual Audio Device",
                                                    "set audio_out Orvin Virtual Audio Device"}))
        << "no version, user status, voicemail or friends queries, and no numbered device names";
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kConnected});
    m_phone.Notify("PROTOCOL 5");
    EXPECT_EQ(m_client.ProtocolLevel(), 5);
    EXPECT_EQ(Commands(), std::vector<std::string>{"get currentuserhandle"});
    m_phone.Notify("CURRENTUSERHANDLE Some.One");
    m_phone.Notify("SKYPEVERSION 1.0");
    EXPECT_TRUE(Commands().empty()) << "neither the handle nor a version is ThinkIt's";
    EXPECT_EQ(m_client.DisplayName(), "ThinkIt");
}

TEST_F(ThinkItTest, TextsGoAsTheyAreInAnyLengthAndEmptyOnesNotAtAll) {
    Commands();
    m_phone.raw.clear();
    m_phone.dataWords.clear();
    const std::string name = "J\xe9r\xf4me " + std::string(300, 'x'); // the system's code page, not UTF-8
    m_client.SendMessageToApiServer("get user " + name + " speeddial");
    m_client.SendMessageToApiServer("");
    ASSERT_EQ(m_phone.raw.size(), 1u) << "an empty text is not sent";
    EXPECT_EQ(m_phone.raw[0], "get user " + name + " speeddial" + std::string(1, '\0'));
    EXPECT_EQ(m_phone.dataWords[0], 0u);
}

TEST_F(ThinkItTest, ThinkItGoesAwayAndComesBackAndAnotherDiscoverCountsAsBack) {
    Commands();
    m_service.Take();
    m_phone.Attach(1); // pending authorisation: nothing changes
    m_phone.Attach(2); // refused: nothing changes either
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C);
    EXPECT_NE(m_client.TextEngine()->ApiWindow(), nullptr);

    m_phone.Attach(3); // not available
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"set audio_in ", "set audio_out "}));
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kDisconnected});

    m_phone.Attach(0x8001); // available again: the window known from before is no hindrance
    ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    EXPECT_EQ(m_phone.discovers, 2);
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kConnected});

    // Another program's discover: ThinkIt may be there anew, so the agent discovers too.
    const HWND agent = m_phone.m_agent;
    PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("ThinkITControlAPIDiscover"), (WPARAM)m_phone.m_hWnd,
                 0);
    ASSERT_TRUE(Pump([&] { return m_phone.discovers == 4; })) << "the stranger's and the agent's own";
    m_phone.m_agent = agent;
    Pump([&] { return false; });
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C);
}

TEST_F(ThinkItTest, AContactsCallRingsAtOnceThenWithItsNumberAndIsAnsweredAndKeyed) {
    m_phone.Notify("PROTOCOL 5");
    Commands();
    m_service.Take();
    m_phone.Notify("CALL 7 STATUS RINGING");
    EXPECT_TRUE(Commands().empty()) << "no type query";
    EXPECT_EQ(m_service.Take(),
              std::vector<std::string>{"MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:7, buffer:"});
    m_phone.Notify("CALL 7 TYPE INCOMING_P2P");
    EXPECT_EQ(Commands(), std::vector<std::string>{"get call 7 partner_handle"});
    m_phone.Notify("CALL 7 PARTNER_HANDLE Alice");
    EXPECT_EQ(Commands(), std::vector<std::string>{"get user alice speeddial"});
    m_phone.Notify("USER alice SPEEDDIAL 12");
    EXPECT_EQ(m_service.Take(),
              std::vector<std::string>{"MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:7, buffer:12"});
    EXPECT_EQ(m_client.Session().m_CallerName, "alice");

    Event(0, 5, 7); // the service answers: CALL_STATUS_INPROGRESS for call 7
    EXPECT_EQ(Commands(), std::vector<std::string>{"SET CALL 7 Status inprogress"});
    m_phone.Notify("CALL 7 STATUS INPROGRESS");
    Keys("5#");
    EXPECT_EQ(Commands(), (std::vector<std::string>{"set call 7 dtmf 5", "set call 7 dtmf #"}));
    m_phone.Notify("CALL 7 DTMF 3");
    Event(0, 9, 7); // the handset hangs up: CALL_STATUS_FINISHED
    EXPECT_EQ(Commands(), std::vector<std::string>{"SET CALL 7 Status finished"}) << "and no hook on";
    EXPECT_EQ(m_service.Take(),
              (std::vector<std::string>{"MSG_TYPE_CALL_EVENT: CALL_STATUS_INPROGRESS, info:7, buffer:",
                                        "MSG_TYPE_AGENT_EVENT: OOBDtmf, info:7, buffer:3"}));
}

TEST_F(ThinkItTest, TheCallersNameIsTheRestOfTheHandleAndANetworkCallRingsEvenInDoNotDisturb) {
    m_phone.Notify("PROTOCOL 4");
    m_phone.Notify("CALL 5 STATUS RINGING");
    m_service.Take();
    m_phone.Notify("CALL 5 PARTNER_HANDLE John Smith");
    EXPECT_EQ(m_client.Session().m_CallerName, "john smith");
    EXPECT_EQ(m_service.Take(),
              std::vector<std::string>{"MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:5, buffer:"});

    m_phone.Notify("USERSTATUS DND");
    EXPECT_EQ(m_client.OnlineStatus(), 3);
    m_phone.Notify("CALL 6 STATUS RINGING");
    m_service.Take(); // ThinkIt's ringing rings at once, whatever the status
    m_phone.Notify("CALL 6 PARTNER_HANDLE bert");
    EXPECT_TRUE(m_service.Take().empty()) << "a friend's call does not ring again in do-not-disturb";
    m_phone.Notify("CALL 6 PARTNER_HANDLE +49 30 123456");
    m_phone.Notify("CALL 6 TYPE INCOMING_PSTN");
    EXPECT_EQ(
        m_service.Take(),
        std::vector<std::string>{"MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:6, buffer:+49 30 123456"});
    m_phone.Notify("USERSTATUS ONLINE");
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kConnected}) << "no ringing again";
}

TEST_F(ThinkItTest, TheSendKeyDialsAndOnThePstnLineAShortNumberMustBeAFriendsSpeedDial) {
    Line(0);
    Commands();
    m_service.Take();
    Keys("555*");
    EXPECT_EQ(Commands(), std::vector<std::string>{"CALL 555"});
    Keys("*");
    EXPECT_TRUE(m_service.Take().empty()) << "no lone-star status";

    Line(1);
    Keys("4*");
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(m_service.Take(),
              std::vector<std::string>{"MSG_TYPE_ERROR: ERROR_UNKNOWN_USER, info:0, buffer:"});
    m_phone.Notify("USERS alice, bob");
    m_phone.Notify("USER alice SPEEDDIAL 4");
    m_phone.Notify("USER alice ONLINESTATUS ONLINE");
    m_phone.Notify("USER bob SPEEDDIAL 45");
    m_phone.Notify("USER bob ONLINESTATUS OFFLINE");
    Commands();
    m_service.Take();
    Keys("4*");
    Keys("45*");
    Keys("123*");
    EXPECT_EQ(Commands(), (std::vector<std::string>{"CALL 4", "CALL 123"}));
    EXPECT_EQ(m_service.Take(),
              std::vector<std::string>{"MSG_TYPE_ERROR: ERROR_UNKNOWN_USER, info:0, buffer:"})
        << "bob is offline";

    // A call that was missed stays the session's state until the next call: the send key
    // must still dial.
    m_phone.Notify("CALL 9 STATUS RINGING");
    m_phone.Notify("CALL 9 STATUS MISSED");
    EXPECT_EQ(m_client.Session().m_nState, 10);
    Commands();
    Keys("123*");
    EXPECT_EQ(Commands(), std::vector<std::string>{"CALL 123"});
}

TEST_F(ThinkItTest, TheServicesStatusesBecomeThinkItsWordsAndNothingElse) {
    Commands();
    for (int status = 1; status <= 14; ++status) {
        m_client.SetCallStatus(status, 40);
    }
    m_client.SetCallStatus(9, 0);
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{
                  "SET CALL 40 Status unplaced", "SET CALL 40 Status unplaced", "SET CALL 40 Status failed",
                  "SET CALL 40 Status ringing", "SET CALL 40 Status inprogress", "SET CALL 40 Status onhold",
                  "SET CALL 40 Status onhold", "SET CALL 40 Status remotehold", "SET CALL 40 Status finished",
                  "SET CALL 40 Status missed", "SET CALL 40 Status refused", "SET CALL 40 Status busy",
                  "SET CALL 40 Status cancelled", "SET CALL 40 Status inprogress"}));
}

TEST_F(ThinkItTest, GoingAwayDuringACallEndsItThereAndHereSoTheNextNumberIsDialled) {
    CallInProgress();
    m_phone.Attach(3);
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"set call 7 status finished", "set audio_in ", "set audio_out "}));
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kDisconnected});
    EXPECT_EQ(m_client.Session().m_nState, 9) << "no call is left in progress";
    m_phone.Attach(0x8001);
    ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    Line(0);
    Commands();
    Keys("555*");
    EXPECT_EQ(Commands(), std::vector<std::string>{"CALL 555"});
}

// Each notification lacks the value its handler reads: it is traced and changes nothing.
TEST_F(ThinkItTest, NotificationsWithoutTheirValuesChangeNothing) {
    m_phone.Notify("PROTOCOL 5");
    m_phone.Notify("USERS alice");
    Commands();
    m_service.Take();
    for (const char* text : {"USERSTATUS", "USER alice ONLINESTATUS", "USER alice BUDDYSTATUS", "PROTOCOL",
                             "CALL", "CALL 5", "CALL 5 STATUS", "CALL 5 TYPE", "USER", "USER alice",
                             "CONNSTATUS", "VOICEMAIL 3 STATUS", "ERROR", "CALL 5 FAILUREREASON"}) {
        m_phone.Notify(text);
        EXPECT_TRUE(m_service.Take().empty()) << text;
        EXPECT_TRUE(Commands().empty()) << text;
    }
    EXPECT_EQ(m_client.OnlineStatus(), 0);
    EXPECT_EQ(m_client.ProtocolLevel(), 5);
    EXPECT_EQ(m_client.Session().m_nState, 9);
    ASSERT_EQ(m_client.Contacts().Count(), 1u);
    EXPECT_EQ(m_client.Contacts().At(0).m_nStatus, 0);

    m_phone.Notify("CALL 5 STATUS RINGING");
    m_service.Take();
    m_phone.Notify("CALL 5 PARTNER_HANDLE");
    m_phone.Notify("CALL 5 PARTNER_HANDLE  ,");
    EXPECT_EQ(m_client.Session().m_CallerName, "UknownName");
}

} // namespace
