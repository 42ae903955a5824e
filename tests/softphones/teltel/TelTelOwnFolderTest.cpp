// This program runs from a folder that holds the whole stand-in TelTelAPI.DLL (copied
// there by the build): the agent's own folder comes before SYSTEM32 and the Windows folder,
// which hold the lacking build here.
#include "softphone/teltel/TelTelApiWrapper.h"
#include "tests/softphones/teltel/LibraryFolders.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

TEST(TelTelOwnFolderTest, TheProgramsOwnFolderComesFirst) {
    LibraryFolders windows;
    ASSERT_TRUE(windows.Make());
    ASSERT_TRUE(windows.Put(kLackingLibrary, "SYSTEM32"));
    ASSERT_TRUE(windows.Put(kLackingLibrary, ""));
    char program[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, program, sizeof program - 1);
    std::string own = program;
    own = own.substr(0, own.find_last_of('\\') + 1) + "TelTelAPI.DLL";

    CTelTelApiWrapper wrapper;
    ASSERT_NE(wrapper.Library(), nullptr);
    EXPECT_EQ(ModulePath(wrapper.Library()), own);
    EXPECT_EQ(wrapper.Mute(), 1) << "the whole library, not the lacking one";
}

} // namespace
