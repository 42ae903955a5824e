// Where CTelTelApiWrapper finds TelTelAPI.DLL, with the stand-in's two builds (the whole
// library and the one lacking TelTel_RegisterIncmingCallCBV2, TelTel_AnswerOrCall,
// TelTel_Mute and TelTel_Unmute) put into a Windows folder of the test's own: WINDIR names
// it for this process only. This test program's own folder holds no library;
// TelTelOwnFolderTest.cpp runs from a folder that does.
#include "softphone/teltel/TelTelApiWrapper.h"
#include "tests/softphones/teltel/LibraryFolders.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

class TelTelLoadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_windows.Make()); }
    LibraryFolders m_windows;
};

TEST_F(TelTelLoadTest, System32ComesBeforeTheWindowsFolderAndMissingFunctionsAnswerMinusOne) {
    ASSERT_TRUE(m_windows.Put(kFullLibrary, "SYSTEM32"));
    ASSERT_TRUE(m_windows.Put(kLackingLibrary, ""));
    {
        CTelTelApiWrapper wrapper;
        ASSERT_NE(wrapper.Library(), nullptr);
        EXPECT_EQ(ModulePath(wrapper.Library()), m_windows.Path("SYSTEM32"));
        EXPECT_EQ(wrapper.Mute(), 1) << "the whole library";
    }
    ASSERT_TRUE(m_windows.Remove("SYSTEM32"));
    CTelTelApiWrapper wrapper;
    ASSERT_NE(wrapper.Library(), nullptr);
    EXPECT_EQ(ModulePath(wrapper.Library()), m_windows.Path(""));
    EXPECT_EQ(wrapper.Answer(), -1);
    EXPECT_EQ(wrapper.Call(), -1);
    EXPECT_EQ(wrapper.Mute(), -1);
    EXPECT_EQ(wrapper.UnMute(), -1);
    EXPECT_EQ(wrapper.Hangup(), 1) << "what the library has works";
    EXPECT_EQ(wrapper.BringToTop(), 1);
    EXPECT_EQ(wrapper.IsTelTelReady(), 0) << "no control program: not ready";
}

TEST_F(TelTelLoadTest, WithoutALibraryEveryFunctionAnswersMinusOne) {
    CTelTelApiWrapper wrapper;
    EXPECT_EQ(wrapper.Library(), nullptr);
    EXPECT_EQ(wrapper.LoadLibrary(), -1);
    EXPECT_EQ(wrapper.GetFunc("TelTel_Register"), nullptr);
    EXPECT_EQ(wrapper.Connect(), -1);
    EXPECT_EQ(wrapper.IsTelTelReady(), -1);
    EXPECT_EQ(wrapper.Answer(), -1);
    EXPECT_EQ(wrapper.RegAudioDevices("Orvin Virtual Audio Device"), -1);
    EXPECT_EQ(wrapper.Disconnect(), -1);
}

} // namespace
