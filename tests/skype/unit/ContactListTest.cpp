// The contact list: filling it from the softphone's replies, the start-up's completion at
// the last friend's first status, speed dial and the buddy-status changes.
#include "softphone/ContactList.h"
#include "softphone/OrvinApiClient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingClient : public COrvinApiClient {
public:
    void ConnectToApiServer() override {}
    void SendMessageToApiServer(const char* text) override { sent.push_back(text); }
    void OnApiServerConnect() override { ++completions; }
    std::vector<std::string> sent;
    int completions = 0;
};

TEST(ContactListTest, StatusWordsMapExactly) {
    const char* words[] = {"unknown", "online", "offline", "away", "na", "dnd", "invisible", "loggedout"};
    for (int code = 0; code < 8; ++code) {
        EXPECT_EQ(CContactList::StatusCode(words[code]), code) << words[code];
    }
    for (const char* other : {"ONLINE", "online ", "", "skypeout", "2"}) {
        EXPECT_EQ(CContactList::StatusCode(other), 0) << other;
    }
}

TEST(ContactListTest, AddingAsksForStatusAndSpeedDial) {
    RecordingClient client;
    CContactList list(&client);
    list.AddContact("echo123");
    EXPECT_EQ(client.sent,
              (std::vector<std::string>{"get user echo123 onlinestatus", "get user echo123 speeddial"}));
}

TEST(ContactListTest, TheLastContactsFirstStatusCompletesTheStartUp) {
    RecordingClient client;
    CContactList list(&client);
    for (const char* name : {"a", "b", "c"}) {
        list.AddContact(name);
    }
    list.SetOnlineStatus("c", "online");
    EXPECT_EQ(client.completions, 1) << "at c's reply: c is the last contact";
    list.SetOnlineStatus("a", "away");
    list.SetOnlineStatus("b", "offline");
    EXPECT_EQ(client.completions, 1) << "not again after b";
    list.SetOnlineStatus("c", "dnd");
    EXPECT_EQ(client.completions, 1) << "only the first known status counts";
    EXPECT_EQ(list.FindByName("c")->m_nStatus, 5);
    list.SetOnlineStatus("nobody", "online");
    EXPECT_EQ(client.completions, 1);
}

TEST(ContactListTest, AStatusThatMapsToNothingDoesNotCountAsTheFirst) {
    RecordingClient client;
    CContactList list(&client);
    list.AddContact("a");
    list.SetOnlineStatus("a", "2"); // a buddy-status number, not a word
    EXPECT_EQ(client.completions, 1);
    list.SetOnlineStatus("a", "online");
    EXPECT_EQ(client.completions, 2) << "the status was still unknown, so it counts again";
}

TEST(ContactListTest, SpeedDialNumbersFindTheirContacts) {
    CContactList list(nullptr);
    list.AddContact("anna");
    list.AddContact("bert");
    list.SetSpeedDial("bert", "22");
    list.SetSpeedDial("nobody", "33");
    EXPECT_EQ(list.FindByNumber("22"), list.FindByName("bert"));
    EXPECT_EQ(list.FindByNumber("2"), nullptr) << "the same length, the same bytes";
    EXPECT_EQ(list.FindByNumber(""), list.FindByName("anna")) << "empty finds the first without a number";
    list.AddContact("bert");
    EXPECT_EQ(list.Count(), 3u) << "no check for a contact of the same name";
    list.RemoveContact("bert");
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.FindByName("bert")->m_SpeedDial, "") << "the first bert went";
    list.Reset();
    EXPECT_EQ(list.Count(), 0u);
}

} // namespace
