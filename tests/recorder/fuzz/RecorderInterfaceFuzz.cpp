// The recorder interface's registered message "ORVIN_RECORDER_INTERFACE_MESSAGE" to the main
// dialog, fuzzed: random commands (the five it knows, others, any 64-bit value) with random
// windows (two interface windows of the test, none, the dialog itself, a window that is
// gone, numbers that are no window), between the dialog's recorder polls. A model of the
// documented commands predicts every answer, the interface window the dialog keeps, the
// recording state, the statuses the service is told and the start and stop notifications
// each interface window gets. The interface windows may also answer a notification with a
// command of their own, before the dialog's send returns.
#include "RecorderInterfaceRig.h"
#include "tests/lib/fuzz/Fuzz.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

using namespace recorder_fuzz;

namespace {

// What the commands must do, as documented.
struct InterfaceModel {
    bool recording = false;
    HWND gui = nullptr;
    bool guiKnown = false; // the recorder has the message to notify with
    std::vector<int> told;
    int started[2] = {}, stopped[2] = {};
};

struct InterfaceRun {
    size_t commands = 0, known = 0, nested = 0, polls = 0;
};

void FuzzInterface(const char* name, int answerPercent, size_t ownCases) {
    FuzzRandom r = FuzzStream(name);
    FuzzBudget budget(ownCases);
    InterfaceRig rig(answerPercent ? "RecIfFuzzA" : "RecIfFuzz");
    ASSERT_TRUE(rig.Start()) << "the main dialog was not made";
    InterfaceModel model;
    InterfaceRun run;
    FuzzWatchdog watchdog;
    int depth = 0;

    auto windowIndex = [&](HWND window) {
        return window == rig.windows[0]->hWnd ? 0 : window == rig.windows[1]->hWnd ? 1 : -1;
    };
    auto pickWindow = [&]() -> LPARAM {
        const uint32_t roll = r.Below(100);
        if (roll < 40) {
            return (LPARAM)rig.windows[0]->hWnd;
        }
        if (roll < 70) {
            return (LPARAM)rig.windows[1]->hWnd;
        }
        if (roll < 80) {
            return 0;
        }
        if (roll < 85) {
            return (LPARAM)rig.Dialog();
        }
        if (roll < 90) {
            return (LPARAM)rig.goneWindow;
        }
        // Numbers that are no window (not the broadcast handle: the dialog would notify
        // every window of the desktop).
        return (LPARAM)(r.Percent(50) ? 0xDEAD0000u + r.Below(0x10000) : (uint64_t)r.Next() | 0x100000000ull);
    };
    auto pickCommand = [&]() -> WPARAM {
        static const WPARAM kKnown[] = {kStart, kStop, kAlive, kSettings, kQuery, kStart, kStop, kQuery};
        static const WPARAM kOthers[] = {0,  3,  5,     kNotification, 17,
                                         33, 64, 0x101, (WPARAM)-1,    0x100000001ull};
        const uint32_t roll = r.Below(100);
        return roll < 85 ? r.Pick(kKnown) : roll < 95 ? r.Pick(kOthers) : (WPARAM)r.Next();
    };

    // One command to the dialog, the model following it first: a notification it causes
    // may bring the next command before this one's send returns.
    std::function<void(WPARAM, LPARAM)> send = [&](WPARAM command, LPARAM window) {
        ++run.commands;
        LRESULT expected = 0;
        switch (command) {
        case kStart:
            expected = 1;
            if (!model.recording) {
                model.recording = true;
                model.told.push_back(8);
                const int index = windowIndex(model.gui);
                if (model.guiKnown && index >= 0) {
                    ++model.started[index];
                }
            }
            break;
        case kStop:
            expected = 1;
            model.told.push_back(9);
            if (model.recording) {
                model.recording = false;
                const int index = windowIndex(model.gui);
                if (model.guiKnown && index >= 0) {
                    ++model.stopped[index];
                }
            }
            break;
        case kAlive:
        case kSettings:
        case kQuery:
            expected = command == kSettings ? 1 : command == kQuery ? (model.recording ? 1 : 0) : 0;
            model.gui = (HWND)window;
            model.guiKnown = true;
            break;
        default:
            break;
        }
        run.known += expected || command == kAlive || command == kQuery ? 1 : 0;
        const LRESULT result = SendMessageA(rig.Dialog(), rig.message, command, window);
        EXPECT_EQ(result, expected) << "the answer to command " << command;
    };
    for (auto& window : rig.windows) {
        window->onNotification = [&](LPARAM what) {
            // Answers to the start notification wait for the start's mend (see the
            // regression test below).
            if (what != 2 || depth >= 2 || !r.Percent(answerPercent)) {
                return;
            }
            ++depth;
            ++run.nested;
            send(pickCommand(), pickWindow());
            --depth;
        };
    }
    // The answers use this function's locals, which end before the rig does: the dialog's
    // end, stopping a recording, notifies the windows once more, and that one is not answered.
    struct Unhook {
        InterfaceRig& rig;
        ~Unhook() {
            for (auto& window : rig.windows) {
                window->onNotification = nullptr;
            }
        }
    } unhook{rig};

    while (budget.More() && !::testing::Test::HasFailure()) {
        const size_t index = budget.Done() - 1;
        std::string described;
        if (r.Percent(90)) {
            const WPARAM command = pickCommand();
            const LPARAM window = pickWindow();
            described = "command " + std::to_string((unsigned long long)command) + " with window 0x" +
                        HexDump(reinterpret_cast<const uint8_t*>(&window), sizeof window);
            SCOPED_TRACE("case " + std::to_string(index) + " of seed " + std::to_string(FuzzSeed()) + ": " +
                         described);
            FuzzSetCurrentCase(std::string(name) + " case " + std::to_string(index) + ": " + described);
            watchdog.Arm(20000, described);
            send(command, window);
            watchdog.Disarm();
        } else {
            // The dialog's recorder poll: it also hands the recorder the interface's window.
            described = "recorder poll";
            FuzzSetCurrentCase(std::string(name) + " case " + std::to_string(index) + ": " + described);
            ++run.polls;
            watchdog.Arm(20000, described);
            SendMessageA(rig.Dialog(), WM_TIMER, COrvinAgentDlg::kRecorderTimer, 0);
            watchdog.Disarm();
            model.guiKnown = true;
        }
        SCOPED_TRACE("after case " + std::to_string(index) + " (" + described + ") of seed " +
                     std::to_string(FuzzSeed()));
        EXPECT_EQ(rig.dialog->RecorderGuiWindow(), model.gui) << "the interface window kept";
        EXPECT_EQ(rig.dialog->CallRecorder()->IsRecording(), model.recording) << "recording";
        EXPECT_EQ(rig.dialog->IsCallRecording(), model.recording);
        EXPECT_EQ(rig.client.told, model.told) << "NotifyAgentStatus infos";
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(rig.windows[i]->started, model.started[i]) << "start notifications to window " << i;
            EXPECT_EQ(rig.windows[i]->stopped, model.stopped[i]) << "stop notifications to window " << i;
            EXPECT_EQ(rig.windows[i]->other, 0) << "other messages to window " << i;
        }
        if (!model.recording) {
            rig.CleanFolder(); // or every start in this second looks for a free name longer
        }
    }
    FuzzReport(name, budget.Done(), budget.Seconds(),
               std::to_string(run.commands) + " commands (" + std::to_string(run.known) + " known, " +
                   std::to_string(run.nested) + " sent inside a notification), " + std::to_string(run.polls) +
                   " polls, " + std::to_string(model.started[0] + model.started[1]) + " start and " +
                   std::to_string(model.stopped[0] + model.stopped[1]) + " stop notifications");
}

TEST(RecorderInterfaceFuzz, Commands) {
    FuzzInterface("recorder interface", 0, 3000);
}

// The interface may send its next command as soon as it hears that the recording stopped.
TEST(RecorderInterfaceFuzz, CommandsAnsweredInsideTheStopNotification) {
    FuzzInterface("recorder interface answering", 40, 3000);
}

} // namespace
