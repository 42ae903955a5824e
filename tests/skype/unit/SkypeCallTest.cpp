// The Skype client's call control over the fake Skype: an incoming call rings the telephone
// only once its caller is known, the handset's keys dial and reach the far end, and the
// service's requests become Skype's commands. What goes to the service is read from the
// traffic the client logs for it ("[AG-->SM]": event name, info, first buffer).
#include "devicelink/MessageCatalogue.h"
#include "FakeSkype.h"
#include "softphone/skype/SkypeApiClient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ServiceLog : public IOrvinAgentDialog {
public:
    void SetApiClient(COrvinApiClient*) override {}
    void SetMessageEngine(CMessageEngine*) override {}
    void SetRegistryRoot(const std::string&) override {}
    void RefreshStatus() override {}
    void AddTrafficLine(const char* text, int direction) override {
        if (direction == 4) {
            events.push_back(text);
        }
    }
    void RingIndicationOn() override {}
    void RingIndicationOff() override {}
    void BusyIndication() override {}
    bool IsCallRecording() override { return false; }
    void StopCallRecording() override {}
    std::vector<std::string> events;
};

IMM Key(int code, int info) {
    IMM message = {};
    message.Type = 1; // MSG_TYPE_HW_EVENT
    message.Code = code;
    message.Info = info;
    return message;
}

class SkypeCallTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.SetConfigParams(&m_params);
        m_client.SetMainDialog(&m_service);
        ASSERT_TRUE(m_client.Engine()->Create(&m_client));
        m_client.ConnectToApiServer();
        ASSERT_TRUE(Pump([&] { return m_skype.Sent("search friends"); }));
        m_skype.Notify("PROTOCOL 5");
        m_skype.commands.clear();
        m_service.events.clear();
    }
    void Keys(const char* keys) {
        for (const char* k = keys; *k; ++k) {
            m_client.HandleAdapterEvent(Key(1, *k)); // NOTIFY_DTMF_KEY
        }
    }
    // The commands since the last look.
    std::vector<std::string> Commands() {
        auto commands = m_skype.commands;
        m_skype.commands.clear();
        return commands;
    }

    FakeSkype m_skype{0};
    CConfigParams m_params;
    ServiceLog m_service;
    CSkypeApiClient m_client;
};

const char* const kRingingFromAnna = "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:1234, buffer:12";

TEST_F(SkypeCallTest, ACallFromAContactRingsWithItsSpeedDialNumberOnceKnown) {
    m_skype.Notify("CALL 1234 STATUS RINGING");
    EXPECT_EQ(Commands(), (std::vector<std::string>{"get call 1234 type"}));
    EXPECT_TRUE(m_service.events.empty()) << "no ringing before the caller is known";
    m_skype.Notify("CALL 1234 TYPE INCOMING_P2P");
    EXPECT_EQ(Commands(), (std::vector<std::string>{"get call 1234 partner_handle"}));
    m_skype.Notify("CALL 1234 PARTNER_HANDLE Anna.B");
    EXPECT_EQ(Commands(), (std::vector<std::string>{"get user anna.b speeddial"}));
    EXPECT_TRUE(m_service.events.empty());
    m_skype.Notify("USER anna.b SPEEDDIAL 12");
    EXPECT_EQ(m_service.events, (std::vector<std::string>{kRingingFromAnna}));
    EXPECT_EQ(m_client.Session().m_CallerName, "anna.b");

    // The service answers, the call ends on Skype's side.
    IMM answer = {};
    answer.Type = 0; // MSG_TYPE_CALL_EVENT
    answer.Code = 5; // CALL_STATUS_INPROGRESS
    answer.Info = 1234;
    m_client.HandleAdapterEvent(answer);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"SET CALL 1234 Status inprogress"}));
    m_skype.Notify("CALL 1234 STATUS INPROGRESS");
    Keys("7");
    EXPECT_EQ(Commands(), (std::vector<std::string>{"BTN_PRESSED 7"}));
    EXPECT_EQ(m_client.CollectedDigits(), "7");
    m_skype.Notify("CALL 1234 DTMF 3");
    m_skype.Notify("CALL 1234 STATUS FINISHED");
    EXPECT_EQ(m_client.Session().m_nState, 9);
    EXPECT_EQ(m_client.CollectedDigits(), "");
    ASSERT_EQ(m_service.events.size(), 4u);
    EXPECT_EQ(m_service.events[1], "MSG_TYPE_CALL_EVENT: CALL_STATUS_INPROGRESS, info:1234, buffer:");
    EXPECT_EQ(m_service.events[2], "MSG_TYPE_AGENT_EVENT: OOBDtmf, info:1234, buffer:3");
    EXPECT_EQ(m_service.events[3], "MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:1234, buffer:");
}

TEST_F(SkypeCallTest, WithProtocolFourTheTelephoneRingsAfterTheHandleWithoutNumbers) {
    m_skype.Notify("PROTOCOL 4");
    m_skype.Notify("CALL 77 STATUS RINGING");
    m_skype.Notify("CALL 77 TYPE INCOMING_P2P");
    m_skype.Notify("CALL 77 PARTNER_HANDLE bert");
    EXPECT_EQ(m_service.events,
              (std::vector<std::string>{"MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:77, buffer:"}));
    EXPECT_FALSE(m_skype.Sent("get user bert speeddial"));
}

TEST_F(SkypeCallTest, ANetworkCallRingsWithItsNumberEvenInDoNotDisturb) {
    m_skype.Notify("USERSTATUS DND");
    m_skype.Notify("CALL 5 STATUS RINGING");
    m_skype.Notify("CALL 5 TYPE INCOMING_PSTN");
    m_skype.Notify("CALL 5 PARTNER_HANDLE +4930123");
    EXPECT_EQ(Commands().back(), "get call 5 pstn_number");
    m_skype.Notify("CALL 5 PSTN_NUMBER +4930123");
    ASSERT_FALSE(m_service.events.empty());
    EXPECT_EQ(m_service.events.back(), "MSG_TYPE_CALL_EVENT: CALL_STATUS_RINGING, info:5, buffer:+4930123");
}

TEST_F(SkypeCallTest, AContactsCallWaitsOutDoNotDisturbAndRingsWhenTheUserIsBack) {
    m_skype.Notify("USERSTATUS DND");
    m_skype.Notify("CALL 1234 STATUS RINGING");
    m_skype.Notify("CALL 1234 TYPE INCOMING_P2P");
    m_skype.Notify("CALL 1234 PARTNER_HANDLE anna.b");
    m_skype.Notify("USER anna.b SPEEDDIAL 12");
    EXPECT_TRUE(m_service.events.empty());
    m_skype.Notify("USERSTATUS ONLINE");
    ASSERT_FALSE(m_service.events.empty());
    EXPECT_EQ(m_service.events.back(), kRingingFromAnna);
}

TEST_F(SkypeCallTest, UnknownStatusWordsChangeNothing) {
    m_skype.Notify("CALL 9 STATUS EARLYMEDIA");
    EXPECT_TRUE(m_service.events.empty());
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(m_client.Session().m_nState, 9);
}

TEST_F(SkypeCallTest, TheSendKeyDialsTheDigitsAndALoneStarIsReported) {
    Keys("555*");
    EXPECT_EQ(Commands(), (std::vector<std::string>{"CALL 555"}));
    EXPECT_EQ(m_client.CollectedDigits(), "");
    Keys("*");
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(m_service.events,
              (std::vector<std::string>{"MSG_TYPE_AGENT_EVENT: NotifyAgentStatus, info:4, buffer:"}));

    m_params.m_cSendKey = '#';
    Keys("1*2#");
    EXPECT_EQ(Commands(), (std::vector<std::string>{"CALL 2"})) << "the star starts the number afresh";
}

TEST_F(SkypeCallTest, TheServicesRequestsBecomeSetCallCommands) {
    m_client.SetCallStatus(9, 0);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"hook on"})) << "no call id: no SET CALL";
    m_client.SetCallStatus(5, 1234);
    m_client.SetCallStatus(7, 1234);
    m_client.SetCallStatus(14, 1234);
    m_client.SetCallStatus(9, 1234);
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"SET CALL 1234 Status inprogress", "SET CALL 1234 Status onhold",
                                        "SET CALL 1234 Status inprogress", "hook on",
                                        "SET CALL 1234 Status finished"}));
}

} // namespace

namespace {

TEST_F(SkypeCallTest, KeypadButtonsWorkOnlyOnTheVoipLine) {
    IMM voip = Key(5, 0); // NOTIFY_VOIP_STATE, VoIP
    m_client.HandleAdapterEvent(voip);
    Commands();
    for (int code : {1, 2, 16, 14, 18, 19, 17}) {
        m_client.HandleAdapterEvent(Key(13, code)); // NOTIFY_KEYPAD_EVENT
    }
    EXPECT_EQ(Commands(),
              (std::vector<std::string>{"CALL 12", "focus", "btn_released skype", "focus", "btn_released up",
                                        "focus", "btn_released down", "hook on"}));
    EXPECT_EQ(m_client.CollectedDigits(), "") << "the red button empties the digits";
    m_client.HandleAdapterEvent(Key(13, 16));
    EXPECT_EQ(Commands(), (std::vector<std::string>{"focus", "btn_released yes"}))
        << "no digits: the yes button";

    m_client.HandleAdapterEvent(Key(5, 1)); // PSTN
    m_client.HandleAdapterEvent(Key(13, 14));
    EXPECT_TRUE(Commands().empty());
}

TEST_F(SkypeCallTest, TheVoicemailSessionPlaysAndItsKeysDeleteAndEnd) {
    m_skype.Notify("USER orvin.user CAN_LEAVE_VM TRUE");
    m_skype.Notify("VOICEMAILS 11, 12");
    m_skype.Notify("VOICEMAIL 11 STATUS UNPLAYED");
    m_skype.Notify("VOICEMAIL 12 STATUS UNPLAYED");
    Commands();
    IMM goToVoicemail = {};
    goToVoicemail.Type = 8; // MSG_TYPE_SM2AGENT_REQUEST, code 0
    m_client.HandleAdapterEvent(goToVoicemail);
    EXPECT_EQ(m_client.LineState(), 2);
    EXPECT_EQ(m_client.Session().m_nState, 5);
    EXPECT_EQ(Commands(), (std::vector<std::string>{"Open Voicemail 12"})) << "the unplayed, newest first";
    m_skype.Notify("VOICEMAIL 12 STATUS PLAYING");
    EXPECT_EQ(m_client.VoiceMails().GetVMMState(), 6);
    Keys("2");
    // 12 is the last of the list: deleted, nothing more played (the session's state is
    // INPROGRESS, so the key also goes to Skype as a button).
    EXPECT_EQ(Commands(), (std::vector<std::string>{"alter Voicemail 12 delete", "BTN_PRESSED 2"}));
    Keys("*");
    EXPECT_EQ(m_client.LineState(), 0);
    EXPECT_EQ(m_client.Session().m_nState, 9);
    ASSERT_GE(m_service.events.size(), 2u);
    EXPECT_EQ(m_service.events.front(), "MSG_TYPE_CALL_EVENT: CALL_STATUS_INPROGRESS, info:0, buffer:");
    EXPECT_EQ(m_service.events.back(), "MSG_TYPE_CALL_EVENT: CALL_STATUS_FINISHED, info:0, buffer:");
}

} // namespace
