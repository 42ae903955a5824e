// SetDialogText on a real window with a caption, a button and a static text, set through
// the translator loaded with the shipped German cabinet.
#include "base/translate/Translator.h"
#include "TranslateTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace translate_test;

namespace {

constexpr int kButton = 1001, kLabel = 1002;

std::string TextOf(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

class DialogTextTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_hDialog = CreateWindowExA(0, "STATIC", "Dialog", WS_POPUP | WS_CAPTION, 0, 0, 300, 200, nullptr,
                                    nullptr, nullptr, nullptr);
        ASSERT_NE(m_hDialog, nullptr) << "CreateWindowEx failed: " << GetLastError();
        ASSERT_NE(Control("BUTTON", "Button", kButton), nullptr);
        ASSERT_NE(Control("STATIC", "Label", kLabel), nullptr);
        if (!Exists(TestCabinet("shipped.cab"))) {
            GTEST_SKIP() << "the test cabinets were not made (gcab missing at build time)";
        }
        CopyFileA(TestCabinet("shipped.cab").c_str(), m_program.File("zuvoiplng.cab").c_str(), FALSE);
        CTranslator::Environment environment;
        environment.languageName = "German";
        environment.codePage = 1252;
        environment.windowsDirectory = m_windows.Path();
        environment.executableDirectory = m_program.Path();
        m_german.Load(environment);
    }
    void TearDown() override {
        if (m_hDialog) {
            DestroyWindow(m_hDialog);
        }
    }
    HWND Control(const char* windowClass, const char* text, int id) {
        return CreateWindowExA(0, windowClass, text, WS_CHILD | WS_VISIBLE, 10, 10, 100, 20, m_hDialog,
                               reinterpret_cast<HMENU>(INT_PTR(id)), nullptr, nullptr);
    }
    HWND Item(int id) { return GetDlgItem(m_hDialog, id); }

    HWND m_hDialog = nullptr;
    TempFolder m_windows{"dialog-windows"}, m_program{"dialog-program"};
    CTranslator m_german;
};

TEST_F(DialogTextTest, AControlByNumberAndTheDialogItself) {
    EXPECT_TRUE(m_german.SetDialogText(m_hDialog, kButton, 32));
    EXPECT_EQ(TextOf(Item(kButton)), "B&eenden");
    EXPECT_TRUE(m_german.SetDialogText(m_hDialog, -1, 50, nullptr, " OrvinAgent"));
    EXPECT_EQ(TextOf(m_hDialog), "Info OrvinAgent");
}

TEST_F(DialogTextTest, ByEnglishTextWithASuffix) {
    EXPECT_TRUE(m_german.SetDialogText(m_hDialog, kLabel, 0, "Connected", ":"));
    EXPECT_EQ(TextOf(Item(kLabel)), "Verbunden:");
    // The English text decides, whatever the number says.
    EXPECT_TRUE(m_german.SetDialogText(m_hDialog, kLabel, 32, "Disconnected"));
    EXPECT_EQ(TextOf(Item(kLabel)), "Getrennt");
}

TEST_F(DialogTextTest, NothingChangesForTextsNotInTheTable) {
    EXPECT_FALSE(m_german.SetDialogText(m_hDialog, kButton, 0, "Not in the table", ":"));
    EXPECT_FALSE(m_german.SetDialogText(m_hDialog, kButton, 33));
    EXPECT_EQ(TextOf(Item(kButton)), "Button");
    EXPECT_FALSE(m_german.SetDialogText(m_hDialog, 4242, 32));
    EXPECT_FALSE(m_german.SetDialogText(nullptr, kButton, 32));
}

TEST_F(DialogTextTest, WithoutATranslationTheEnglishText) {
    CTranslator english;
    EXPECT_TRUE(english.SetDialogText(m_hDialog, kButton, 51, nullptr, "..."));
    EXPECT_EQ(TextOf(Item(kButton)), "&Configure...");
}

} // namespace
