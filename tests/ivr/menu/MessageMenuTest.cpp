// Recording voice messages, reminders and the greeting, playing and deleting messages,
// through the fake state machine, on real files in a temporary installation folder.
#include "FakeMenuHost.h"
#include "ivr/MenuFile.h"

namespace {

// A voice-message recording at a chosen local time.
class ClockedRecording : public RecordVoiceMsgMenu {
public:
    using RecordVoiceMsgMenu::RecordVoiceMsgMenu;
    void At(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) { now = SYSTEMTIME{y, mo, 0, d, h, mi, s, 0}; }

protected:
    void GetTime(SYSTEMTIME* pTime) override { *pTime = now; }
    SYSTEMTIME now{};
};

template <class M, class... A> M* AddSub(CVoiceMenu& parent, char key, A&&... args) {
    auto menu = std::make_unique<M>(std::forward<A>(args)...);
    M* p = menu.get();
    parent.AddSubMenu(key, std::move(menu));
    return p;
}

TEST_F(MenuTest, VoiceMessageRecording) {
    const std::string folder = root + "\\new\\IVR\\VoiceMail"; // made with its parents
    ClockedRecording rec(*host, 30000, folder);
    rec.At(2006, 8, 28, 11, 33, 23);
    rec.AddPromptFile(Missing());
    host->Start(&rec);
    host->Tick(); // the beep has played: recording begins
    ASSERT_EQ(host->recordings, std::vector<std::string>{folder + "\\vm2006828113323.wav"});
    EXPECT_TRUE(Exists(folder + "\\vm2006828113323.wav"));
    EXPECT_EQ(host->waiting, 1);
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].record.Code, 8);
    EXPECT_EQ(host->reports[0].Word(1), 8);
    EXPECT_EQ(host->reports[0].record.Info, 1);
    EXPECT_TRUE(host->reports[0].bKeepRecording);
    host->Tick(300);
    EXPECT_EQ(host->stops, 0);
    host->Tick(); // 30.1 s
    EXPECT_EQ(host->stops, 1);
    host->Tick();
    ASSERT_EQ(host->reports.size(), 2u);
    EXPECT_EQ(host->reports[1].record.Code, 6);
    EXPECT_FALSE(host->reports[1].bKeepRecording);

    // 11 January and 1 November at 13:03:23 have the same name, so do two recordings in one
    // second: none overwrites another. A length of 0 stops at the first tick; '#' at once.
    auto record = [&](ClockedRecording& m, int ticks) {
        host->capturing = true;
        host->path.clear();
        m.Reset(); // as when it was popped
        host->Start(&m);
        host->Tick(ticks);
    };
    ClockedRecording quick(*host, 0, folder);
    quick.At(2006, 1, 11, 13, 3, 23);
    record(quick, 1);
    EXPECT_EQ(host->recordings.back(), folder + "\\vm200611113323.wav");
    host->Tick();
    EXPECT_EQ(host->stops, 2);
    quick.At(2006, 11, 1, 13, 3, 23);
    record(quick, 3);
    EXPECT_EQ(host->recordings.back(), folder + "\\vm200611113323_2.wav");
    ClockedRecording pound(*host, 30000, folder);
    pound.At(2006, 11, 1, 13, 3, 23);
    record(pound, 1);
    EXPECT_EQ(host->recordings.back(), folder + "\\vm200611113323_3.wav");
    host->Keys("#");
    EXPECT_EQ(host->stops, 4);
    EXPECT_EQ(host->waiting, 4);

    // A folder that cannot be made: nothing recorded, the call ends as after a recording.
    WriteText(root + "\\blocker", "a file");
    ClockedRecording blocked(*host, 30000, root + "\\blocker\\VoiceMail");
    host->reports.clear();
    record(blocked, 2);
    EXPECT_EQ(host->recordings.size(), 4u);
    EXPECT_EQ(host->waiting, 4);
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].record.Code, 6);
}

TEST_F(MenuTest, ReminderRecording) {
    host->voiceMsgSec = 2;
    CMenuBuilder builder(*host);
    std::unique_ptr<CVoiceMenu> reminder(builder.BuildReminderMenu(root + "\\Reminders"));
    EXPECT_EQ(reminder->GetTimeout(), 2000);
    ASSERT_NE(reminder->GetPrompt(), nullptr);
    EXPECT_EQ(reminder->GetPrompt()->GetFiles(), std::vector<std::string>{lang + "\\beep.wav"});
    host->Start(reminder.get());
    host->Tick();
    ASSERT_EQ(host->recordings.size(), 1u);
    const std::string path = host->recordings[0];
    EXPECT_EQ(path.rfind(root + "\\Reminders\\vr", 0), 0u) << path;
    EXPECT_EQ(path.substr(path.size() - 4), ".wav");
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].record.Code, 9);
    EXPECT_EQ(host->reports[0].Word(1), 8);
    EXPECT_EQ(std::string(host->reports[0].record.Payload), path);
    EXPECT_TRUE(host->reports[0].bKeepRecording);
    EXPECT_TRUE(
        Traced("RecordReminderMsgMenu::CreateTargetFileName: Sending IVR_MESSAGE_RECORDING_BEGAN " + path));
    host->Tick(21);
    EXPECT_EQ(host->stops, 1);
    host->Tick();
    ASSERT_EQ(host->reports.size(), 2u);
    EXPECT_EQ(host->reports[1].record.Code, 10);
    EXPECT_EQ(host->waiting, 0);

    // No reminder folder stored yet: the current folder.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA(root.c_str());
    std::unique_ptr<CVoiceMenu> here(builder.BuildReminderMenu(""));
    host->capturing = true;
    host->path.clear();
    host->Start(here.get());
    host->Tick();
    SetCurrentDirectoryA(previous);
    EXPECT_EQ(host->recordings.back().rfind("vr", 0), 0u) << host->recordings.back();
}

TEST_F(MenuTest, GreetingKeptOrDiscardedAtHangUp) {
    const std::string greeting = lang + "\\UserAMGreeting.wav", temp = lang + "\\GreetingTmp.wav";
    auto recordThenHangUp = [&](bool onPound) {
        RecordGreetingMenu rec(*host, 10000, lang, onPound);
        host->path.clear();
        host->Start(&rec);
        host->Tick(3);
        EXPECT_EQ(host->recordings.back(), temp);
        EXPECT_TRUE(Exists(temp));
        host->StopRecordingToFile(); // the conversation ends, then its menus go
    };
    recordThenHangUp(false);
    EXPECT_TRUE(Exists(greeting));
    EXPECT_FALSE(Exists(temp));
    EXPECT_EQ(host->waiting, 0);
    EXPECT_EQ(host->reports.back().record.Code, 8);

    DeleteFileA(greeting.c_str());
    recordThenHangUp(true);
    EXPECT_FALSE(Exists(greeting));
    EXPECT_FALSE(Exists(temp));

    // Ended with '#': the greeting is replaced and the menu goes back.
    CVoiceMenu parent(*host, 5000);
    RecordGreetingMenu rec(*host, 10000, lang, true);
    host->path = {&parent};
    host->PushMenu(&rec);
    host->PlayCurrentMenu();
    host->Tick();
    host->Keys("#");
    host->Tick();
    EXPECT_EQ(host->GetCurrentMenu(), &parent);
    EXPECT_TRUE(rec.IsSaved());
    EXPECT_TRUE(Exists(greeting));
    EXPECT_FALSE(Exists(temp));
}

TEST_F(MenuTest, PlayingMessages) {
    const std::string vm = root + "\\IVR\\VoiceMail";
    CreateDirectoryA(vm.c_str(), nullptr);
    CVoiceMenu parent(*host, 5000);
    auto enter = [&](CVoiceMenu* m) {
        host->path = {&parent};
        host->PushMenu(m);
        host->PlayCurrentMenu();
    };
    PlayVoiceMsgMenu play(*host, 5000, vm);
    CVoiceMenu* none = AddSub<InfoMenu>(play, 'F', *host, 5000);
    CVoiceMenu* end = AddSub<CVoiceMenu>(play, 'E', *host, 5000);
    enter(&play);
    EXPECT_EQ(host->GetCurrentMenu(), none);

    for (const char* name : {"vm1.wav", "vm2.wav", "vm3.wav", "other.wav"})
        ASSERT_TRUE(MakeWav(vm + "\\" + name, 1600));
    host->waiting = 3;
    play.Reset();
    enter(&play);
    ASSERT_EQ(play.GetFiles().size(), 3u);
    const std::string first = play.GetFiles()[0];
    for (int i = 0; i < 3; ++i) {
        host->Tick(); // the message plays
        host->Keys("2");
    }
    EXPECT_TRUE(Traced("PlayVoiceMsgMenu::HandleDtmf: deleting voice message " + first));
    EXPECT_EQ(host->waiting, 0);
    host->Tick();
    EXPECT_EQ(host->GetCurrentMenu(), end);
    EXPECT_TRUE(ListFiles(vm, "vm*.wav").empty());
    EXPECT_TRUE(Exists(vm + "\\other.wav"));

    // The options child after each message: its timeout or '3' moves on.
    ASSERT_TRUE(MakeWav(vm + "\\vm4.wav", 1600));
    ASSERT_TRUE(MakeWav(vm + "\\vm5.wav", 1600));
    PlayVoiceMsgMenu withOptions(*host, 5000, vm);
    ChildMenu* options = AddSub<ChildMenu>(withOptions, 'O', *host, 2000);
    options->AddPromptFile(Missing());
    CVoiceMenu* end2 = AddSub<CVoiceMenu>(withOptions, 'E', *host, 5000);
    enter(&withOptions);
    host->Tick(2);
    EXPECT_EQ(host->GetCurrentMenu(), options);
    host->Tick(20);
    EXPECT_EQ(host->GetCurrentMenu(), &withOptions);
    EXPECT_EQ(withOptions.GetCursor(), 1u);
    host->Tick(2);
    EXPECT_EQ(host->GetCurrentMenu(), options);
    host->Keys("3");
    host->Tick();
    EXPECT_EQ(host->GetCurrentMenu(), end2);
    EXPECT_EQ(ListFiles(vm, "vm*.wav").size(), 2u);

    // Without options nothing moves on by itself; the keys still work.
    PlayVoiceMsgMenu bare(*host, 5000, vm);
    host->path.clear();
    host->Start(&bare);
    host->Tick(10);
    EXPECT_EQ(bare.GetPlayState(), PlayVoiceMsgMenu::kMessage);
    host->Keys("3");
    host->Tick(2);
    host->Keys("3");
    host->Tick(3); // all played, no 'E', nothing to go back to
    EXPECT_EQ(host->GetCurrentMenu(), host->goodBye.get());
}

TEST_F(MenuTest, DeletionConfirmationAndGreetingPlayback) {
    const std::string vm = root + "\\IVR\\VoiceMail", greeting = lang + "\\UserAMGreeting.wav";
    CreateDirectoryA(vm.c_str(), nullptr);
    CVoiceMenu parent(*host, 5000);
    auto enter = [&](CVoiceMenu* m) {
        host->path = {&parent};
        host->PushMenu(m);
        host->PlayCurrentMenu();
    };
    VoiceMsgDeleteConfirmMenu confirm(*host, 5000, vm, "vm*.wav");
    confirm.SetKeySet("12");
    CVoiceMenu* nothing = AddSub<InfoMenu>(confirm, 'F', *host, 5000);
    CVoiceMenu* yes = AddSub<CVoiceMenu>(confirm, '1', *host, 5000);
    enter(&confirm);
    EXPECT_EQ(host->path, (std::vector<CVoiceMenu*>{&parent, nothing}));

    for (const char* name : {"vmA.wav", "vmB.wav", "other.wav", "vmC.wavx"})
        WriteText(vm + "\\" + name, "x");
    enter(&confirm);
    host->Keys("3");
    EXPECT_EQ(host->GetCurrentMenu(), &confirm);
    host->Keys("1");
    EXPECT_EQ(host->path, (std::vector<CVoiceMenu*>{&parent, yes}));

    DeleteFilesMenu all(*host, 5000, vm, "vm*.wav");
    host->waiting = 2;
    enter(&all);
    host->Tick();
    EXPECT_EQ(host->GetCurrentMenu(), &parent);
    EXPECT_EQ(host->waiting, 0);
    EXPECT_TRUE(Traced("Deleting Wav File " + vm + "\\vmA.wav"));
    EXPECT_FALSE(Exists(vm + "\\vmA.wav") || Exists(vm + "\\vmB.wav"));
    EXPECT_TRUE(Exists(vm + "\\other.wav") && Exists(vm + "\\vmC.wavx"));

    ASSERT_TRUE(MakeWav(greeting, 3200));
    GreetingListenMenu listen(*host, 5000, greeting);
    enter(&listen);
    EXPECT_EQ(host->sound->GetTotal(), 3200u);
    host->Tick();
    EXPECT_EQ(host->GetCurrentMenu(), &listen);
    host->Tick();
    EXPECT_EQ(host->GetCurrentMenu(), &parent);

    DeleteFilesMenu deleteGreeting(*host, 5000, greeting);
    enter(&deleteGreeting);
    host->Tick();
    EXPECT_TRUE(Traced("Deleting Wav File " + greeting));
    EXPECT_FALSE(Exists(greeting));
}

} // namespace
