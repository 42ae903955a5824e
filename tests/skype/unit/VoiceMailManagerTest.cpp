// The voicemail manager over a Skype client that keeps the commands it would send and the
// tones it would ask the adapter for: the list from Skype's replies, the state rule, the
// play list and the session's commands.
#include "softphone/skype/SkypeApiClient.h"
#include "softphone/skype/VoiceMailManager.h"
#include "softphone/Tokenizer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace {

class RecordingClient : public CSkypeApiClient {
public:
    using CSkypeApiClient::SendMessageToApiServer;
    void SendMessageToApiServer(const std::string& text) override {
        sent.push_back(text);
        if (inside) {
            inside(text); // Skype answering before the send returns
        }
    }
    void SendPlaybackSignalRequest(int, int, int, int gap) override { tones.push_back(gap); }
    std::vector<std::string> sent;
    std::vector<int> tones; // the last of the four numbers: 300 the end tone, 200 the last message's
    std::function<void(const std::string&)> inside;
};

// As the client hands them over: lower case, split at blanks and commas.
VString Tokens(const std::string& text) {
    CTokenizer tokenizer;
    tokenizer.SetText(text);
    tokenizer.ToLower();
    return tokenizer.AllTokens();
}

class VoiceMailManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.SetConfigParams(&m_params);
        ASSERT_TRUE(m_client.Engine()->Create(&m_client));
    }
    // A session over these voicemails (id, status word), the play list built.
    void Session(const std::vector<std::pair<int, const char*>>& voicemails) {
        for (const auto& [id, status] : voicemails) {
            vm.Add(id, 13);
            vm.OnStatus(Tokens("VOICEMAIL " + std::to_string(id) + " STATUS " + status));
        }
        vm.SetVMMState(5);
        vm.BuildPlayList();
        m_client.sent.clear();
    }
    bool FirstLookRunning() { return KillTimer(m_client.Engine()->Window(), 32) != 0; }

    CConfigParams m_params;
    RecordingClient m_client;
    VoiceMailManager& vm = m_client.VoiceMails();
};

TEST_F(VoiceMailManagerTest, TheListAsksForEachStatusAndTypeAndStartsTheFirstLook) {
    vm.OnVoicemails(Tokens("VOICEMAILS"), 5);
    EXPECT_TRUE(vm.IsEmpty());
    EXPECT_TRUE(m_client.sent.empty());
    EXPECT_FALSE(FirstLookRunning());
    vm.OnVoicemails(Tokens("VOICEMAILS 11, 12"), 4);
    EXPECT_TRUE(vm.IsEmpty()) << "protocol 4 ignores the list";

    vm.OnVoicemails(Tokens("VOICEMAILS 11, 12"), 5);
    ASSERT_EQ(vm.Count(), 2u);
    EXPECT_EQ(vm.At(1).m_nStatus, 13);
    EXPECT_EQ(vm.At(1).m_nType, 4);
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"get voicemail 11 status", "get voicemail 11 type",
                                                       "get voicemail 12 status", "get voicemail 12 type"}));
    EXPECT_TRUE(FirstLookRunning());
}

TEST_F(VoiceMailManagerTest, WordsMapToTheirCodes) {
    const char* statuses[] = {"notdownloaded", "downloading", "unplayed", "buffering", "playing", "played",
                              "blank",         "recording",   "recorded", "uploading", "",        "deleting",
                              "failed",        "unknown"};
    for (int code = 0; code < 14; ++code) {
        EXPECT_EQ(VoiceMailManager::StatusCode(statuses[code]), code == 10 ? 13 : code) << statuses[code];
    }
    const char* types[] = {"incoming", "outgoing", "default_greeting", "custom_greeting", "unknown_type"};
    for (int code = 0; code < 5; ++code) {
        EXPECT_EQ(VoiceMailManager::TypeCode(types[code]), code) << types[code];
    }
}

TEST_F(VoiceMailManagerTest, InStateOneOnlyASessionLiftsTheState) {
    vm.SetVMMState(1);
    for (int state : {2, 3, 4, 6}) {
        vm.SetVMMState(state);
        EXPECT_EQ(vm.GetVMMState(), 1) << state;
    }
    vm.SetVMMState(5);
    vm.SetVMMState(1);
    EXPECT_EQ(vm.GetVMMState(), 5) << "1 only from 0";
    vm.SetVMMState(4);
    EXPECT_EQ(vm.GetVMMState(), 4);
}

TEST_F(VoiceMailManagerTest, TheUnplayedComeFirstInReverseOrder) {
    Session({{11, "played"}, {12, "unplayed"}, {13, "unplayed"}});
    EXPECT_EQ(vm.PlayList(), (std::vector<size_t>{2, 1, 0}));
    vm.Play();
    vm.KeepAndPlayNext();
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"Open Voicemail 13", "Open Voicemail 12"}));
    vm.SetVMMState(6);
    vm.SetVMMState(5);
    EXPECT_EQ(vm.CurrentPosition(), 1u) << "only a session begun from below 5 rewinds";
}

TEST_F(VoiceMailManagerTest, DeletingTheLastEntryPlaysNothingMore) {
    Session({{11, "unplayed"}, {12, "unplayed"}, {13, "unplayed"}});
    vm.Delete(); // 13, the last of the list
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"alter Voicemail 13 delete"}));
    vm.OnStatus(Tokens("VOICEMAIL 13 STATUS DELETING"));
    ASSERT_EQ(vm.Count(), 2u);
    vm.KeepAndPlayNext(); // 11
    m_client.sent.clear();
    vm.Delete();
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"alter Voicemail 11 delete", "Open Voicemail 12"}))
        << "from the end of the play list round to its start";
}

TEST_F(VoiceMailManagerTest, AfterDeletingTheLastOfThePlayListNothingPlaysUntilTheNextKey) {
    Session({{11, "unplayed"}, {12, "unplayed"}, {13, "played"}}); // play list 12, 11, 13
    vm.KeepAndPlayNext();
    vm.KeepAndPlayNext(); // 13, last of both lists
    vm.Delete();
    vm.OnStatus(Tokens("VOICEMAIL 13 STATUS DELETING"));
    EXPECT_EQ(vm.Current(), nullptr) << "nothing after the last";
    m_client.sent.clear();
    vm.Play();
    vm.Delete();
    EXPECT_TRUE(m_client.sent.empty()) << "no key acts on a voicemail the user did not hear last";
    vm.KeepAndPlayNext();
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"Open Voicemail 12"})) << "round to the start";
}

// Deleting the voicemail that plays moves on to the next one, which then plays while
// Skype's "deleting" comes: that one stays current, wherever the rebuilt play list puts it.
TEST_F(VoiceMailManagerTest, TheVoicemailThatPlaysAfterADeletionStaysCurrent) {
    Session({{11, "unplayed"}, {12, "unplayed"}, {13, "unplayed"}}); // play list 13, 12, 11
    vm.OnStatus(Tokens("VOICEMAIL 13 STATUS PLAYING"));
    vm.OnStatus(Tokens("VOICEMAIL 13 STATUS PLAYED"));
    vm.KeepAndPlayNext(); // 12
    m_client.sent.clear();
    vm.Delete();
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"alter Voicemail 12 delete", "Open Voicemail 11"}));
    vm.OnStatus(Tokens("VOICEMAIL 12 STATUS DELETING")); // play list now 11, 13
    ASSERT_NE(vm.Current(), nullptr) << "11 plays: it is current";
    EXPECT_EQ(vm.Current()->m_nId, 11);
    m_client.sent.clear();
    vm.KeepAndPlayNext();
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"Open Voicemail 13"}));
}

// Skype may answer a command before the agent's send returns: the list changes under the
// walk that sends.
TEST_F(VoiceMailManagerTest, DeletingAllWhileSkypeAnswersInsideEachSend) {
    Session({{11, "unplayed"}, {12, "unplayed"}, {13, "unplayed"}, {14, "played"}});
    m_client.inside = [this](const std::string& command) {
        if (command.rfind("alter Voicemail ", 0) == 0) {
            vm.OnStatus(Tokens("VOICEMAIL " + command.substr(16, 2) + " STATUS DELETING"));
        }
    };
    vm.DeleteAll();
    EXPECT_EQ(m_client.sent,
              (std::vector<std::string>{"alter Voicemail 11 delete", "alter Voicemail 12 delete",
                                        "alter Voicemail 13 delete", "alter Voicemail 14 delete"}));
    EXPECT_TRUE(vm.IsEmpty());
    EXPECT_EQ(vm.Current(), nullptr);
}

TEST_F(VoiceMailManagerTest, TheListIsAskedForWhileSkypeAnnouncesANewVoicemailInsideASend) {
    m_client.inside = [this](const std::string& command) {
        if (command == "get voicemail 11 status") {
            vm.OnStatus(Tokens("VOICEMAIL 99 STATUS NOTDOWNLOADED"));
        }
    };
    vm.OnVoicemails(Tokens("VOICEMAILS 11, 12"), 5);
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"get voicemail 11 status", "get voicemail 11 type",
                                                       "get voicemail 12 status", "get voicemail 12 type"}));
    ASSERT_EQ(vm.Count(), 3u);
    EXPECT_EQ(vm.At(0).m_nId, 99);
}

TEST_F(VoiceMailManagerTest, DeletingWhileSkypeAnswersInsideTheSendPlaysTheNextOrNothingAfterTheLast) {
    Session({{11, "unplayed"}, {12, "unplayed"}, {13, "unplayed"}}); // play list 13, 12, 11
    m_client.inside = [this](const std::string& command) {
        if (command.rfind("alter Voicemail ", 0) == 0) {
            vm.OnStatus(Tokens("VOICEMAIL " + command.substr(16, 2) + " STATUS DELETING"));
        }
    };
    vm.KeepAndPlayNext(); // 12
    m_client.sent.clear();
    vm.Delete();
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"alter Voicemail 12 delete", "Open Voicemail 11"}));
    ASSERT_NE(vm.Current(), nullptr);
    EXPECT_EQ(vm.Current()->m_nId, 11);

    vm.Reset();
    Session({{21, "unplayed"}, {22, "played"}}); // play list 21, 22
    vm.KeepAndPlayNext();                        // 22, the last of the list
    m_client.sent.clear();
    vm.Delete();
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"alter Voicemail 22 delete"}))
        << "nothing after the last";
}

TEST_F(VoiceMailManagerTest, OnlyTheEndOfAPlaybackCallsBack) {
    Session({{11, "unplayed"}, {12, "unplayed"}});
    vm.OnStatus(Tokens("VOICEMAIL 12 STATUS PLAYING"));
    EXPECT_EQ(vm.GetVMMState(), 6);
    vm.StopPlayback();
    EXPECT_EQ(m_client.sent, (std::vector<std::string>{"alter Voicemail 12 stopplayback"}));
    vm.OnStatus(Tokens("VOICEMAIL 12 STATUS PLAYED"));
    EXPECT_EQ(vm.GetVMMState(), 5);
    EXPECT_EQ(m_client.tones, (std::vector<int>{200, 200, 200})) << "12 is the last of the list";

    vm.SetVMMState(6);
    vm.OnStatus(Tokens("VOICEMAIL 11 STATUS PLAYED"));
    EXPECT_EQ(vm.At(0).m_nStatus, 5);
    EXPECT_EQ(vm.GetVMMState(), 6) << "unplayed to played is no end of a playback";
    EXPECT_EQ(m_client.tones.size(), 3u);
}

TEST_F(VoiceMailManagerTest, ANewVoicemailGoesFirstAndCountsAsUnplayedWhenIncoming) {
    Session({{11, "unplayed"}});
    vm.OnType(Tokens("VOICEMAIL 11 TYPE OUTGOING"));
    EXPECT_EQ(vm.CountUnplayedIncoming(), 0);
    vm.OnStatus(Tokens("VOICEMAIL 12 STATUS NOTDOWNLOADED"));
    EXPECT_EQ(vm.At(0).m_nId, 12);
    EXPECT_EQ(vm.GetVMMState(), 4);
    vm.OnStatus(Tokens("VOICEMAIL 12 STATUS UNPLAYED"));
    EXPECT_EQ(vm.CountUnplayedIncoming(), 1) << "its type is still unknown";
}

} // namespace
