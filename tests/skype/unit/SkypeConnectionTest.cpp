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
#include <memory>
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

// A Skype that restarts announces itself again and attaches anew: the pings it never
// answered before are not held against it. A pong that comes late banks nothing.
TEST_F(SkypeConnectionTest, PingsCountAfreshAtEveryAttachAndAStrayPongGivesNoCredit) {
    FakeSkype skype(0);
    m_client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return (m_client.ConnectionFlags() & 0x0C) == 0x0C; }));
    m_client.Ping();
    m_client.Ping();
    EXPECT_EQ(m_client.PendingPings(), 2);
    skype.Attach(0x8001); // Skype is back: the agent discovers and attaches again
    ASSERT_TRUE(Pump([&] { return skype.discovers == 2 && m_client.Engine()->SkypeApiWindow() != nullptr; }));
    EXPECT_EQ(m_client.PendingPings(), 0);
    m_client.Ping();
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C) << "the first ping after the attach detaches nothing";

    skype.Notify("PONG");
    skype.Notify("PONG"); // one more than was asked for
    EXPECT_EQ(m_client.PendingPings(), 0);
    m_client.Ping();
    m_client.Ping();
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0x0C);
    m_client.Ping();
    EXPECT_EQ(m_client.ConnectionFlags() & 0x0C, 0) << "still the third unanswered ping detaches";
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

// Looks for the old-version box (a dialog captioned "OrvinAgent") for up to 10 s, notes
// its text and the thread that shows it, and presses its OK button; so a box shown on the
// test's own thread fails the test instead of hanging it.
struct BoxWatcher {
    BoxWatcher() : thread(CreateThread(nullptr, 0, Watch, this, 0, nullptr)) {}
    ~BoxWatcher() { Join(); }
    void Join() {
        if (thread) {
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            thread = nullptr;
        }
    }
    // Of this process only: another program's box says nothing about this test.
    static HWND FindOwnBox() {
        for (HWND box = nullptr; (box = FindWindowExA(nullptr, box, "#32770", "OrvinAgent"));) {
            DWORD process = 0;
            GetWindowThreadProcessId(box, &process);
            if (process == GetCurrentProcessId()) {
                return box;
            }
        }
        return nullptr;
    }
    static DWORD WINAPI Watch(void* data) {
        auto* self = static_cast<BoxWatcher*>(data);
        for (int i = 0; i < 200; ++i) {
            if (HWND box = FindOwnBox()) {
                self->owner = GetWindowThreadProcessId(box, nullptr);
                char text[256] = {};
                GetDlgItemTextA(box, 0xFFFF, text, sizeof text); // the box's static text
                self->text = text;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return 0;
            }
            Sleep(50);
        }
        return 0;
    }
    HANDLE thread;
    DWORD owner = 0;
    std::string text;
};

// The version arrives in Skype's own WM_COPYDATA: the old-version box must not hold it.
TEST_F(SkypeConnectionTest, AnOldSkypeIsToldWithoutHoldingItsCall) {
    m_params.m_nMinSoftphoneVersion[0] = 3;
    FakeSkype skype(0);
    m_client.ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return skype.Sent("search friends"); }));
    BoxWatcher watcher;
    skype.Notify("SKYPEVERSION 2.5.0.154");
    const DWORD notified = GetCurrentThreadId();
    watcher.Join();
    ASSERT_NE(watcher.owner, 0u) << "no box was shown within 10 s";
    EXPECT_NE(watcher.owner, notified) << "the box held the thread that took Skype's notification";
    EXPECT_EQ(watcher.text, "Your Skype version is old, please update Skype version");
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

// The search thread sends through the engine: the client's end waits for it before the
// engine goes. Here the adapter's device appears just as the client ends.
TEST(SkypeAudioTest, TheDeviceSearchThatEndsWithTheClientStillFindsItsEngine) {
    FakeMixers mixers({FakeMixer{"Orvin Virtual Audio Device", true, true, false}});
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD testThread = GetCurrentThreadId();
    mixers.onGetDevCaps = [&](UINT) {
        if (GetCurrentThreadId() == testThread) {
            return; // the first search, on connecting: nothing found
        }
        mixers.mixers[0].bReadable = true;
        SetEvent(entered);
        WaitForSingleObject(release, 10000);
    };
    FakeSkype skype(0);
    CConfigParams params;
    auto client = std::make_unique<CSkypeApiClient>(mixers);
    client->SetConfigParams(&params);
    ASSERT_TRUE(client->Engine()->Create(client.get()));
    client->ConnectToApiServer();
    ASSERT_TRUE(Pump([&] { return skype.Sent("search friends"); }));
    EXPECT_FALSE(skype.Sent("set audio_in Orvin Virtual Audio Device"));
    ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0) << "the search thread did not search";

    HANDLE releaser = CreateThread(
        nullptr, 0,
        [](void* event) -> DWORD {
            Sleep(300); // the client's end has begun
            SetEvent(static_cast<HANDLE>(event));
            return 0;
        },
        release, 0, nullptr);
    client.reset();
    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    EXPECT_TRUE(skype.Sent("set audio_in Orvin Virtual Audio Device"))
        << "sent through the engine, still there";
    CloseHandle(entered);
    CloseHandle(release);
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
