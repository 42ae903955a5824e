// The application manager's trace lines, read back from the trace file (DebugType 3), with
// the texts as the trace's readers know them, misspellings included. Programs started here
// are given trace files of their own: the settings are read once per process, so the key is
// pointed at another file before each one starts.
#include "AppManTestSupport.h"
#include "base/appmanager/OrvinAppManager.h"
#include "base/trace/Trace.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace appmantest;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kKey = "Software\\Velcora\\Quendo";
const std::string kStars(60, '*');

std::string TempPath(const char* szName) {
    char szDir[MAX_PATH];
    GetTempPathA(sizeof szDir, szDir);
    return std::string(szDir) + szName;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The messages of a trace file as they were traced: the tag and the line end each line gets
// taken off, so "X\n" stands for TRACE("X\n").
std::vector<std::string> Messages(const std::string& path) {
    const std::string text = ReadAll(path);
    const std::string tag = "{OrvinAgent} ";
    std::vector<std::string> messages;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        std::string line = text.substr(start, end - start);
        if (line.compare(0, tag.size(), tag) == 0) {
            line.erase(0, tag.size());
        }
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        if (line != "Log Started Succesfully!") {
            messages.push_back(line);
        }
    }
    return messages;
}

size_t Count(const std::vector<std::string>& messages, const std::string& text) {
    return (size_t)std::count(messages.begin(), messages.end(), text);
}

// The messages from the first one equal to `first` on, `count` of them.
std::vector<std::string> From(const std::vector<std::string>& messages, const std::string& first,
                              size_t count) {
    auto it = std::find(messages.begin(), messages.end(), first);
    std::vector<std::string> part;
    for (; it != messages.end() && part.size() < count; ++it) {
        part.push_back(*it);
    }
    return part;
}

std::string WaitingLine(const char* szId, int nWait) {
    char szLine[80];
    snprintf(szLine, sizeof szLine, "Waiting for Orvin app ID %s shutdown (%02d)...", szId, nWait);
    return szLine;
}

// The Windows form of a path of the build machine (Wine's Z: drive is its root).
std::string WindowsPath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return "Z:" + path;
}

class AppManagerTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        orvin::TraceStop();
        m_File = TempPath("orvin-appman-trace.log");
        DeleteFileA(m_File.c_str());
        SetDword("DebugType", 3);
        SetString("DebugFile", m_File);
        orvin::TraceStart();
    }
    void TearDown() override {
        OrvinAppManager::DestroyInstance();
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
        DeleteFileA(m_File.c_str());
    }
    void SetDword(const char* szName, DWORD dwValue) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, szName, REG_DWORD, &dwValue, sizeof dwValue),
                  ERROR_SUCCESS);
    }
    void SetString(const char* szName, const std::string& value) {
        ASSERT_EQ(
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, szName, REG_SZ, value.c_str(), (DWORD)value.size() + 1),
            ERROR_SUCCESS);
    }
    std::string m_File;
};

TEST_F(AppManagerTraceTest, MakingTheManagerAndHearingTheCommandAreTraced) {
    OrvinAppManager* pManager = OrvinAppManager::GetInstance();
    pManager->SetParentID(2);
    pManager->QuitOnShutdown = FALSE;
    SendMessageA(FindWindowA("OrvinAppManagerWindow", "OrvinDeviceMessageReceiver:2"),
                 RegisterWindowMessageA("WM_APP_MESSAGE_CHANNEL"), 9, 768);
    const std::vector<std::string> expected = {
        "OrvinAppManager::GetInstance() - Creating a new instance of AppManager",
        "Application manager created for app ID 0\n",
        "OrvinAppManager::SetParentID() - Setting Application ID to 2",
        "OrvinAppManager::CreateHiddenWindow() - Sucessfully registered window class",
        "OrvinAppManager::CreateHiddenWindow(2) - Sucessfully created hidden window : OrvinDeviceMessageReceiver:2",
        "OrvinAppManager: IsFirstInstance(2)=TRUE",
        "Received shutdown command from Orvin app ID 9\n",
    };
    EXPECT_EQ(Messages(m_File), expected);
}

TEST_F(AppManagerTraceTest, ASecondInstanceIsTracedAsNotFirst) {
    HANDLE hMutex = CreateMutexA(nullptr, TRUE, "OrvinDeviceMessageReceiver:2");
    OrvinAppManager::GetInstance()->SetParentID(2);
    const std::vector<std::string> messages = Messages(m_File);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "OrvinAppManager: IsFirstInstance(2)=FALSE");
    CloseHandle(hMutex);
}

TEST_F(AppManagerTraceTest, AWindowClassOrWindowThatFailsIsTracedAndTheMutexStillTaken) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "OrvinAppManagerWindow";
    ASSERT_NE(RegisterClassA(&wc), 0);
    OrvinAppManager::GetInstance()->SetParentID(21);
    OrvinAppManager::DestroyInstance();
    UnregisterClassA("OrvinAppManagerWindow", wc.hInstance);

    // A hook that refuses every window this thread makes.
    HHOOK hHook = SetWindowsHookExA(
        WH_CBT,
        [](int nCode, WPARAM wParam, LPARAM lParam) -> LRESULT { return nCode == HCBT_CREATEWND ? 1 : 0; },
        nullptr, GetCurrentThreadId());
    ASSERT_NE(hHook, nullptr);
    OrvinAppManager* pManager = OrvinAppManager::GetInstance();
    pManager->SetParentID(22);
    UnhookWindowsHookEx(hHook);
    EXPECT_EQ(pManager->GetWindow(), nullptr);

    const std::vector<std::string> messages = Messages(m_File);
    const std::vector<std::string> failedClass = {
        "OrvinAppManager::SetParentID() - Setting Application ID to 21",
        "OrvinAppManager::CreateHiddenWindow() - failed to register window class",
        "OrvinAppManager: IsFirstInstance(21)=TRUE",
    };
    EXPECT_EQ(From(messages, failedClass[0], 3), failedClass);
    const std::vector<std::string> failedWindow = {
        "OrvinAppManager::SetParentID() - Setting Application ID to 22",
        "OrvinAppManager::CreateHiddenWindow() - Sucessfully registered window class",
        "OrvinAppManager::CreateHiddenWindow() - failed to create hidden window",
        "OrvinAppManager: IsFirstInstance(22)=TRUE",
    };
    EXPECT_EQ(From(messages, failedWindow[0], 4), failedWindow);
    EXPECT_TRUE(MutexExists(22));
}

TEST_F(AppManagerTraceTest, FindingSendingAndWaitingAreTraced) {
    FakePeer peer(5);
    peer.m_nEndAfterMs = 1200;
    peer.Start();
    OrvinAppManager* pManager = OrvinAppManager::GetInstance();
    pManager->SetParentID(6);
    ASSERT_TRUE(pManager->ShutdownApp(5));

    const std::vector<std::string> messages = Messages(m_File);
    const std::vector<std::string> sent = From(messages, "Found Orvin app ID 5\n", 3);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1], "Sending shutdown command to Orvin app ID 5\n");
    EXPECT_EQ(sent[2], WaitingLine("05", 1));
    // Half a second a wait: the program ended during the third, give or take one.
    size_t nWaits = 0;
    while (Count(messages, WaitingLine("05", (int)nWaits + 1)) == 1) {
        ++nWaits;
    }
    EXPECT_GE(nWaits, 2u);
    EXPECT_LE(nWaits, 4u);
    EXPECT_EQ(messages.back(), WaitingLine("05", (int)nWaits));
    EXPECT_EQ(Count(messages, kStars), 0u);
}

TEST_F(AppManagerTraceTest, AfterThe81stWaitAProgramStillRunningIsGivenUpAndOneThatEndedIsNot) {
    // Two senders at once, to spend the 40 s once: OrvinAppCtl.exe waits for a program that
    // hangs (it never takes the command), this process for one that ends during the last
    // wait.
    const std::string peerFile = TempPath("orvin-appman-trace-hung.log");
    const std::string ctlFile = TempPath("orvin-appman-trace-ctl.log");
    DeleteFileA(peerFile.c_str());
    DeleteFileA(ctlFile.c_str());
    SetString("DebugFile", peerFile);
    Process hung;
    ASSERT_TRUE(StartPeer(hung, 7, "--mode hang --ms 90000"));
    SetString("DebugFile", ctlFile);
    Process ctl;
    const auto ctlStart = Clock::now();
    ASSERT_TRUE(ctl.Start(CommandLine(WindowsPath(ORVIN_APPCTL_EXE), "--as 11 shutdown 7")));
    const std::vector<std::string> hello = {"Sending shutdown command to Orvin app ID 7\n"};
    for (int i = 0; i < 200 && Count(Messages(ctlFile), hello[0]) == 0; ++i) {
        Sleep(100);
    }
    ASSERT_EQ(Count(Messages(ctlFile), hello[0]), 1u);

    FakePeer late(13);
    const std::string lastButOne = WaitingLine("13", 80);
    Clock::time_point seen{};
    late.m_nEndAfterMs = -1;
    late.m_EndWhen = [&] {
        if (seen == Clock::time_point{}) {
            if (Count(Messages(m_File), lastButOne) == 1) {
                seen = Clock::now();
            }
            return false;
        }
        return MsSince(seen) >= 150; // well inside the 81st wait
    };
    late.Start();
    OrvinAppManager* pManager = OrvinAppManager::GetInstance();
    pManager->SetParentID(12);
    const auto start = Clock::now();
    EXPECT_TRUE(pManager->ShutdownApp(13));
    EXPECT_GE(MsSince(start), 40000);
    EXPECT_TRUE(late.m_bEnded);
    std::vector<std::string> messages = Messages(m_File);
    EXPECT_EQ(Count(messages, WaitingLine("13", 81)), 1u);
    EXPECT_EQ(Count(messages, kStars), 0u);

    EXPECT_EQ(ctl.Wait(30000), 1u);
    EXPECT_GE(MsSince(ctlStart), 40000);
    EXPECT_EQ(hung.Wait(0), (DWORD)STILL_ACTIVE); // left running
    messages = Messages(ctlFile);
    for (int nWait = 1; nWait <= 81; ++nWait) {
        EXPECT_EQ(Count(messages, WaitingLine("07", nWait)), 1u) << nWait;
    }
    const std::vector<std::string> banner = {
        WaitingLine("07", 81),
        kStars,
        kStars,
        "**",
        "**  Failed to kill app 07 (81 retries). Aborting.",
        "**",
        kStars,
        kStars,
    };
    EXPECT_EQ(From(messages, banner[0], 8), banner);
    hung.Kill();
    DeleteFileA(peerFile.c_str());
    DeleteFileA(ctlFile.c_str());
}

} // namespace
