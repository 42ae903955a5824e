// Menu.cfg read into menu trees: defaults, kinds, masks, prompts, submenu lines, the section
// substitutions, values and sections too long for the reader, cycles, missing parts.
#include "FakeMenuHost.h"
#include "ivr/MenuFile.h"

#include <memory>

namespace {

const char* const kMenuCfg = R"([Root]
Prompt=RootPrompt
SubMenus=RootKeys
Mask=1-3,*
SelectionTimeout=4000
Repeat=2

[RootPrompt]
hello.wav
two words.wav

[RootKeys]
1 ,Plain
1,Pin
a line without a comma
2,Unknown
3,Nowhere
*,Pin
T,EnterAM
P,PhoneNumberCollect
L,Long

[Plain]
Repeat=3

[Unknown]
Type=FANCY

[Pin]
Type=PINCODE
SubMenus=PinKeys

[PinKeys]
S,Root
F,pin
C,Leaf

[Leaf]
Type=INFO

[EnterAM]
Type=INFO

[EnterAMAlt]
Type=CHILD

[PhoneNumberCollect]
Type=PHONENBR

[AttachLine]
Type=LINEATTACH

[Long]
Prompt=LongPrompt

[Kinds]
SubMenus=KindKeys

[KindKeys]
a,K_BYE
b,K_CALLFWD
c,K_AMGREET
d,K_MSGREC
e,K_GMREC
f,K_GMLISTEN
g,K_DELGM
h,K_MSGPLAY
i,K_VMDELCONFIRM
j,K_DELALLVM
k,K_SPMAIL
)";

class MenuFileTest : public MenuTest {
protected:
    void Write() {
        std::string cfg = kMenuCfg;
        for (const char* kind : {"BYE", "CALLFWD", "AMGREET", "MSGREC", "GMREC", "GMLISTEN", "DELGM",
                                 "MSGPLAY", "VMDELCONFIRM", "DELALLVM", "SPMAIL"})
            cfg += std::string("[K_") + kind + "]\nType=" + kind + "\n";
        cfg += "[LongPrompt]\n";
        for (int i = 0; i < 40; ++i) // over 510 characters
            cfg += "prompt" + std::to_string(i) + ".wav\n";
        cfg += "[TooLong]\nType=" + std::string(511, 'D') + "\n";
        for (int i = 0; i < 40; ++i) // a chain of 40 menus, each below the one before
            cfg += "[C" + std::to_string(i) + "]\nSubMenus=K" + std::to_string(i) + "\n[K" +
                   std::to_string(i) + "]\n1,C" + std::to_string(i + 1) + "\n";
        WriteText(lang + "\\Menu.cfg", cfg);
    }
    std::unique_ptr<CVoiceMenu> Build(const std::string& section) {
        CMenuBuilder builder(*host);
        return std::unique_ptr<CVoiceMenu>(builder.Build(root, section));
    }
};

TEST_F(MenuFileTest, KindsKeysPromptsAndSubmenus) {
    Write();
    auto menu = Build("Root");
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu->GetTimeout(), 4000);
    EXPECT_EQ(menu->GetRepeat(), 2);
    EXPECT_EQ(menu->GetKeySet(), "123*");
    ASSERT_NE(menu->GetPrompt(), nullptr);
    EXPECT_EQ(menu->GetPrompt()->GetFiles(),
              (std::vector<std::string>{lang + "\\hello.wav", lang + "\\two words.wav"}));

    // "1 ,Plain" gives key 1 and wins over the later "1,Pin"; no comma, no key; an unknown
    // kind and a missing section build nothing.
    std::string keys;
    for (const auto& [key, sub] : menu->GetSubMenus())
        keys += key;
    EXPECT_EQ(keys, "*1LPT");
    CVoiceMenu* plain = menu->GetSubMenu('1');
    EXPECT_EQ(typeid(*plain), typeid(CVoiceMenu));
    EXPECT_EQ(plain->GetTimeout(), 5000);
    EXPECT_EQ(plain->GetRepeat(), 3);
    EXPECT_EQ(plain->GetKeySet(), "0123456789");
    EXPECT_EQ(plain->GetPrompt(), nullptr);
    EXPECT_EQ(menu->GetSubMenu('L')->GetPrompt(), nullptr); // its prompt section was cut
    EXPECT_TRUE(
        Traced("CIvrStateMachine::CreateVoiceMenuFromFile: orvin_path = " + root + ", section = Plain"));

    // A cycle back to the root and to the menu itself is cut; the rest is built.
    CVoiceMenu* pin = menu->GetSubMenu('*');
    EXPECT_NE(dynamic_cast<PinNumberMenu*>(pin), nullptr);
    EXPECT_EQ(pin->GetSubMenus().size(), 1u);
    EXPECT_NE(dynamic_cast<InfoMenu*>(pin->GetSubMenu('C')), nullptr);
    EXPECT_TRUE(Traced(
        "CIvrStateMachine::CreateVoiceMenuFromFile: section Root is already on the path, not built again"));
    EXPECT_TRUE(Traced(
        "CIvrStateMachine::CreateVoiceMenuFromFile: section pin is already on the path, not built again"));

    // From the PSTN without line attach the sections are as named.
    EXPECT_NE(dynamic_cast<InfoMenu*>(menu->GetSubMenu('T')), nullptr);
    EXPECT_NE(dynamic_cast<PhoneNumberMenu*>(menu->GetSubMenu('P')), nullptr);
    host->pstn = false;
    host->lineAttach = true;
    host->attachOnDcf = true;
    menu = Build("Root");
    EXPECT_NE(dynamic_cast<ChildMenu*>(menu->GetSubMenu('T')), nullptr);
    EXPECT_NE(dynamic_cast<LineAttachMenu*>(menu->GetSubMenu('P')), nullptr);
    host->attachOnDcf = false;
    menu = Build("Root");
    EXPECT_NE(dynamic_cast<PhoneNumberMenu*>(menu->GetSubMenu('P')), nullptr);

    host->admin = true;
    host->voiceMsgSec = 30;
    host->greetingSec = 12;
    auto kinds = Build("Kinds");
    ASSERT_TRUE(kinds);
    auto sub = [&](char k) { return kinds->GetSubMenu(k); };
    EXPECT_NE(dynamic_cast<ByeMenu*>(sub('a')), nullptr);
    ASSERT_NE(dynamic_cast<CallForwardMenu*>(sub('b')), nullptr);
    EXPECT_TRUE(dynamic_cast<CallForwardMenu*>(sub('b'))->AdminKeysAllowed());
    ASSERT_NE(dynamic_cast<AMGreetingMenu*>(sub('c')), nullptr);
    EXPECT_EQ(dynamic_cast<AMGreetingMenu*>(sub('c'))->GetGreetingPath(), lang + "\\UserAMGreeting.wav");
    ASSERT_EQ(typeid(*sub('d')), typeid(RecordVoiceMsgMenu));
    EXPECT_EQ(sub('d')->GetTimeout(), 30000);
    EXPECT_EQ(dynamic_cast<RecordVoiceMsgMenu*>(sub('d'))->GetTargetFolder(), root + "\\IVR\\VoiceMail");
    ASSERT_NE(dynamic_cast<RecordGreetingMenu*>(sub('e')), nullptr);
    EXPECT_EQ(sub('e')->GetTimeout(), 12000);
    EXPECT_NE(dynamic_cast<GreetingListenMenu*>(sub('f')), nullptr);
    ASSERT_NE(dynamic_cast<DeleteFilesMenu*>(sub('g')), nullptr);
    EXPECT_FALSE(dynamic_cast<DeleteFilesMenu*>(sub('g'))->IsPatternMode());
    EXPECT_NE(dynamic_cast<PlayVoiceMsgMenu*>(sub('h')), nullptr);
    EXPECT_NE(dynamic_cast<VoiceMsgDeleteConfirmMenu*>(sub('i')), nullptr);
    ASSERT_NE(dynamic_cast<DeleteFilesMenu*>(sub('j')), nullptr);
    EXPECT_TRUE(dynamic_cast<DeleteFilesMenu*>(sub('j'))->IsPatternMode());
    EXPECT_NE(dynamic_cast<SoftphoneVoiceMailMenu*>(sub('k')), nullptr);
}

TEST_F(MenuFileTest, NothingBuiltAndMasks) {
    EXPECT_FALSE(Build("Root")); // no Menu.cfg
    Write();
    EXPECT_FALSE(Build("NoSuchSection"));
    EXPECT_FALSE(Build("Unknown"));
    EXPECT_FALSE(Build("TooLong"));
    EXPECT_TRUE(Build("Plain"));
    auto chain = Build("C0");
    int depth = 0;
    for (CVoiceMenu* m = chain.get(); m != nullptr; m = m->GetSubMenu('1'))
        ++depth;
    EXPECT_EQ(depth, 32);

    EXPECT_EQ(CMenuBuilder::ExpandMask("0-9"), "0123456789");
    EXPECT_EQ(CMenuBuilder::ExpandMask("1-3,*"), "123*");
    EXPECT_EQ(CMenuBuilder::ExpandMask("A-D #"), "ABCD#");
    EXPECT_EQ(CMenuBuilder::ExpandMask("-5"), "5");
    EXPECT_EQ(CMenuBuilder::ExpandMask("9-0"), "90");
    EXPECT_EQ(CMenuBuilder::ExpandMask("1,-3"), "123");
}

// The installation's own menus (data/IVR/English): in the owner's menus, above the PIN entry,
// a digit without a function is taken and does nothing. It neither cuts the owner's prompt
// nor counts toward a wrong PIN (thirty of them would be three wrong PINs and GoodBye), and
// the greeting menu does not hand a '9' on to the owner's voice mail.
TEST_F(MenuTest, ShippedOwnerMenusKeepDigitsWithoutAFunction) {
    std::string data = "Z:" ORVIN_DATA_DIR;
    for (char& c : data)
        c = c == '/' ? '\\' : c;
    FakeMenuHost shipped(data);
    shipped.pin = "1234";
    CMenuBuilder builder(shipped);
    std::unique_ptr<CVoiceMenu> entry(builder.Build(data, "EnterAM"));
    ASSERT_TRUE(entry);
    CVoiceMenu* owner = entry->GetSubMenu('S');
    ASSERT_NE(owner, nullptr);
    CVoiceMenu* greeting = owner->GetSubMenu('2');
    ASSERT_NE(greeting, nullptr);

    shipped.Start(entry.get());
    shipped.Keys("1234*");
    ASSERT_EQ(shipped.GetCurrentMenu(), owner);
    shipped.Tick(); // the owner's prompt plays
    const int plays = shipped.ring->nStartCalls;
    for (int i = 0; i < 5; ++i)
        shipped.Keys("045678");
    EXPECT_EQ(shipped.GetCurrentMenu(), owner);
    EXPECT_EQ(shipped.path.size(), 2u);
    EXPECT_EQ(shipped.ring->nStartCalls, plays) << "a stray digit cut the owner's prompt";
    EXPECT_EQ(shipped.Pushes(entry->GetSubMenu('F')), 0) << "stray digits counted as a wrong PIN";
    EXPECT_EQ(shipped.Pushes(shipped.GetGoodByeMenu()), 0);
    EXPECT_TRUE(shipped.reports.empty());

    shipped.Keys("2");
    ASSERT_EQ(shipped.GetCurrentMenu(), greeting);
    shipped.Tick();
    shipped.Keys("9045678");
    shipped.Tick();
    EXPECT_EQ(shipped.GetCurrentMenu(), greeting);
    EXPECT_TRUE(shipped.reports.empty()) << "the greeting menu handed a digit on";
    // The digits with a function still work: '*' back to the owner, '1' to the messages.
    shipped.Keys("*1");
    EXPECT_EQ(shipped.path[1], owner);
    EXPECT_EQ(shipped.Pushes(owner->GetSubMenu('1')), 1);
}

} // namespace
