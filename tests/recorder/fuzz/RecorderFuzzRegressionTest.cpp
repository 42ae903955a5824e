// Inputs the recorder interface fuzzer found faults with, kept as they were found: an
// interface that sends its next command as soon as it is told that a recording started or
// stopped, before the dialog's send of that notification returns.
#include "RecorderInterfaceRig.h"

#include <gtest/gtest.h>

using namespace recorder_fuzz;

namespace {

// A stop that arrives while the stop is being told found the file still open: the
// interface heard "stopped" twice.
TEST(RecorderFuzzRegression, AStopAnsweringTheStopNotificationIsToldOnce) {
    InterfaceRig rig("RecRegStop");
    ASSERT_TRUE(rig.Start());
    HWND gui = rig.windows[0]->hWnd;
    rig.windows[0]->onNotification = [&](LPARAM what) {
        if (what == 2) {
            SendMessageA(rig.Dialog(), rig.message, 2, (LPARAM)gui);
        }
    };
    ASSERT_EQ(SendMessageA(rig.Dialog(), rig.message, 4, (LPARAM)gui), 0); // alive
    ASSERT_EQ(SendMessageA(rig.Dialog(), rig.message, 1, (LPARAM)gui), 1); // start
    ASSERT_EQ(SendMessageA(rig.Dialog(), rig.message, 2, (LPARAM)gui), 1); // stop
    EXPECT_EQ(rig.windows[0]->started, 1);
    EXPECT_EQ(rig.windows[0]->stopped, 1) << "one recording, one stop";
    EXPECT_EQ(rig.client.told, (std::vector<int>{8, 9, 9}));
    EXPECT_FALSE(rig.dialog->IsCallRecording());
}

// A start that arrives while the stop is being told found the old file still open and was
// refused: the interface asked for a new recording and got none.
TEST(RecorderFuzzRegression, AStartAnsweringTheStopNotificationStartsANewRecording) {
    InterfaceRig rig("RecRegRestart");
    ASSERT_TRUE(rig.Start());
    HWND gui = rig.windows[0]->hWnd;
    bool again = true;
    rig.windows[0]->onNotification = [&](LPARAM what) {
        if (what == 2 && again) {
            again = false;
            EXPECT_EQ(SendMessageA(rig.Dialog(), rig.message, 1, (LPARAM)gui), 1);
        }
    };
    ASSERT_EQ(SendMessageA(rig.Dialog(), rig.message, 4, (LPARAM)gui), 0);
    ASSERT_EQ(SendMessageA(rig.Dialog(), rig.message, 1, (LPARAM)gui), 1);
    const std::string first = rig.dialog->CallRecorder()->CurrentFile();
    ASSERT_EQ(SendMessageA(rig.Dialog(), rig.message, 2, (LPARAM)gui), 1);
    EXPECT_TRUE(rig.dialog->IsCallRecording()) << "the start inside the notification was refused";
    EXPECT_NE(rig.dialog->CallRecorder()->CurrentFile(), first) << "a new file";
    EXPECT_EQ(rig.windows[0]->started, 2);
    EXPECT_EQ(rig.windows[0]->stopped, 1);
    EXPECT_EQ(SendMessageA(rig.Dialog(), rig.message, 32, (LPARAM)gui), 1) << "recording, says the query";
}

// A stop that arrives while the start is being told finished the file, and the start then
// went on and set the recording flag: "recording" without a file.
TEST(RecorderFuzzRegression, AStopAnsweringTheStartNotificationLeavesNoRecording) {
    InterfaceRig rig("RecRegStart");
    ASSERT_TRUE(rig.Start());
    HWND gui = rig.windows[0]->hWnd;
    rig.windows[0]->onNotification = [&](LPARAM what) {
        if (what == 1) {
            SendMessageA(rig.Dialog(), rig.message, 2, (LPARAM)gui);
        }
    };
    ASSERT_EQ(SendMessageA(rig.Dialog(), rig.message, 4, (LPARAM)gui), 0);
    ASSERT_EQ(SendMessageA(rig.Dialog(), rig.message, 1, (LPARAM)gui), 1);
    EXPECT_FALSE(rig.dialog->IsCallRecording()) << "recording without a file";
    EXPECT_EQ(SendMessageA(rig.Dialog(), rig.message, 32, (LPARAM)gui), 0) << "the query";
    EXPECT_EQ(rig.windows[0]->started, 1);
    EXPECT_EQ(rig.windows[0]->stopped, 1);
}

} // namespace
