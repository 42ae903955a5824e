// The application manager as the other programs of the family see it: its window, title and
// mutex, the shutdown command (the registered message "WM_APP_MESSAGE_CHANNEL", wParam the
// sender's ID, lParam 768) in both directions, and the waits. The names and numbers are
// written out here as those programs use them, never taken from the code under test.
#include "AppManTestSupport.h"
#include "base/appmanager/OrvinAppManager.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <vector>

using namespace appmantest;
using Clock = std::chrono::steady_clock;

namespace {

struct RecordingSink : COrvinAppManagerSink {
    void OnOrvinAppManagerNotication(int nCode, int nSenderId) override {
        m_Calls.push_back({nCode, nSenderId});
        if (m_bDestroyManager) {
            OrvinAppManager::DestroyInstance();
        }
    }
    std::vector<std::pair<int, int>> m_Calls;
    bool m_bDestroyManager = false;
};

// Plain top-level windows with any title, on the test's thread.
HWND MakeWindow(const char* szTitle) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "AppManTestWindow";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "AppManTestWindow", szTitle, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

bool QuitPosted() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            return true;
        }
        DispatchMessageA(&msg);
    }
    return false;
}

class AppManagerTest : public ::testing::Test {
protected:
    void SetUp() override { QuitPosted(); }
    void TearDown() override {
        OrvinAppManager::DestroyInstance();
        for (HWND hWnd : m_Windows) {
            DestroyWindow(hWnd);
        }
        for (HANDLE h : m_Handles) {
            CloseHandle(h);
        }
        QuitPosted();
    }
    OrvinAppManager* Manager(int nId) {
        OrvinAppManager* pManager = OrvinAppManager::GetInstance();
        EXPECT_NE(pManager, nullptr);
        pManager->SetParentID(nId);
        return pManager;
    }
    HWND Window(const char* szTitle) {
        HWND hWnd = MakeWindow(szTitle);
        EXPECT_NE(hWnd, nullptr) << szTitle;
        m_Windows.push_back(hWnd);
        return hWnd;
    }
    void HoldMutex(int nId) { m_Handles.push_back(CreateMutexA(nullptr, TRUE, Name(nId).c_str())); }

    std::vector<HWND> m_Windows;
    std::vector<HANDLE> m_Handles;
};

TEST_F(AppManagerTest, OneManagerPerProcessUntilDestroyed) {
    OrvinAppManager* pFirst = OrvinAppManager::GetInstance();
    ASSERT_NE(pFirst, nullptr);
    EXPECT_EQ(OrvinAppManager::GetInstance(), pFirst);
    EXPECT_EQ(pFirst->GetParentID(), 0);
    EXPECT_EQ(pFirst->GetWindow(), nullptr);
    EXPECT_TRUE(pFirst->QuitOnShutdown);
    EXPECT_TRUE(pFirst->IsFirstInstance());
    EXPECT_FALSE(pFirst->WaitForShutdown(0));
}

TEST_F(AppManagerTest, TheAgentsWindowAndMutexCarryItsIdInTheirName) {
    OrvinAppManager* pManager = Manager(2);
    HWND hWnd = FindWindowA("OrvinAppManagerWindow", "OrvinDeviceMessageReceiver:2");
    ASSERT_NE(hWnd, nullptr);
    EXPECT_EQ(hWnd, pManager->GetWindow());
    EXPECT_FALSE(IsWindowVisible(hWnd));
    EXPECT_EQ(GetAncestor(hWnd, GA_PARENT), GetDesktopWindow());
    EXPECT_EQ(GetClassLongPtrA(hWnd, GCL_STYLE), (ULONG_PTR)(CS_HREDRAW | CS_VREDRAW));

    HANDLE hMutex = OpenMutexA(SYNCHRONIZE, FALSE, "OrvinDeviceMessageReceiver:2");
    ASSERT_NE(hMutex, nullptr);
    // Held by the manager's thread: nobody else gets it.
    DWORD dwTaken = 0;
    std::thread([&] { dwTaken = WaitForSingleObject(hMutex, 0); }).join();
    EXPECT_EQ(dwTaken, (DWORD)WAIT_TIMEOUT);
    CloseHandle(hMutex);

    EXPECT_TRUE(pManager->IsFirstInstance());
    EXPECT_FALSE(pManager->IsAppRunning(2));
}

TEST_F(AppManagerTest, DestroyInstanceRemovesWindowAndMutexAndAManagerCanBeMadeAgain) {
    Manager(31);
    OrvinAppManager::DestroyInstance();
    EXPECT_EQ(FindHidden(31), nullptr);
    EXPECT_FALSE(MutexExists(31));

    // The window class went with the first manager, or is taken over: the next one works.
    OrvinAppManager* pAgain = Manager(31);
    EXPECT_NE(pAgain->GetWindow(), nullptr);
    EXPECT_EQ(FindHidden(31), pAgain->GetWindow());
    EXPECT_TRUE(MutexExists(31));
    SendMessageA(pAgain->GetWindow(), ChannelMessage(), 4, 768);
    EXPECT_TRUE(pAgain->WaitForShutdown(0));
}

TEST_F(AppManagerTest, ASecondProcessWithTheSameIdSeesTheFirstAndEnds) {
    Process first, second;
    ASSERT_TRUE(StartPeer(first, 33));
    ASSERT_TRUE(second.Start(CommandLine(ExeDir() + "AppManPeer.exe", "--id 33")));
    EXPECT_EQ(second.Wait(20000), 2u);
    EXPECT_EQ(first.Wait(0), (DWORD)STILL_ACTIVE);

    // And so does this process, asking about that ID as its own.
    OrvinAppManager* pManager = Manager(33);
    EXPECT_FALSE(pManager->IsFirstInstance());
    EXPECT_TRUE(pManager->IsAppRunning(33));
}

TEST_F(AppManagerTest, ShutdownCommandReachesTheSinkSignalsTheWaitAndPostsQuit) {
    OrvinAppManager* pManager = Manager(34);
    RecordingSink sink;
    pManager->SetNotificationSink(&sink);
    HWND hWnd = FindHidden(34);
    ASSERT_NE(hWnd, nullptr);

    SendMessageA(hWnd, ChannelMessage(), 7, 768);
    ASSERT_EQ(sink.m_Calls.size(), 1u);
    EXPECT_EQ(sink.m_Calls[0], std::make_pair(768, 7));
    EXPECT_TRUE(pManager->WaitForShutdown(0));
    EXPECT_FALSE(pManager->WaitForShutdown(0)); // one command, one answer
    EXPECT_TRUE(QuitPosted());
}

TEST_F(AppManagerTest, ClearedQuitOnShutdownLeavesTheEndToTheOwner) {
    OrvinAppManager* pManager = Manager(35);
    RecordingSink sink;
    pManager->SetNotificationSink(&sink);
    pManager->QuitOnShutdown = FALSE;

    SendMessageA(FindHidden(35), ChannelMessage(), 2, 768);
    EXPECT_EQ(sink.m_Calls.size(), 1u);
    EXPECT_TRUE(pManager->WaitForShutdown(0));
    EXPECT_FALSE(QuitPosted());
}

TEST_F(AppManagerTest, OnlyBits8To15OfLParamMakeTheCommand) {
    OrvinAppManager* pManager = Manager(36);
    RecordingSink sink;
    pManager->SetNotificationSink(&sink);
    pManager->QuitOnShutdown = FALSE;
    HWND hWnd = FindHidden(36);

    // Bits 8 to 15 are 3; whatever the others hold.
    for (LPARAM lParam : {(LPARAM)768, (LPARAM)0x3FF, (LPARAM)0x301, (LPARAM)0x7FFF0301, (LPARAM)0x10300}) {
        sink.m_Calls.clear();
        SendMessageA(hWnd, ChannelMessage(), 5, lParam);
        EXPECT_EQ(sink.m_Calls.size(), 1u) << std::hex << lParam;
        EXPECT_TRUE(pManager->WaitForShutdown(0)) << std::hex << lParam;
    }
    // Bits 8 to 15 are something else: the monitor program's commands on the same message
    // (0, 1, 2, 8), 0x200, and bytes that merely contain a 3 (0x1300, 0x700, 0x3000, 3).
    sink.m_Calls.clear();
    for (LPARAM lParam : {(LPARAM)0, (LPARAM)1, (LPARAM)2, (LPARAM)8, (LPARAM)0x200, (LPARAM)0x1300,
                          (LPARAM)0x700, (LPARAM)0x3000, (LPARAM)3, (LPARAM)0x30000}) {
        SendMessageA(hWnd, ChannelMessage(), 5, lParam);
        EXPECT_TRUE(sink.m_Calls.empty()) << std::hex << lParam;
    }
    // 768 on any other message.
    SendMessageA(hWnd, RegisterWindowMessageA("ORVIN_RECORDER_INTERFACE_MESSAGE"), 5, 768);
    SendMessageA(hWnd, WM_USER, 5, 768);
    EXPECT_TRUE(sink.m_Calls.empty());
    EXPECT_FALSE(pManager->WaitForShutdown(0));
}

TEST_F(AppManagerTest, WaitForShutdownOnTheWindowsOwnThreadSeesACommandSentMeanwhile) {
    OrvinAppManager* pManager = Manager(37);
    RecordingSink sink;
    pManager->SetNotificationSink(&sink);
    pManager->QuitOnShutdown = FALSE;
    HWND hWnd = FindHidden(37);

    std::atomic<bool> bSent{false};
    std::thread sender([&] {
        Sleep(200);
        DWORD_PTR dwResult;
        bSent = SendMessageTimeoutA(hWnd, ChannelMessage(), 12, 768, SMTO_NORMAL, 10000, &dwResult) != 0;
    });
    const auto start = Clock::now();
    const bool bArrived = pManager->WaitForShutdown(8000);
    const double ms = MsSince(start);
    sender.join();
    EXPECT_TRUE(bArrived);
    EXPECT_LT(ms, 4000);
    EXPECT_TRUE(bSent);
    ASSERT_EQ(sink.m_Calls.size(), 1u);
    EXPECT_EQ(sink.m_Calls[0], std::make_pair(768, 12));
}

TEST_F(AppManagerTest, WaitForShutdownRunsOutWithoutACommandAndLeavesPostedMessages) {
    OrvinAppManager* pManager = Manager(38);
    PostThreadMessageA(GetCurrentThreadId(), WM_APP + 3, 0, 0);
    PostQuitMessage(5);
    const auto start = Clock::now();
    EXPECT_FALSE(pManager->WaitForShutdown(300));
    EXPECT_GE(MsSince(start), 280);
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_APP + 3, WM_APP + 3, PM_REMOVE));
    EXPECT_TRUE(QuitPosted());
}

TEST_F(AppManagerTest, OtherProgramsAreFoundByTheNumberAfterTheColon) {
    OrvinAppManager* pManager = Manager(39);
    Window("OrvinDeviceMessageReceiver:40");
    Window("OrvinDeviceMessageReceiver:41 (closing)"); // text after the number is not looked at
    Window("OrvinDeviceMessageReceiver");              // no colon
    Window("OrvinDeviceMessageReceiver:");             // nothing after it
    Window("OrvinDeviceMessageReceiver:x43");
    Window("OrvinDeviceMessageReceiver:-45");
    Window("OrvinDeviceMessageReceiver:99999999999999");
    Window("Receiver:46");
    Window("OrvinDeviceMessageReceiver:39"); // this program's own ID

    const std::vector<int> found = pManager->FindRunningApps();
    auto has = [&](int nId) { return std::find(found.begin(), found.end(), nId) != found.end(); };
    EXPECT_TRUE(has(40));
    EXPECT_TRUE(has(41));
    for (int nId : {0, 39, 43, 45, -45, 46}) {
        EXPECT_FALSE(has(nId)) << nId;
    }
    for (int nId : found) {
        EXPECT_GT(nId, 0);
    }
    EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));

    // No mutex for these: the windows answer.
    EXPECT_TRUE(pManager->IsAppRunning(40));
    EXPECT_TRUE(pManager->IsAppRunning(41));
    EXPECT_FALSE(pManager->IsAppRunning(46));
    EXPECT_FALSE(pManager->IsAppRunning(0));
    EXPECT_FALSE(pManager->IsAppRunning(43));
}

TEST_F(AppManagerTest, AWindowWithoutNumberIsNeverSentTheCommand) {
    // Were "OrvinDeviceMessageReceiver:none" taken as application 0, shutting down all would
    // send it the command and wait some 40 s for it to end.
    OrvinAppManager* pManager = Manager(47);
    Window("OrvinDeviceMessageReceiver:none");
    const auto start = Clock::now();
    EXPECT_TRUE(pManager->ShutdownAllApps(0));
    EXPECT_LT(MsSince(start), 3000);
}

TEST_F(AppManagerTest, AMutexWithoutWindowStillRunsButCannotBeReached) {
    OrvinAppManager* pManager = Manager(48);
    HoldMutex(49);
    EXPECT_TRUE(pManager->IsAppRunning(49));
    const auto start = Clock::now();
    EXPECT_FALSE(pManager->ShutdownApp(49));
    EXPECT_LT(MsSince(start), 3000);
}

TEST_F(AppManagerTest, AnIdNobodyUsesIsNotRunningAndIsLeftAlone) {
    OrvinAppManager* pManager = Manager(50);
    EXPECT_FALSE(pManager->IsAppRunning(51));
    EXPECT_FALSE(MutexExists(51)); // asking leaves no mutex behind
    EXPECT_TRUE(pManager->ShutdownApp(51));
    EXPECT_TRUE(pManager->ShutdownAllApps(51));
}

TEST_F(AppManagerTest, ShutdownAppFindsTheProgramItselfAndWaitsForItsEnd) {
    FakePeer peer(53);
    peer.m_nEndAfterMs = 1200;
    peer.Start();
    OrvinAppManager* pManager = Manager(52);
    const auto start = Clock::now();
    EXPECT_TRUE(pManager->ShutdownApp(53));
    const double ms = MsSince(start);
    EXPECT_EQ(peer.m_nCommands, 1);
    EXPECT_EQ(peer.m_llWParam, 52);
    EXPECT_EQ(peer.m_llLParam, 768);
    EXPECT_TRUE(peer.m_bEnded);
    EXPECT_GE(ms, 1150); // it waited for the end, in steps of half a second
    EXPECT_LT(ms, 6000);
    EXPECT_FALSE(pManager->IsAppRunning(53));
}

TEST_F(AppManagerTest, ShutdownAppKeepsTakingMessagesSentToItWhileItWaits) {
    // A program that announces itself to everyone on its way out (the agent does) must not
    // hang on the very program that waits for it to end.
    OrvinAppManager* pManager = Manager(54);
    RecordingSink sink;
    pManager->SetNotificationSink(&sink);
    FakePeer peer(55);
    peer.m_nEndAfterMs = 300;
    peer.m_hSendBackTo = pManager->GetWindow();
    peer.Start();
    const auto start = Clock::now();
    EXPECT_TRUE(pManager->ShutdownApp(55));
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_TRUE(peer.m_bSentBack);
    EXPECT_TRUE(sink.m_Calls.empty()); // an announcement (lParam 0) is no command
}

TEST_F(AppManagerTest, ShutdownAppReachesAProgramThatStartedAgainSinceTheLastLook) {
    OrvinAppManager* pManager = Manager(56);
    auto before = std::make_unique<FakePeer>(57);
    before->Start();
    ASSERT_EQ(pManager->FindRunningApps(), std::vector<int>{57});
    before.reset(); // its window is gone; a new one comes up under the same ID
    FakePeer after(57);
    after.m_nEndAfterMs = 100;
    after.Start();
    const auto start = Clock::now();
    EXPECT_TRUE(pManager->ShutdownApp(57));
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_EQ(after.m_nCommands, 1);
}

TEST_F(AppManagerTest, ShutdownAllAppsGoesInAscendingOrderAndSparesItself) {
    OrvinAppManager* pManager = Manager(58);
    RecordingSink sink;
    pManager->SetNotificationSink(&sink);
    FakePeer higher(60), lower(59);
    higher.m_nEndAfterMs = lower.m_nEndAfterMs = 200;
    higher.Start();
    lower.Start();
    EXPECT_TRUE(pManager->ShutdownAllApps(0));
    EXPECT_EQ(lower.m_nCommands, 1);
    EXPECT_EQ(higher.m_nCommands, 1);
    EXPECT_LT(lower.m_nOrder, higher.m_nOrder);
    EXPECT_EQ(lower.m_llWParam, 58);
    EXPECT_EQ(higher.m_llWParam, 58);
    EXPECT_TRUE(sink.m_Calls.empty());
    EXPECT_TRUE(lower.m_bEnded && higher.m_bEnded);
}

TEST_F(AppManagerTest, ShutdownAllAppsWithAnIdShutsDownThatOneOnly) {
    OrvinAppManager* pManager = Manager(61);
    FakePeer other(62), target(63);
    other.m_nEndAfterMs = target.m_nEndAfterMs = 100;
    other.Start();
    target.Start();
    EXPECT_TRUE(pManager->ShutdownAllApps(63));
    EXPECT_EQ(target.m_nCommands, 1);
    EXPECT_EQ(other.m_nCommands, 0);
    EXPECT_TRUE(pManager->IsAppRunning(62));
}

TEST_F(AppManagerTest, ShutdownAppEndsAProgramInAnotherProcess) {
    Process peer;
    ASSERT_TRUE(StartPeer(peer, 64));
    OrvinAppManager* pManager = Manager(65);
    EXPECT_TRUE(pManager->IsAppRunning(64));
    EXPECT_EQ(pManager->FindRunningApps(), std::vector<int>{64});
    EXPECT_TRUE(pManager->ShutdownApp(64));
    EXPECT_EQ(peer.Wait(10000), 100u + 65); // its sink heard 768 from 65, and WM_QUIT ended it
    EXPECT_FALSE(pManager->IsAppRunning(64));
}

TEST_F(AppManagerTest, AProgramWaitingForShutdownWithoutAMessageLoopHearsTheCommand) {
    Process peer;
    ASSERT_TRUE(StartPeer(peer, 66, "--mode wait --ms 30000"));
    OrvinAppManager* pManager = Manager(67);
    const auto start = Clock::now();
    EXPECT_TRUE(pManager->ShutdownApp(66));
    EXPECT_LT(MsSince(start), 8000);
    EXPECT_EQ(peer.Wait(10000), 100u + 67);
}

TEST_F(AppManagerTest, SettingAnotherIdMovesTheWindowAndTheMutexWithIt) {
    OrvinAppManager* pManager = Manager(70);
    HWND hWnd = pManager->GetWindow();
    pManager->SetParentID(71);
    EXPECT_EQ(pManager->GetParentID(), 71);
    EXPECT_EQ(pManager->GetWindow(), hWnd);
    EXPECT_EQ(FindHidden(71), hWnd);
    EXPECT_EQ(FindHidden(70), nullptr);
    EXPECT_TRUE(MutexExists(71));
    EXPECT_FALSE(MutexExists(70));
    EXPECT_TRUE(pManager->IsFirstInstance());
    EXPECT_FALSE(pManager->IsAppRunning(70));
    EXPECT_FALSE(pManager->IsAppRunning(71));

    // The same ID again changes nothing.
    pManager->SetParentID(71);
    EXPECT_EQ(FindHidden(71), hWnd);
    EXPECT_TRUE(pManager->IsFirstInstance());
}

TEST_F(AppManagerTest, WithoutItsWindowAProgramStillKnowsItRunsTwice) {
    // Another class of the same name in this process: the manager can make no window of its
    // own, but its mutex still tells a second instance.
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OrvinAppManagerWindow";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HoldMutex(72);
    OrvinAppManager* pManager = Manager(72);
    EXPECT_EQ(pManager->GetWindow(), nullptr);
    EXPECT_FALSE(pManager->IsFirstInstance());
    EXPECT_TRUE(pManager->IsAppRunning(72));
    OrvinAppManager::DestroyInstance();

    pManager = Manager(73);
    EXPECT_EQ(pManager->GetWindow(), nullptr);
    EXPECT_TRUE(MutexExists(73));
    EXPECT_TRUE(pManager->IsFirstInstance());
    OrvinAppManager::DestroyInstance();
    EXPECT_TRUE(UnregisterClassA("OrvinAppManagerWindow", wc.hInstance));
}

TEST_F(AppManagerTest, ASinkThatEndsTheManagerEndsIt) {
    OrvinAppManager* pManager = Manager(74);
    RecordingSink sink;
    sink.m_bDestroyManager = true;
    pManager->SetNotificationSink(&sink);
    SendMessageA(FindHidden(74), ChannelMessage(), 3, 768);
    EXPECT_EQ(sink.m_Calls.size(), 1u);
    EXPECT_EQ(FindHidden(74), nullptr);
    EXPECT_FALSE(MutexExists(74));
    EXPECT_EQ(OrvinAppManager::GetInstance()->GetWindow(), nullptr); // a new one, not yet set up
}

} // namespace
