// The Skype client's connection over a fake Skype in this process: a window that answers
// the discover broadcast with the attach message and keeps the commands it is sent
// (WM_COPYDATA, UTF-8 with the terminating zero), and sends notifications back.
#include "devicelink/MessageCatalogue.h"
#include "FakeSkype.h"
#include "softphone/skype/SkypeApiClient.h"
#include "tests/agent/audiodevices/FakeMixers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

class SkypeConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.SetConfigParams(&m_params);
        ASSERT_TRUE(m_client.Engine()->Create(&m_client));
    }
    CConfigParams m_params;
    CSkypeApiClient m_client;
};

TEST_F(SkypeConnectionTest, AttachingRunsTheConnectionSequence) {
    FakeSkype skype(0);
    m_client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return skype.Sent("search friends"); }));
    EXPECT_EQ(skype.discovers, 1);
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C) << "API attached and Skype ready";
    const std::vector<std::string> first(skype.commands.begin(), skype.commands.begin() + 3);
    EXPECT_EQ(first, (std::vector<std::string>{"get skypeversion", "protocol 5", "get userstatus"}));
    EXPECT_TRUE(skype.Sent("search voicemails"));
    EXPECT_TRUE(skype.terminatedEveryCommand);

    skype.Notify("PROTOCOL 5");
    EXPECT_EQ(m_client.ProtocolLevel(), 5);
    EXPECT_EQ(skype.commands.back(), "get currentuserhandle");
    skype.Notify("CURRENTUSERHANDLE Some.One");
    EXPECT_EQ(m_client.CurrentUserHandle(), "some.one") << "values come in lower case";
    EXPECT_EQ(skype.commands.back(), "get user some.one can_leave_vm");

    skype.Notify("USERS alice, bob");
    ASSERT_EQ(m_client.Contacts().Count(), 2u);
    EXPECT_EQ(m_client.Contacts().At(1).m_Name, "bob");
    EXPECT_TRUE(skype.Sent("get user bob speeddial"));
    skype.Notify("USER bob SPEEDDIAL 22");
    skype.Notify("USER alice SPEEDDIAL");
    EXPECT_EQ(m_client.Contacts().FindByNumber("22"), m_client.Contacts().FindByName("bob"));
    EXPECT_EQ(m_client.Contacts().FindByName("alice")->m_SpeedDial, "");
}

TEST_F(SkypeConnectionTest, PendingAuthorisationThenAttachConnectsWithoutANewDiscover) {
    FakeSkype skype(1);
    m_client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return skype.discovers == 1; }));
    Pump([] { return false; }); // let the pending answer arrive
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0);
    EXPECT_EQ(m_client.Engine()->SkypeApiWindow(), nullptr);
    skype.Attach(0);
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C);
    EXPECT_EQ(skype.discovers, 1);
    skype.Attach(3); // not available
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0);
    EXPECT_EQ(m_client.Engine()->SkypeApiWindow(), nullptr);
}

TEST_F(SkypeConnectionTest, ThreeUnansweredPingsDetachAndPongsKeepTheCount) {
    FakeSkype skype(0);
    m_client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    for (int i = 0; i < 5; ++i) {
        m_client.Ping();
        skype.Notify("PONG");
    }
    EXPECT_EQ(m_client.PendingPings(), 0);
    m_client.Ping();
    m_client.Ping();
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C) << "two unanswered pings are tolerated";
    m_client.Ping();
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0) << "the third detaches";
    EXPECT_EQ(m_client.PendingPings(), 0);
    EXPECT_TRUE(skype.Sent("set audio_in ")) << "Skype back to its own devices";
    const size_t count = skype.commands.size();
    m_client.SendMessageToApiServer("get userstatus");
    EXPECT_EQ(skype.commands.size(), count) << "nothing is sent while Skype is not ready";
}

TEST_F(SkypeConnectionTest, CommandsOfMoreThan255BytesAreNotSent) {
    FakeSkype skype(0);
    m_client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return skype.Sent("search friends"); }));
    const size_t count = skype.commands.size();
    m_client.SendMessageToApiServer(std::string(255, 'a'));
    m_client.SendMessageToApiServer(std::string(256, 'b'));
    ASSERT_EQ(skype.commands.size(), count + 1);
    EXPECT_EQ(skype.commands.back(), std::string(255, 'a'));
}

TEST_F(SkypeConnectionTest, UserAndConnectionStatusSetTheOnlineStatus) {
    FakeSkype skype(0);
    m_client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return skype.Sent("search friends"); }));
    skype.Notify("USERSTATUS DND");
    EXPECT_FALSE(m_client.UserAvailable());
    EXPECT_EQ(m_client.OnlineStatus(), 0) << "do-not-disturb tells the service nothing";
    skype.Notify("USERSTATUS ONLINE");
    EXPECT_TRUE(m_client.UserAvailable());
    EXPECT_EQ(m_client.OnlineStatus(), 2);
    skype.Notify("CONNSTATUS OFFLINE");
    EXPECT_EQ(m_client.OnlineStatus(), 1);
    skype.Notify("CONNSTATUS CONNECTING");
    EXPECT_EQ(m_client.OnlineStatus(), 1);
    skype.Notify("CONNSTATUS LOGGEDOUT");
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0) << "logged out detaches";
}

TEST(SkypeVersionTest, TheFirstPartThatDiffersDecides) {
    const int32_t minimum[4] = {2, 5, 0, 154};
    EXPECT_TRUE(CSkypeApiClient::VersionAtLeast("3.0.0.100", minimum));
    EXPECT_FALSE(CSkypeApiClient::VersionAtLeast("2.5.0.100", minimum));
    EXPECT_TRUE(CSkypeApiClient::VersionAtLeast("2.6.0.100", minimum));
    EXPECT_TRUE(CSkypeApiClient::VersionAtLeast("2.5.0.154", minimum));
    EXPECT_FALSE(CSkypeApiClient::VersionAtLeast("2.5", minimum)) << "missing parts are 0";
    const int32_t none[4] = {};
    EXPECT_TRUE(CSkypeApiClient::VersionAtLeast("", none));
}

} // namespace

namespace {

// The version arrives in Skype's own WM_COPYDATA: the old-version box must not hold it.
TEST_F(SkypeConnectionTest, AnOldSkypeIsToldWithoutHoldingItsCall) {
    m_params.m_nMinSoftphoneVersion[0] = 3;
    FakeSkype skype(0);
    m_client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return skype.Sent("search friends"); }));
    const DWORD start = GetTickCount();
    skype.Notify("SKYPEVERSION 2.5.0.154");
    EXPECT_LT(GetTickCount() - start, 30000u)
        << "the notification came back (a box on this thread never would)";
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C) << "the connection stays up";
}

} // namespace

namespace {

// Skype is pointed at the adapter's devices with the numbered names Windows gives a
// second and later device of the same name; for the fallback device only the odd ones.
std::vector<std::string> AudioCommandsFor(const char* name) {
    FakeMixers mixers({FakeMixer{name, true, true}});
    CConfigParams params;
    CSkypeApiClient client(mixers);
    client.SetConfigParams(&params);
    EXPECT_TRUE(client.Engine()->Create(&client));
    FakeSkype skype(0);
    client.ConnectToApiServer();
    EXPECT_TRUE(Pump([&] { return skype.Sent("search friends"); }));
    std::vector<std::string> audio;
    for (const std::string& command : skype.commands) {
        if (command.rfind("set audio_", 0) == 0) {
            audio.push_back(command);
        }
    }
    return audio;
}

TEST(SkypeAudioTest, TheAdaptersDevicesAndTheirNumberedNamesAreOffered) {
    std::vector<std::string> expected;
    for (const char* direction : {"in", "out"}) {
        expected.push_back(std::string("set audio_") + direction + " Orvin Virtual Audio Device");
        for (int i = 2; i <= 9; ++i) {
            expected.push_back(std::string("set audio_") + direction + " Orvin Virtual Audio Device (" +
                               std::to_string(i) + ")");
        }
    }
    EXPECT_EQ(AudioCommandsFor("Orvin Virtual Audio Device"), expected);

    expected.clear();
    for (const char* direction : {"in", "out"}) {
        expected.push_back(std::string("set audio_") + direction + " BTAUDIO");
        for (int i : {3, 5, 7, 9}) {
            expected.push_back(std::string("set audio_") + direction + " BTAUDIO (" + std::to_string(i) +
                               ")");
        }
    }
    EXPECT_EQ(AudioCommandsFor("BTAUDIO"), expected) << "the fallback device: odd numbers only";
}

} // namespace
