// One member out of a cabinet through the system's cabinet API, with cabinets made by gcab
// and damaged copies of them. Whatever the damage: an error with its cabinet text, and no
// part of a member left behind.
#include "base/translate/CabinetExtract.h"
#include "TranslateTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using namespace orvin;
using namespace translate_test;
using ::testing::AnyOf;

namespace {

class CabinetTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_shipped = ReadBytes(TestCabinet("shipped.cab"));
        if (m_shipped.size() < 100) {
            GTEST_SKIP() << "the test cabinets were not made (gcab missing at build time)";
        }
    }
    // Extracts "German1252.txt" from a cabinet with the given bytes.
    CabinetExtraction FromBytes(const std::string& bytes, size_t limit = 1 << 20) {
        WriteBytes(m_folder.File("damaged.cab"), bytes);
        return ExtractCabinetMember(m_folder.File("damaged.cab"), "German1252.txt", Target(), limit);
    }
    std::string Target() const { return m_folder.File("German1252.txt"); }

    TempFolder m_folder{"cab"};
    std::string m_shipped;
};

TEST_F(CabinetTest, TheShippedCabinetHoldsTheGermanFileInCodePage1252) {
    CabinetExtraction result =
        ExtractCabinetMember(TestCabinet("shipped.cab"), "German1252.txt", Target(), 1 << 20);
    ASSERT_TRUE(result.ok) << result.error;
    const std::string text = ReadBytes(Target());
    EXPECT_EQ(text.substr(0, 40), "English1252=German1252\r\nE&xit=B&eenden\r\n");
    EXPECT_NE(text.find("\r\nClose=Schlie\xDF"
                        "en\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\nDevice Not Present=Ger\xE4t nicht vorhanden\r\n"), std::string::npos);
}

TEST_F(CabinetTest, StoredMembersAndNamesWithoutRegardToCase) {
    CabinetExtraction result =
        ExtractCabinetMember(TestCabinet("several.cab"), "german1252.TXT", Target(), 1 << 20);
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(ReadBytes(Target()), "English1252=German1252\r\nClose=Zu (mehrteilig)\r\nQuit=Ende\r\n");
}

TEST_F(CabinetTest, AMemberNotThereIsAnErrorAndNoFile) {
    CabinetExtraction result =
        ExtractCabinetMember(TestCabinet("chinese.cab"), "German1252.txt", Target(), 1 << 20);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "member not in cabinet");
    EXPECT_FALSE(Exists(Target()));
}

TEST_F(CabinetTest, AMemberOverTheLimitIsRefused) {
    CabinetExtraction result =
        ExtractCabinetMember(TestCabinet("shipped.cab"), "German1252.txt", Target(), 100);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find("member larger than 100 bytes"), std::string::npos) << result.error;
    EXPECT_FALSE(Exists(Target()));
}

TEST_F(CabinetTest, ErrorTexts) {
    const char* const texts[] = {"No error",
                                 "Cabinet not found",
                                 "Not a cabinet",
                                 "Unknown cabinet version",
                                 "Corrupt cabinet",
                                 "Memory allocation failed",
                                 "Unknown compression type",
                                 "Failure decompressing data",
                                 "Failure writing to target file",
                                 "Cabinets in set have different RESERVE sizes",
                                 "Cabinet returned on fdintNEXT_CABINET is incorrect",
                                 "User aborted"};
    for (int i = 0; i < 12; ++i) {
        EXPECT_STREQ(CabinetErrorText(i), texts[i]) << i;
    }
    EXPECT_STREQ(CabinetErrorText(12), "Unknown error");
    EXPECT_STREQ(CabinetErrorText(-1), "Unknown error");
}

TEST_F(CabinetTest, MissingEmptyAndForeignFiles) {
    CabinetExtraction result =
        ExtractCabinetMember(m_folder.File("nowhere.cab"), "German1252.txt", Target(), 1 << 20);
    EXPECT_EQ(result.error, "Cabinet not found");
    EXPECT_EQ(result.fdiError, 1);
    EXPECT_EQ(FromBytes("").error, "Not a cabinet");
    EXPECT_EQ(FromBytes("English1252=German1252\r\nClose=Zu\r\n").error, "Not a cabinet");
    EXPECT_FALSE(Exists(Target()));
}

TEST_F(CabinetTest, DamagedHeaders) {
    std::string bytes = m_shipped;
    bytes[25] = 2; // versionMajor: 1.3 becomes 2.3
    EXPECT_EQ(FromBytes(bytes).error, "Unknown cabinet version");

    bytes = m_shipped;
    bytes[42] = 0x04; // the folder's compression type: none of the four known
    // Windows names the type; Wine's cabinet API calls the cabinet corrupt.
    EXPECT_THAT(FromBytes(bytes).error, AnyOf("Unknown compression type", "Corrupt cabinet"));
    EXPECT_FALSE(Exists(Target()));
}

// Cut anywhere, the cabinet fails; what was written of the member goes.
TEST_F(CabinetTest, TruncatedCabinetsFailWithoutLeavingAFile) {
    for (size_t length : {8u, 36u, 44u, 60u, 80u, 100u, 200u, 400u, 600u}) {
        ASSERT_LT(length, m_shipped.size());
        CabinetExtraction result = FromBytes(m_shipped.substr(0, length));
        EXPECT_FALSE(result.ok) << length;
        EXPECT_FALSE(result.error.empty()) << length;
        EXPECT_FALSE(Exists(Target())) << length;
    }
}

// Garbage in the compressed data: an error, or a member that is as long as the cabinet
// says; never more, never a crash.
TEST_F(CabinetTest, ScrambledDataNeverGivesMoreThanTheMember) {
    ASSERT_TRUE(FromBytes(m_shipped).ok);
    const size_t memberSize = ReadBytes(Target()).size();
    for (size_t offset = 100; offset < m_shipped.size(); offset += 37) {
        std::string bytes = m_shipped;
        for (size_t i = offset; i < offset + 8 && i < bytes.size(); ++i) {
            bytes[i] = char(bytes[i] ^ 0x5A);
        }
        CabinetExtraction result = FromBytes(bytes);
        if (result.ok) {
            EXPECT_LE(ReadBytes(Target()).size(), memberSize) << offset;
        } else {
            EXPECT_FALSE(Exists(Target())) << offset;
        }
        DeleteFileA(Target().c_str());
    }
}

} // namespace
