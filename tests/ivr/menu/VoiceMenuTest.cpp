// The navigation, information, child, farewell, PIN, phone number, forwarding, greeting,
// voice-mail and line-attach menus, driven through the fake state machine. Prompts name a
// file that does not exist: the stream then plays until its next notification (one tick).
#include "FakeMenuHost.h"

namespace {

template <class M, class... A> M* AddSub(CVoiceMenu& parent, char key, A&&... args) {
    auto menu = std::make_unique<M>(std::forward<A>(args)...);
    M* p = menu.get();
    parent.AddSubMenu(key, std::move(menu));
    return p;
}

bool NoNumber(const FakeMenuHost::Sent& s) {
    for (int i = 8; i < 32; ++i)
        if (s.record.Buffer1[i] != 0)
            return false;
    return true;
}

TEST_F(MenuTest, NavigationRepeatsTimesOutOnceAndFollowsKeys) {
    CVoiceMenu root(*host, 5000);
    root.AddPromptFile(Missing());
    CVoiceMenu* four = AddSub<CVoiceMenu>(root, '4', *host, 5000);
    CVoiceMenu* bye = host->goodBye.get();
    host->Start(&root);
    host->Tick(149);
    EXPECT_EQ(host->Pushes(bye), 0);
    EXPECT_EQ(root.GetPlayCount(), 3);
    host->Tick(); // three plays with 5 s of silence after each
    EXPECT_EQ(host->GetCurrentMenu(), bye);
    host->Tick(); // the farewell asks to end the call
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].record.Type, 7);
    EXPECT_EQ(host->reports[0].record.Code, 6);
    EXPECT_EQ(host->reports[0].Word(1), 0);
    EXPECT_FALSE(host->reports[0].bKeepRecording);
    // Expired once: the elapsed time has gone past the timeout and never equals it again.
    host->path.pop_back();
    for (int i = 0; i < 200; ++i)
        root.InterpretControl(0);
    EXPECT_EQ(host->Pushes(bye), 1);

    // Keys: a key of the set opens its submenu, '*' goes back, '*' at the root plays again.
    host->capturing = true;
    root.Reset();
    host->Keys("4");
    EXPECT_EQ(host->GetCurrentMenu(), four);
    EXPECT_TRUE(Traced("CVoiceMenu::InterpretControl dtmf = 4"));
    host->Keys("*");
    EXPECT_EQ(host->GetCurrentMenu(), &root);
    const int starts = host->ring->nStartCalls;
    host->Keys("*#A");
    EXPECT_EQ(host->path.size(), 1u);
    EXPECT_EQ(host->ring->nStartCalls, starts + 2); // stopped (background), played again

    // A timeout that is not a multiple of 100 never expires.
    CVoiceMenu odd(*host, 5050);
    host->path = {&odd};
    host->Tick(1000);
    EXPECT_EQ(odd.GetPlayCount(), 1);
    EXPECT_EQ(host->Pushes(bye), 1);
}

TEST_F(MenuTest, PinEntry) {
    auto makePin = [&] {
        auto pin = std::make_unique<PinNumberMenu>(*host, 5000);
        pin->AddPromptFile(Missing());
        AddSub<CVoiceMenu>(*pin, 'S', *host, 5000);
        AddSub<ChildMenu>(*pin, 'f', *host, 5000)->AddPromptFile(Missing());
        host->path.clear();
        host->floor = nullptr;
        host->Start(pin.get());
        return pin;
    };
    auto good = makePin();
    host->Keys("1234*");
    EXPECT_TRUE(Traced("PinNumberMenu::HandleDigits Pin collected: ****"));
    EXPECT_EQ(host->GetCurrentMenu(), good->GetSubMenu('S'));
    EXPECT_EQ(host->floor, good->GetSubMenu('S'));
    host->Keys("*"); // the entry cannot be reached again
    EXPECT_EQ(host->GetCurrentMenu(), good->GetSubMenu('S'));
    EXPECT_EQ(host->path.size(), 2u);

    auto wrong = makePin();
    CVoiceMenu* failed = wrong->GetSubMenu('f');
    host->Keys("123*");
    EXPECT_EQ(host->GetCurrentMenu(), failed);
    host->Tick(); // the child has played: the entry is back
    EXPECT_EQ(host->GetCurrentMenu(), wrong.get());
    host->Keys("123*");
    EXPECT_EQ(host->GetCurrentMenu(), failed);
    host->Keys("9"); // a key during the child goes to the entry, which removes the child
    EXPECT_EQ(host->GetCurrentMenu(), wrong.get());
    EXPECT_EQ(wrong->GetCollected(), "9");
    host->Keys("*");
    EXPECT_EQ(wrong->GetFailures(), 3);
    EXPECT_EQ(host->GetCurrentMenu(), host->goodBye.get());
    EXPECT_EQ(host->Pushes(failed), 2);

    auto nine = makePin();
    host->Keys("12345678");
    EXPECT_EQ(nine->GetFailures(), 0);
    host->Keys("9");
    EXPECT_EQ(nine->GetFailures(), 1);
    EXPECT_EQ(nine->GetCollected(), "");

    for (const char* unset : {"", "123", "12a4"}) { // no PIN of 4 to 8 digits: all refused
        host->pin = unset;
        auto closed = makePin();
        host->Keys("*" + host->pin + "*");
        EXPECT_EQ(closed->GetFailures(), 2) << "Pin \"" << unset << "\"";
    }
    EXPECT_TRUE(Traced("PinNumberMenu: no PIN is set (Pin needs 4 to 8 digits): entry refused"));
}

TEST_F(MenuTest, InformationAndChildMenus) {
    CVoiceMenu root(*host, 5000);
    root.SetKeySet("567");
    InfoMenu* info = AddSub<InfoMenu>(root, '5', *host, 5000);
    info->AddPromptFile(Missing());
    ChildMenu* child = AddSub<ChildMenu>(root, '6', *host, 5000);
    child->AddPromptFile(Missing());
    CVoiceMenu* seven = AddSub<CVoiceMenu>(root, '7', *host, 5000);
    host->Start(&root);

    host->Keys("57"); // swallowed while the information plays
    EXPECT_EQ(host->GetCurrentMenu(), info);
    EXPECT_EQ(host->Pushes(seven), 0);
    host->Tick();
    EXPECT_EQ(host->GetCurrentMenu(), &root);

    host->Keys("6");
    host->Dispatch(0); // the child holds the time while it plays
    EXPECT_EQ(root.GetElapsed(), 0);
    host->Tick();
    EXPECT_EQ(root.GetElapsed(), 100);
    host->Keys("7"); // reaches the menu below
    EXPECT_EQ(host->path, (std::vector<CVoiceMenu*>{&root, child, seven}));
}

TEST_F(MenuTest, ForwardingPhoneNumberLineAttachAndVoiceMail) {
    auto restart = [&](CVoiceMenu* m) {
        host->capturing = true;
        host->path.clear();
        host->reports.clear();
        host->Start(m);
    };
    CallForwardMenu fwd(*host, 3000, false);
    fwd.SetKeySet("*");
    fwd.SetRepeat(1);
    CVoiceMenu* admin = AddSub<CVoiceMenu>(fwd, '*', *host, 5000);
    restart(&fwd);
    host->Keys("*"); // admin keys not allowed
    EXPECT_EQ(host->Pushes(admin), 0);
    host->Tick(29);
    EXPECT_TRUE(host->reports.empty());
    host->Tick();
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].record.Code, 5);
    EXPECT_EQ(host->reports[0].Word(1), 1);
    EXPECT_TRUE(NoNumber(host->reports[0]));
    EXPECT_EQ(fwd.GetElapsed(), 0);

    CallForwardMenu fwdAdmin(*host, 3000, true);
    fwdAdmin.SetKeySet("*");
    CVoiceMenu* pinEntry = AddSub<CVoiceMenu>(fwdAdmin, '*', *host, 5000);
    restart(&fwdAdmin);
    host->Keys("*");
    EXPECT_EQ(host->GetCurrentMenu(), pinEntry);
    EXPECT_EQ(host->floor, pinEntry);

    PhoneNumberMenu phone(*host, 5000);
    restart(&phone);
    host->Keys("0123456789#A0123456789012*");
    EXPECT_TRUE(Traced("PhoneNumberMenu::InterpretControl: Phone Number 01234567890123456789012"));
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].record.Code, 5);
    EXPECT_EQ(host->reports[0].Word(1), 1);
    EXPECT_EQ(std::string(host->reports[0].record.Buffer1 + 8, 20), "01234567890123456789");
    EXPECT_EQ(std::string(host->reports[0].record.Buffer1 + 28, 4), std::string(4, '\0'));

    LineAttachMenu attach(*host, 5000);
    attach.AddPromptFile(Missing());
    restart(&attach);
    host->Dispatch(0);
    EXPECT_TRUE(host->reports.empty()); // still playing
    host->Tick();
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].record.Code, 5);
    EXPECT_EQ(host->reports[0].Word(1), 7);

    SoftphoneVoiceMailMenu voiceMail(*host, 5000);
    restart(&voiceMail);
    host->Keys("5");
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].record.Code, 7);
    EXPECT_EQ(host->reports[0].Word(1), 8);
}

TEST_F(MenuTest, GreetingPlaysTheUsersRecordingThenItsTimeoutKey) {
    const std::string greeting = lang + "\\UserAMGreeting.wav";
    ASSERT_TRUE(MakeWav(greeting, 3200));
    ASSERT_TRUE(MakeWav(lang + "\\hello.wav", 1600));
    AMGreetingMenu greet(*host, 3000, false, greeting);
    greet.AddPromptFile(lang + "\\hello.wav");
    greet.SetRepeat(1);
    greet.SetKeySet("*");
    CVoiceMenu* record = AddSub<CVoiceMenu>(greet, 'T', *host, 5000);
    AddSub<CVoiceMenu>(greet, '*', *host, 5000);
    host->Start(&greet);
    EXPECT_EQ(host->sound->GetTotal(), 3200u); // the user's greeting, not the prompt
    host->Keys("*");
    host->Tick(30); // the greeting holds the first tick; from the second one 3 s are counted
    EXPECT_EQ(host->GetCurrentMenu(), &greet);
    host->Tick();
    EXPECT_EQ(host->GetCurrentMenu(), record);

    DeleteFileA(greeting.c_str());
    greet.Play();
    EXPECT_EQ(host->sound->GetTotal(), 1600u);
}

} // namespace
