// The translator loaded for a given language, with folders of the test's own standing for
// the Windows directory, the installation folder, the program's folder and the current
// directory, and a registry root of its own. The file names, registry names and texts are
// the installation's, written out.
#include "base/translate/Translator.h"
#include "TranslateTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace translate_test;

namespace {

const char* const kSwitchKey = "HostBasedModemData\\AdditionalService\\General";
const std::string kSchliessen = "Schlie\xDF"
                                "en";

class TranslatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Exists(TestCabinet("shipped.cab"))) {
            GTEST_SKIP() << "the test cabinets were not made (gcab missing at build time)";
        }
    }
    CTranslator::Environment Env(const char* language = "German", unsigned codePage = 1252) {
        CTranslator::Environment environment;
        environment.registryRoot = m_root.Path();
        environment.languageName = language;
        environment.codePage = codePage;
        environment.currentDirectory = m_current.Path();
        environment.windowsDirectory = m_windows.Path();
        environment.executableDirectory = m_program.Path();
        return environment;
    }
    // A cabinet in the installation folder, as the registry names it.
    void Install(const char* cabinet = "shipped.cab") {
        ASSERT_TRUE(CopyFileA(TestCabinet(cabinet).c_str(), m_install.File("zuvoiplng.cab").c_str(), FALSE));
        ASSERT_TRUE(m_root.SetText("", "SoftwareInstallationFolder", m_install.Path()));
    }
    std::string Load(const CTranslator::Environment& environment, int number) {
        m_translator.Load(environment);
        return Text(number);
    }
    std::string Text(int number) {
        std::string text = "(untouched)";
        m_translator.GetTranslatedString(number, text);
        return text;
    }
    std::string WindowsFile(const char* name = "zuvoip.lng") { return ReadBytes(m_windows.File(name)); }

    TempFolder m_windows{"windows"}, m_install{"install"}, m_program{"program"}, m_current{"current"};
    TestRegistryRoot m_root;
    CTranslator m_translator;
};

TEST_F(TranslatorTest, TheBuiltInEnglishTable) {
    const std::pair<int, const char*> table[] = {
        {32, "E&xit"},
        {36, "Press these keys during a call to conference a VoIP and regular calls"},
        {37, "Skype connected"},
        {38, "Skype disconnected"},
        {39, "Adaptor connected"},
        {40, "Adaptor disconnected"},
        {41, "Line and phone cables are reversed!"},
        {42, "Failed to run OrvinMonitor"},
        {47, "Close"},
        {68, "Quit"},
        {52, "Zuzerude DoDE Dozavor"},
        {48, "Copyright"},
        {49, "Version"},
        {50, "About"},
        {51, "&Configure"},
        {66, "Connected"},
        {67, "Disconnected"},
        {83, "Your Skype version is old, please update Skype version"},
        {91, "Active session - power state change request denied!"},
        {142, "Device Not Present"},
    };
    for (const auto& [number, english] : table) {
        char buffer[512];
        EXPECT_EQ(m_translator.Translate(number, buffer, sizeof buffer), 0) << number;
        EXPECT_STREQ(buffer, english);
        EXPECT_EQ(m_translator.NumberOfText(english), number);
    }
    EXPECT_EQ(m_translator.NumberOfText("close"), 156);
    EXPECT_EQ(m_translator.NumberOfText("Not in the table"), 156);
    EXPECT_EQ(m_translator.NumberOfText(nullptr), 156);
}

TEST_F(TranslatorTest, NoTextForAnUnknownNumberOrATooSmallBuffer) {
    char buffer[16];
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(m_translator.Translate(33, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(m_translator.Translate(47, buffer, 5), 0); // "Close" needs 6
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(m_translator.Translate(47, buffer, 6), 0);
    EXPECT_STREQ(buffer, "Close");
    std::string text = "kept?";
    EXPECT_EQ(m_translator.GetTranslatedString(156, text), 0);
    EXPECT_EQ(text, "");
}

TEST_F(TranslatorTest, AnEnglishSystemLeavesFilesAndCabinetAlone) {
    Install();
    const std::string chinese = "English1252=Chinese936\r\nClose=Guanbi\r\n";
    WriteBytes(m_windows.File("zuvoip.lng"), chinese);
    EXPECT_EQ(Load(Env("English", 1252), 47), "Close");
    EXPECT_EQ(WindowsFile(), chinese);
    EXPECT_FALSE(Exists(m_windows.File("German1252.txt")));
    EXPECT_EQ(m_translator.LanguageKey(), "");
}

TEST_F(TranslatorTest, GermanFromTheInstallationCabinetCoversEveryText) {
    Install();
    EXPECT_EQ(Load(Env(), 32), "B&eenden");
    EXPECT_EQ(Text(47), kSchliessen);
    EXPECT_EQ(Text(142), "Ger\xE4t nicht vorhanden");
    EXPECT_EQ(m_translator.LanguageKey(), "German1252");
    EXPECT_EQ(WindowsFile().substr(0, 24), "English1252=German1252\r\n");
    EXPECT_FALSE(Exists(m_windows.File("German1252.txt")));
    EXPECT_TRUE(Exists(m_install.File("zuvoiplng.cab")));
    // Every text has its translation, but those the file marks ";" stay English.
    for (int number : {32, 36, 37, 38, 39, 40, 41, 42, 47, 68, 52, 48, 49, 50, 51, 66, 67, 83, 91, 142}) {
        char buffer[512];
        const bool marked = number == 52 || number == 48 || number == 49;
        EXPECT_EQ(m_translator.Translate(number, buffer, sizeof buffer), marked ? 0 : 1) << number;
        EXPECT_EQ(m_translator.LastFoundNumber(), number);
    }
    EXPECT_EQ(Text(49), "Version");
    EXPECT_EQ(Text(52), "Zuzerude DoDE Dozavor");
}

TEST_F(TranslatorTest, AFileForAnotherLanguageIsReplaced) {
    Install();
    WriteBytes(m_windows.File("zuvoip.lng"), "English1252=Chinese936\r\nClose=Guanbi\r\n");
    EXPECT_EQ(Load(Env(), 47), kSchliessen);
    EXPECT_EQ(WindowsFile().substr(0, 24), "English1252=German1252\r\n");
}

TEST_F(TranslatorTest, AFileForThisLanguageIsUsedAsItIs) {
    Install();
    WriteBytes(m_windows.File("zuvoip.lng"), "English1252=German1252\r\nCLOSE=Zumachen\r\nclose=Zweites\r\n");
    // The English text is found without regard to case; the first line that has it counts.
    EXPECT_EQ(Load(Env(), 47), "Zumachen");
    EXPECT_EQ(Text(68), "Quit");
}

TEST_F(TranslatorTest, TheCurrentDirectoryComesFirst) {
    WriteBytes(m_current.File("zuvoip.lng"), "English1252=German1252\r\nClose=Hier zu\r\n");
    WriteBytes(m_windows.File("zuvoip.lng"), "English1252=German1252\r\nClose=Dort zu\r\n");
    EXPECT_EQ(Load(Env(), 47), "Hier zu");
}

// The replacement is made in the Windows directory, and that is the file read.
TEST_F(TranslatorTest, ACurrentDirectoryFileForAnotherLanguageGivesWayToTheCabinet) {
    Install();
    WriteBytes(m_current.File("zuvoip.lng"), "English1252=Chinese936\r\nClose=Guanbi\r\n");
    WriteBytes(m_windows.File("zuvoip.lng"), "English1252=French1252\r\nClose=Fermer\r\n");
    EXPECT_EQ(Load(Env(), 47), kSchliessen);
    EXPECT_FALSE(Exists(m_current.File("zuvoip.lng")));
    EXPECT_EQ(WindowsFile().substr(0, 24), "English1252=German1252\r\n");
}

TEST_F(TranslatorTest, WithoutOneInTheInstallationFolderTheCabinetBesideTheProgram) {
    ASSERT_TRUE(m_root.SetText("", "SoftwareInstallationFolder", m_install.Path()));
    CopyFileA(TestCabinet("several.cab").c_str(), m_program.File("zuvoiplng.cab").c_str(), FALSE);
    EXPECT_EQ(Load(Env(), 47), "Zu (mehrteilig)");
}

TEST_F(TranslatorTest, TheWindowsDirectoryCabinetServesOnceAndGoes) {
    Install("chinese.cab"); // no German member
    CopyFileA(TestCabinet("several.cab").c_str(), m_windows.File("zuvoiplng.cab").c_str(), FALSE);
    EXPECT_EQ(Load(Env(), 68), "Ende");
    EXPECT_FALSE(Exists(m_windows.File("zuvoiplng.cab")));
    EXPECT_TRUE(Exists(m_install.File("zuvoiplng.cab")));
}

TEST_F(TranslatorTest, AChineseSystemTakesItsOwnMember) {
    Install("several.cab");
    EXPECT_EQ(Load(Env("Chinese (Simplified)", 936), 47), "Guanbi");
    EXPECT_EQ(m_translator.LanguageKey(), "Chinese936");
}

TEST_F(TranslatorTest, MissingOrDamagedCabinetsKeepEnglish) {
    const std::string shipped = ReadBytes(TestCabinet("shipped.cab"));
    const std::pair<const char*, std::string> cases[] = {
        {"no cabinet", ""},
        {"cut short", shipped.substr(0, shipped.size() / 2)},
        {"text", "English1252=German1252\r\nClose=Zu\r\n"},
        {"no German member", ReadBytes(TestCabinet("chinese.cab"))},
        {"member for another language", ReadBytes(TestCabinet("mislabel.cab"))},
    };
    for (const auto& [name, bytes] : cases) {
        CTranslator translator;
        if (!bytes.empty()) {
            WriteBytes(m_install.File("zuvoiplng.cab"), bytes);
            m_root.SetText("", "SoftwareInstallationFolder", m_install.Path());
        }
        translator.Load(Env());
        std::string text;
        EXPECT_EQ(translator.GetTranslatedString(47, text), 1) << name;
        EXPECT_EQ(text, "Close") << name;
        EXPECT_FALSE(Exists(m_windows.File("zuvoip.lng"))) << name;
        EXPECT_FALSE(Exists(m_windows.File("German1252.txt"))) << name;
    }
}

TEST_F(TranslatorTest, TheTranslationSwitch) {
    Install();
    ASSERT_TRUE(m_root.SetDword(kSwitchKey, "DisableTranslation", 1));
    EXPECT_EQ(Load(Env(), 47), "Close");
    EXPECT_TRUE(m_translator.IsTranslationDisabled());
    EXPECT_GT(m_translator.PairCount(), 0u); // loaded all the same

    // A root given with a trailing separator names the same key.
    CTranslator again;
    CTranslator::Environment environment = Env();
    environment.registryRoot += "\\";
    again.Load(environment);
    EXPECT_TRUE(again.IsTranslationDisabled());

    ASSERT_TRUE(m_root.SetDword(kSwitchKey, "DisableTranslation", 0));
    CTranslator enabled;
    enabled.Load(Env());
    EXPECT_FALSE(enabled.IsTranslationDisabled());
}

TEST_F(TranslatorTest, ASwitchOfAnotherTypeIsIgnored) {
    Install();
    // Four bytes each, as many as a DWORD has.
    ASSERT_TRUE(m_root.SetText(kSwitchKey, "DisableTranslation", "yes"));
    EXPECT_EQ(Load(Env(), 47), kSchliessen);
    const BYTE four[4] = {1, 0, 0, 0};
    ASSERT_TRUE(m_root.Set(kSwitchKey, "DisableTranslation", REG_BINARY, four, sizeof four));
    CTranslator translator;
    translator.Load(Env());
    EXPECT_FALSE(translator.IsTranslationDisabled());
}

TEST_F(TranslatorTest, AnInstallationFolderOfTheWrongTypeOrSizeIsIgnored) {
    CopyFileA(TestCabinet("several.cab").c_str(), m_program.File("zuvoiplng.cab").c_str(), FALSE);
    CopyFileA(TestCabinet("shipped.cab").c_str(), m_install.File("zuvoiplng.cab").c_str(), FALSE);
    // The folder's name, but as bytes, not as a text.
    const std::string folder = m_install.Path();
    ASSERT_TRUE(
        m_root.Set("", "SoftwareInstallationFolder", REG_BINARY, folder.data(), DWORD(folder.size())));
    EXPECT_EQ(Load(Env(), 47), "Zu (mehrteilig)");

    DeleteFileA(m_windows.File("zuvoip.lng").c_str());
    ASSERT_TRUE(m_root.SetText("", "SoftwareInstallationFolder", m_install.Path() + std::string(300, '\\')));
    CTranslator translator;
    translator.Load(Env());
    std::string text;
    translator.GetTranslatedString(47, text);
    EXPECT_EQ(text, "Zu (mehrteilig)");
}

// Each pair is read from its own line: a broken line, an empty translation or an over-long
// one costs that line only, and the lines after it keep their meaning.
TEST_F(TranslatorTest, BrokenLinesCostOnlyThemselves) {
    WriteBytes(m_windows.File("zuvoip.lng"), "English1252=German1252\r\n"
                                             "E&xit=\r\n"
                                             "Quit=Beenden\r\n"
                                             "no equals sign here\r\n"
                                             "Close=" +
                                                 std::string(600, 'x') +
                                                 "\r\n"
                                                 "Connected=Verbunden\r\n"
                                                 "About");
    EXPECT_EQ(Load(Env(), 32), "E&xit");
    EXPECT_EQ(Text(68), "Beenden");
    EXPECT_EQ(Text(47), "Close");
    EXPECT_EQ(Text(66), "Verbunden");
    EXPECT_EQ(Text(50), "About");
}

TEST_F(TranslatorTest, AnOversizedFileIsNotRead) {
    std::string text = "English1252=German1252\r\nClose=Zu\r\n";
    while (text.size() <= 1024 * 1024) {
        text += "Padding=" + std::string(500, 'p') + "\r\n";
    }
    WriteBytes(m_windows.File("zuvoip.lng"), text);
    EXPECT_EQ(Load(Env(), 47), "Close");
    EXPECT_EQ(m_translator.PairCount(), 0u);
}

} // namespace
