// What the monitor program and other programs send the agent's windows, fuzzed: the
// registered "WM_APP_MESSAGE_CHANNEL" to the message engine with random commands and
// windows, the engine's announcements that follow, and WM_COPYDATA to the engine and to the
// main dialog with random senders, data words, lengths and contents, every text ending
// where a no-access page begins. The documented commands predict the monitor window the
// engine and its client keep, the configuration reloads, the end of the message loop and
// where the announcements go.
#include "agent/OrvinAgentDlg.h"
#include "softphone/MessageEngine.h"
#include "softphone/OrvinApiClient.h"
#include "tests/lib/fuzz/Fuzz.h"
#include "tests/lib/fuzz/GuardedPage.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

class ChannelClient : public COrvinApiClient {
public:
    void ConnectToApiServer() override {}
    void OnApiServerMessage(const COPYDATASTRUCT* message) override {
        ++messages;
        lastData = message;
    }
    int messages = 0;
    const COPYDATASTRUCT* lastData = nullptr;
};

class ChannelEngine : public CMessageEngine {
public:
    void OnAttachMessage(UINT, WPARAM, LPARAM) override {}
    LRESULT DispatchMessageToApiServer(COPYDATASTRUCT*) override { return 0; }
};

class Application : public IOrvinAgentApplication {
public:
    void LoadRegistryParameters() override { ++reloads; }
    int reloads = 0;
};

// The monitor program's window: counts the engine's announcements.
class MonitorWindow {
public:
    explicit MonitorWindow(UINT channel) : m_channel(channel) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "OrvinFuzzMonitor";
        RegisterClassA(&windowClass);
        hWnd = CreateWindowExA(0, "OrvinFuzzMonitor", "", 0, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleA(nullptr), this);
    }
    ~MonitorWindow() {
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        DestroyWindow(hWnd);
    }
    HWND hWnd = nullptr;
    HWND announcedBy = nullptr;
    int announcements = 0, other = 0;

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            SetWindowLongPtrA(window, GWLP_USERDATA,
                              (LONG_PTR) reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        }
        auto* self = reinterpret_cast<MonitorWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == self->m_channel) {
            if (lParam == 0) {
                ++self->announcements;
                self->announcedBy = (HWND)wParam;
            } else {
                ++self->other;
            }
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    UINT m_channel;
};

// Takes any WM_QUIT the channel posted to this thread; true when there was one.
bool TakeQuit() {
    MSG message;
    bool quit = false;
    while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        quit = true;
    }
    return quit;
}

TEST(MonitorChannelFuzz, ChannelCommandsAndCopiedData) {
    FuzzRandom r = FuzzStream("monitor channel");
    FuzzBudget budget(20000);
    const UINT channel = RegisterWindowMessageA("WM_APP_MESSAGE_CHANNEL");
    Application application;
    SetAgentApplication(&application);
    struct Restore {
        ~Restore() { SetAgentApplication(nullptr); }
    } restore;
    CConfigParams params;
    ChannelClient client;
    client.SetConfigParams(&params);
    ChannelEngine engine;
    MonitorWindow monitor(channel);
    ASSERT_TRUE(monitor.hWnd);
    ASSERT_TRUE(engine.Create(&client));
    EXPECT_GE(monitor.announcements, 1) << "the engine announced itself to every window";
    EXPECT_EQ(monitor.announcedBy, engine.Window());
    COrvinAgentDlg dialog("SOFTWARE\\OrvinTest\\MonitorChannelFuzzNoRoot");
    params.m_nUiEnable = 1;
    dialog.SetConfigParams(&params);
    dialog.SetInitializeSoftPhone([] { return 1; });
    dialog.SetRecorderDevice("OrvinMonitorFuzzNoDevice");
    ASSERT_TRUE(dialog.Create());
    struct Close {
        COrvinAgentDlg& dialog;
        ~Close() { dialog.Destroy(); }
    } close{dialog};
    TakeQuit();

    GuardedPage page(70000);
    ASSERT_TRUE(page.Valid());
    FuzzWatchdog watchdog;
    HWND expectedMonitor = nullptr;
    int reloads = 0;
    size_t commands = 0, announcements = 0, copies = 0, quits = 0;

    auto pickWindow = [&]() -> HWND {
        const uint32_t roll = r.Below(100);
        return roll < 40   ? monitor.hWnd
               : roll < 55 ? nullptr
               : roll < 65 ? engine.Window()
               : roll < 75 ? dialog.GetSafeHwnd()
                           : (HWND)(uintptr_t)(0xBEEF0000u + r.Below(0x10000));
    };
    while (budget.More() && !::testing::Test::HasFailure()) {
        const size_t index = budget.Done() - 1;
        const uint32_t roll = r.Below(100);
        std::string described;
        watchdog.Arm(20000, "case " + std::to_string(index));
        if (roll < 45) {
            static const LPARAM kCommands[] = {0, 1, 1, 2, 8, 3, 4, 16, 768, -1, 0x10001, 0x102};
            const LPARAM command = r.Percent(90) ? r.Pick(kCommands) : (LPARAM)r.Next();
            const HWND sender = pickWindow();
            described = "channel command " + std::to_string((long long)command);
            SCOPED_TRACE("case " + std::to_string(index) + " of seed " + std::to_string(FuzzSeed()) + ": " +
                         described);
            FuzzSetCurrentCase(described);
            ++commands;
            EXPECT_EQ(SendMessageA(engine.Window(), channel, (WPARAM)sender, command), 1);
            EXPECT_EQ(engine.LastChannelCommand(), command);
            if (command == 1) {
                expectedMonitor = sender;
            }
            reloads += command == 2 ? 1 : 0;
            const bool quit = TakeQuit();
            EXPECT_EQ(quit, command == 8) << "the message loop ends on command 8 alone";
            quits += quit ? 1 : 0;
            // The same to the dialog: not its message.
            SendMessageA(dialog.GetSafeHwnd(), channel, (WPARAM)sender, command);
            EXPECT_FALSE(TakeQuit()) << "the dialog ended the loop";
        } else if (roll < 55) {
            // The engine announces itself: to the monitor window it was given, else to all.
            described = "announcement";
            FuzzSetCurrentCase(described);
            const int before = monitor.announcements;
            const LPARAM lastBefore = engine.LastChannelCommand();
            engine.Announce();
            ++announcements;
            const bool toAll = expectedMonitor == nullptr;
            EXPECT_EQ(monitor.announcements - before, toAll || expectedMonitor == monitor.hWnd ? 1 : 0)
                << "announcements the monitor got";
            // The engine hears its own announcement when it goes to every window or to itself.
            EXPECT_EQ(engine.LastChannelCommand(),
                      toAll || expectedMonitor == engine.Window() ? 0 : lastBefore);
        } else {
            // WM_COPYDATA to the engine or the dialog.
            const uint32_t length = r.Percent(90) ? r.Below(300) : r.Range(300, 65536);
            std::vector<uint8_t> bytes = r.Bytes(length);
            if (r.Percent(50)) {
                for (uint8_t& b : bytes) {
                    b = (uint8_t)r.Range(0x20, 0x7E);
                }
            }
            if (r.Percent(30) && length) {
                bytes[length - 1] = 0;
            }
            const uint8_t* at = page.Place(bytes.data(), bytes.size());
            COPYDATASTRUCT data = {(ULONG_PTR)r.Next(), (DWORD)length,
                                   length || r.Percent(50) ? (void*)at : nullptr};
            const bool none = r.Percent(3);
            const bool toEngine = r.Percent(50);
            described = std::string("copied data to the ") + (toEngine ? "engine" : "dialog") + ", " +
                        std::to_string(length) + " bytes" + (none ? ", no record" : "");
            SCOPED_TRACE("case " + std::to_string(index) + " of seed " + std::to_string(FuzzSeed()) + ": " +
                         described);
            FuzzSetCurrentCase(described + ": " + HexDump(bytes.data(), bytes.size(), 64));
            ++copies;
            const HWND target = toEngine ? engine.Window() : dialog.GetSafeHwnd();
            const int before = client.messages;
            const LRESULT result =
                SendMessageA(target, WM_COPYDATA, (WPARAM)pickWindow(), none ? 0 : (LPARAM)&data);
            if (toEngine) {
                EXPECT_EQ(result, 1);
                EXPECT_EQ(client.messages - before, none ? 0 : 1) << "the client's share of it";
                if (!none) {
                    EXPECT_EQ(client.lastData, &data);
                }
            } else {
                EXPECT_EQ(result, TRUE);
                EXPECT_EQ(client.messages, before);
            }
        }
        watchdog.Disarm();
        EXPECT_EQ(engine.MonitorWindow(), expectedMonitor) << "the monitor window of the engine";
        EXPECT_EQ(client.MonitorWindow(), expectedMonitor) << "the monitor window of the client";
        EXPECT_EQ(application.reloads, reloads) << "configuration reloads";
        EXPECT_EQ(monitor.other, 0) << "messages to the monitor other than announcements";
    }
    FuzzReport("monitor channel", budget.Done(), budget.Seconds(),
               std::to_string(commands) + " channel commands (" + std::to_string(reloads) + " reloads, " +
                   std::to_string(quits) + " ends of the loop), " + std::to_string(announcements) +
                   " announcements, " + std::to_string(copies) + " copied data");
}

} // namespace
