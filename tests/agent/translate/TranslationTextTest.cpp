// The translator's texts without the system: the language key, the first line, and the
// reading of a translation file's lines, broken ones included.
#include "base/translate/TranslationText.h"

#include <gtest/gtest.h>

#include <string>

using namespace orvin;
using namespace std::string_literals;

namespace {

std::string Key(const char* name, unsigned codePage) {
    std::string key = "marker";
    return MakeLanguageKey(name, codePage, key) ? key : "(none:" + key + ")";
}

TranslationPairs Parse(const std::string& text) {
    return ParseTranslationText(text.data(), text.size());
}

TEST(LanguageKey, NameAndCodePage) {
    EXPECT_EQ(Key("German", 1252), "German1252");
    EXPECT_EQ(Key("Chinese (Simplified)", 936), "Chinese936");
    EXPECT_EQ(Key("Chinese (PRC)", 936), "Chinese936");
    EXPECT_EQ(Key("Traditional Chinese", 950), "Chinese950");
    EXPECT_EQ(Key("Serbian (Latin)", 1250), "Serbian1250");
    // Only one blank before the bracket goes.
    EXPECT_EQ(Key("Odd  (Name)", 1252), "Odd 1252");
}

TEST(LanguageKey, EnglishWithCodePage1252HasNone) {
    EXPECT_EQ(Key("English", 1252), "(none:)");
    EXPECT_EQ(Key("ENGLISH", 1252), "(none:)");
    // English on another code page is a language of its own.
    EXPECT_EQ(Key("English", 1250), "English1250");
}

TEST(LanguageKey, NamesThatCannotNameAFileHaveNone) {
    EXPECT_EQ(Key("", 1252), "(none:)");
    EXPECT_EQ(Key(nullptr, 1252), "(none:)");
    EXPECT_EQ(Key("(Nothing)", 1252), "(none:)");
    EXPECT_EQ(Key("..\\..\\Evil", 1252), "(none:)");
    EXPECT_EQ(Key("A/B", 1252), "(none:)");
}

TEST(FirstLine, UpTo63CharactersWithoutTheLineEnd) {
    std::string line;
    const std::string text = "English1252=German1252\r\nClose=Schliessen\r\n";
    ASSERT_TRUE(FirstLineOf(text.data(), text.size(), line));
    EXPECT_EQ(line, "English1252=German1252");
    EXPECT_EQ(ExpectedFirstLine("German1252"), "English1252=German1252");

    const std::string longest(63, 'x');
    ASSERT_TRUE(FirstLineOf((longest + "\n").data(), 64, line));
    EXPECT_EQ(line, longest);
    // A longer first line is none we compare: reading stops at 63 characters.
    const std::string tooLong(64, 'x');
    EXPECT_FALSE(FirstLineOf(tooLong.data(), tooLong.size(), line));
    // The bytes given are all there is: no terminator needed, none read beyond.
    ASSERT_TRUE(FirstLineOf("English1252=Chinese936XXXX", 22, line));
    EXPECT_EQ(line, "English1252=Chinese936");
}

TEST(TranslationFile, PairsInOrderWithTheFirstLineAsAPair) {
    TranslationPairs pairs = Parse("English1252=German1252\r\nClose=Schliessen\r\n\r\nQuit=Beenden");
    ASSERT_EQ(pairs.keys.size(), 3u);
    ASSERT_EQ(pairs.values.size(), 3u);
    EXPECT_EQ(pairs.keys[0], "English1252");
    EXPECT_EQ(pairs.values[0], "German1252");
    EXPECT_EQ(pairs.keys[1], "Close");
    EXPECT_EQ(pairs.values[1], "Schliessen");
    EXPECT_EQ(pairs.keys[2], "Quit");
    EXPECT_EQ(pairs.values[2], "Beenden");
    EXPECT_TRUE(pairs.refused.empty());
}

TEST(TranslationFile, SemicolonOrNothingMeansNoTranslation) {
    TranslationPairs pairs = Parse("Version=;\nAbout=\nClose=;egal\n");
    ASSERT_EQ(pairs.keys.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pairs.values[i], pairs.keys[i]);
        EXPECT_FALSE(pairs.translated[i]);
    }
}

TEST(TranslationFile, ABrokenLineCostsOnlyItself) {
    TranslationPairs pairs = Parse("English1252=German1252\n"
                                   "this line has no equals sign\n"
                                   "=no English text\n"
                                   "Close=Schlie\0en\n"
                                   "Quit=Beenden\n"
                                   "About=Info = Hilfe\n"s);
    ASSERT_EQ(pairs.keys.size(), 3u);
    EXPECT_EQ(pairs.keys[1], "Quit");
    EXPECT_EQ(pairs.values[1], "Beenden");
    // Only the first "=" divides.
    EXPECT_EQ(pairs.keys[2], "About");
    EXPECT_EQ(pairs.values[2], "Info = Hilfe");
    ASSERT_EQ(pairs.refused.size(), 3u);
    EXPECT_EQ(pairs.refused[0].line, 2);
    EXPECT_EQ(pairs.refused[1].line, 3);
    EXPECT_EQ(pairs.refused[2].line, 4);
}

TEST(TranslationFile, TextsOver511CharactersAreRefused) {
    const std::string fits(511, 'a'), tooLong(512, 'b');
    TranslationPairs pairs =
        Parse("Close=" + fits + "\r\nQuit=" + tooLong + "\r\n" + tooLong + "=x\r\nAbout=Info");
    ASSERT_EQ(pairs.keys.size(), 2u);
    EXPECT_EQ(pairs.values[0], fits);
    EXPECT_EQ(pairs.keys[1], "About");
    ASSERT_EQ(pairs.refused.size(), 2u);
    EXPECT_EQ(pairs.refused[0].line, 2);
    EXPECT_EQ(pairs.refused[1].line, 3);
}

TEST(TranslationFile, ReadsOnlyTheBytesGiven) {
    const std::string text = "Close=Zu\r\nQuit=Beenden";
    // Cut inside the second line: what is there is a line of its own.
    TranslationPairs pairs = ParseTranslationText(text.data(), 14);
    ASSERT_EQ(pairs.keys.size(), 1u);
    EXPECT_EQ(pairs.refused.size(), 1u);
    EXPECT_TRUE(ParseTranslationText(nullptr, 10).keys.empty());
}

} // namespace
