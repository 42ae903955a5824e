// The Tessaro client over a fake Tessaro in the test's process (a window that answers
// "TessaroControlAPIDiscover" with "TessaroControlAPIAttach"): the discover sent to every
// window at once, Tessaro's attach statuses (2 discovers anew, where Skype's 2 refuses),
// its connection queries, pings only while attached, do-not-disturb as online status 3,
// "unplaced", the keypad's Tessaro button, and its main window (of Skype's class) hidden
// on the PSTN line and shown on VoIP.
#include "devicelink/MessageCatalogue.h"
#include "softphone/thinkit/TessaroApiClient.h"
#include "tests/agent/audiodevices/FakeMixers.h"
#include "tests/skype/unit/FakeSkype.h"
#include "tests/softphones/thinkit/ServiceLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char* const kConnected = "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:1, buffer:";
const char* const kDisconnected = "MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:2, buffer:";

// The old-version box, counted instead of shown.
class TessaroClient : public CTessaroApiClient {
public:
    using CTessaroApiClient::CTessaroApiClient;
    int oldVersionBoxes = 0;

protected:
    void ShowOldVersionBox() override { ++oldVersionBoxes; }
};

class TessaroTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.SetConfigParams(&m_params);
        m_client.SetMainDialog(&m_service);
        ASSERT_TRUE(m_client.TextEngine()->Create(&m_client));
    }
    void Connect() {
        m_client.ConnectToApiServer();
        ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    }
    std::vector<std::string> Commands() {
        std::vector<std::string> taken;
        taken.swap(m_phone.commands);
        return taken;
    }
    void Event(int type, int code, int info) { m_client.HandleAdapterEvent(ServiceEvent(type, code, info)); }

    FakeMixers m_mixers{{FakeMixer{"Orvin Virtual Audio Device", true, true}}};
    FakeSkype m_phone{0, "TessaroControlAPIDiscover", "TessaroControlAPIAttach"};
    CConfigParams m_params;
    ServiceLog m_service;
    TessaroClient m_client{m_mixers};
};

TEST_F(TessaroTest, ConnectingAsksVersionProtocolVoicemailsAndFriendsWithThePlainDeviceNames) {
    m_params.m_nMinSoftphoneVersion[0] = 2;
    m_client.ConnectToApiServer();
    EXPECT_EQ(m_phone.discovers, 1) << "the discover is sent, so it has been taken when the call returns";
    ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    EXPECT_EQ(Commands(), (std::vector<std::string>{"get Tessaroversion", "protocol 5",
                                                    "set audio_in Orvin Virtual Audio Device",
                                                    "set audio_out Orvin Virtual Audio Device",
                                                    "search voicemails", "search friends"}));
    EXPECT_TRUE(m_service.Take().empty()) << "connected only once the friends are known";
    m_phone.Notify("TESSAROVERSION 1.9.0.1");
    EXPECT_EQ(m_client.oldVersionBoxes, 1);
    m_phone.Notify("PROTOCOL 5");
    EXPECT_EQ(Commands(), std::vector<std::string>{"get currentuserhandle"});
    m_phone.Notify("VOICEMAILS 11, 12");
    EXPECT_TRUE(Commands().empty()) << "the voicemails are not Tessaro's business here";
    m_phone.Notify("USERS alice");
    m_phone.Notify("USER alice ONLINESTATUS ONLINE");
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kConnected});
}

TEST_F(TessaroTest, StatusTwoDiscoversAnewAndStatusOneDetachesWithoutPingingAfter) {
    Connect();
    m_phone.Attach(2); // available: a new discover, where Skype's 2 would be a refusal
    ASSERT_TRUE(Pump([&] { return m_phone.discovers == 2; }));
    Pump([&] { return false; });
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C);
    Commands();
    m_service.Take();

    m_client.OnClientTimer(16);
    EXPECT_EQ(Commands(), std::vector<std::string>{"ping"});
    m_phone.Notify("PONG");
    m_phone.Attach(1); // not available
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0);
    EXPECT_EQ(m_client.TextEngine()->ApiWindow(), m_phone.m_hWnd) << "the window stays known";
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kDisconnected});
    // The engine's timer goes on ticking: an absent Tessaro is not found absent again.
    for (int tick = 0; tick < 6; ++tick) {
        m_client.OnClientTimer(16);
    }
    EXPECT_TRUE(m_service.Take().empty());
    EXPECT_EQ(m_client.PendingPings(), 0);
}

TEST_F(TessaroTest, DoNotDisturbKeepsAFriendsCallFromRingingAndUnplacedIsReported) {
    Connect();
    m_phone.Notify("PROTOCOL 5");
    m_phone.Notify("USERSTATUS DND");
    EXPECT_EQ(m_client.OnlineStatus(), 3);
    Commands();
    m_service.Take();
    m_phone.Notify("CALL 21 STATUS RINGING");
    EXPECT_EQ(Commands(), std::vector<std::string>{"get call 21 type"});
    m_phone.Notify("CALL 21 TYPE INCOMING_P2P");
    m_phone.Notify("CALL 21 PARTNER_HANDLE carol");
    m_phone.Notify("USER carol SPEEDDIAL 7");
    EXPECT_TRUE(m_service.Take().empty());
    m_phone.Notify("USERSTATUS ONLINE");
    EXPECT_EQ(m_service.Take(), std::vector<std::string>{kConnected}) << "and no ringing again";

    m_phone.Notify("CALL 22 STATUS UNPLACED");
    m_phone.Notify("CALL 22 STATUS VM_SENT");
    EXPECT_EQ(m_service.Take(),
              std::vector<std::string>{"MSG_TYPE_CALL_EVENT: CALL_STATUS_UNPLACED, info:21, buffer:"});
    EXPECT_EQ(m_client.Session().m_nState, 4) << "UNPLACED is no state; vm_sent is no word of Tessaro's";

    Commands();
    m_client.SetCallStatus(9, 0);
    EXPECT_EQ(Commands(), std::vector<std::string>{"hook on"});
    EXPECT_EQ(m_client.Session().m_nState, 4) << "the finished request does not switch the state";
}

TEST_F(TessaroTest, TheKeypadsSoftphoneButtonIsTessarosAndNoLoneStarIsReported) {
    Connect();
    Event(1, 5, 0); // VoIP
    Commands();
    m_service.Take();
    Event(1, 13, 14); // NOTIFY_KEYPAD_EVENT, the softphone button
    EXPECT_EQ(Commands(), (std::vector<std::string>{"focus", "btn_released Tessaro"}));
    Event(1, 1, '*');
    EXPECT_TRUE(m_service.Take().empty());
}

// Tessaro's main window has Skype's class: shown normally on VoIP, minimised and hidden on
// the PSTN line.
TEST_F(TessaroTest, TheMainWindowIsShownOnVoipAndHiddenOnThePstnLine) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "tSkMainForm.UnicodeClass";
    RegisterClassA(&windowClass);
    HWND main = CreateWindowExA(0, "tSkMainForm.UnicodeClass", "Tessaro", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                0, 200, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(main, nullptr);
    m_params.m_nSoftphoneWindowControl = 1;
    Connect();
    Event(1, 5, 1); // PSTN
    EXPECT_FALSE(IsWindowVisible(main));
    Event(1, 5, 0); // VoIP
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_FALSE(IsIconic(main));
    DestroyWindow(main);
}

} // namespace
