// The main dialog, made modeless from the program's own resources: the status index and
// tooltip, the event log and its prefixes, the command history, the visibility rule, and
// the data other programs send it.
#include "agent/OrvinAgentDlg.h"
#include "devicelink/MessageCatalogue.h"
#include "softphone/MessageEngine.h"
#include "softphone/OrvinApiClient.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> MenuItems(HMENU menu) {
    std::vector<std::string> items;
    HMENU popup = GetSubMenu(menu, 0);
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
        char text[64] = {};
        if (GetMenuStringA(popup, (UINT)i, text, sizeof text, MF_BYPOSITION) == 0) {
            items.push_back("-");
        } else {
            items.push_back(text);
        }
    }
    return items;
}

class StubClient : public COrvinApiClient {
public:
    StubClient() { m_DisplayName = "TAM"; }
    void ConnectToApiServer() override {}
    void SetFlags(int32_t flags) { m_nConnectionFlags = flags; }
};

class RecordingEngine : public CMessageEngine {
public:
    void OnAttachMessage(UINT, WPARAM, LPARAM) override {}
    LRESULT DispatchMessageToApiServer(COPYDATASTRUCT* data) override {
        sent.emplace_back(static_cast<const char*>(data->lpData), data->cbData);
        return 1;
    }
    std::vector<std::string> sent; // with the terminating zero
};

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_params.m_nUiEnable = 1;
        m_dialog.SetConfigParams(&m_params);
        m_dialog.SetInitializeSoftPhone([] { return 1; });
        ASSERT_TRUE(m_dialog.Create());
        m_dialog.SetApiClient(&m_client);
        m_dialog.SetMessageEngine(&m_engine);
    }
    void TearDown() override { m_dialog.Destroy(); }
    std::vector<std::string> Lines(int id) {
        HWND control = m_dialog.Item(id);
        const bool combo = id == 1005;
        std::vector<std::string> lines;
        const LRESULT count = SendMessageA(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            char text[2048] = {};
            SendMessageA(control, combo ? CB_GETLBTEXT : LB_GETTEXT, (WPARAM)i, (LPARAM)text);
            lines.push_back(text);
        }
        return lines;
    }

    CConfigParams m_params;
    StubClient m_client;
    RecordingEngine m_engine;
    COrvinAgentDlg m_dialog{"SOFTWARE\\OrvinTest\\NoSuchRoot"};
};

TEST_F(MainDialogTest, StatusIndexAndTooltipFollowTheConnectionFlags) {
    struct Case {
        int32_t flags;
        int index;
        const char* tooltip;
    } cases[] = {
        {0x01, 0, "VoIP Adaptor Device Not Present"},
        {0x03, 1, "TAM Disconnected"},
        {0x07, 2, "TAM Connected"},
        {0x17, 3, "TAM Connected"},
        {0x0D, 0, "VoIP Adaptor Device Not Present"},
    };
    for (const Case& c : cases) {
        m_client.SetFlags(c.flags);
        m_dialog.RefreshStatus();
        EXPECT_EQ(m_dialog.StatusIndex(), c.index) << std::hex << c.flags;
        EXPECT_EQ(m_dialog.StatusTooltip(), c.tooltip) << std::hex << c.flags;
    }
    m_dialog.BusyIndication();
    EXPECT_EQ(m_dialog.StatusIndex(), 3);
    m_dialog.RingIndicationOff();
    EXPECT_EQ(m_dialog.StatusIndex(), 2);
}

TEST_F(MainDialogTest, TrafficLinesNeedUiEnableExactlyOneAndCarryTheirPrefix) {
    const char* prefixes[] = {"[AG]==>", "[SP-->AG]==>", "[AG-->SP]==>", "[SM-->AG]==>", "[AG-->SM]==>"};
    for (int direction = 0; direction < 5; ++direction) {
        m_dialog.AddTrafficLine("text", direction);
    }
    m_dialog.AddTrafficLine("text", 5);
    m_dialog.AddTrafficLine(std::string(300, 'x').c_str(), 0);
    m_dialog.FlushTrafficLines();
    auto lines = Lines(1008);
    ASSERT_EQ(lines.size(), 6u);
    for (int direction = 0; direction < 5; ++direction) {
        EXPECT_EQ(lines[direction], std::string(prefixes[direction]) + "text");
    }
    EXPECT_EQ(lines[5], "[AG]==>" + std::string(128, 'x')) << "at most 128 characters of the text";

    for (int enable : {0, 2}) {
        m_params.m_nUiEnable = enable;
        m_dialog.AddTrafficLine("quiet", 3);
    }
    m_dialog.FlushTrafficLines();
    EXPECT_EQ(Lines(1008).size(), 6u);
}

// Drawing the list takes milliseconds, and this thread carries the calls' messages too:
// lines wait for a pause in the traffic, then all go in, in order.
TEST_F(MainDialogTest, TrafficLinesAreDrawnWhenTheTrafficPausesInTheirOrder) {
    for (int i = 0; i < 20; ++i) {
        m_dialog.AddTrafficLine(("line " + std::to_string(i)).c_str(), 3);
    }
    EXPECT_TRUE(Lines(1008).empty()) << "not drawn while the traffic goes on";
    const DWORD start = GetTickCount();
    while (Lines(1008).size() < 20 && GetTickCount() - start < 5000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
    auto lines = Lines(1008);
    ASSERT_EQ(lines.size(), 20u) << "the pause's timer draws them";
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(lines[i], "[SM-->AG]==>line " + std::to_string(i));
    }
    const LRESULT top = SendMessageA(m_dialog.Item(1008), LB_GETTOPINDEX, 0, 0);
    const LRESULT height = SendMessageA(m_dialog.Item(1008), LB_GETITEMHEIGHT, 0, 0);
    RECT client = {};
    GetClientRect(m_dialog.Item(1008), &client);
    EXPECT_GE(top + (client.bottom / (height ? height : 1)), 19) << "scrolled to the newest line";
}

TEST_F(MainDialogTest, TheEventLogKeepsTheNewest2000Lines) {
    for (int i = 0; i < 2005; ++i) {
        m_dialog.AddTrafficLine(std::to_string(i).c_str(), 0);
    }
    m_dialog.FlushTrafficLines();
    m_dialog.AddTrafficLine("2005", 0);
    m_dialog.FlushTrafficLines();
    auto lines = Lines(1008);
    ASSERT_EQ(lines.size(), 2000u);
    EXPECT_EQ(lines.front(), "[AG]==>6");
    EXPECT_EQ(lines.back(), "[AG]==>2005");
}

TEST_F(MainDialogTest, ClearAlsoDropsTheLinesWaitingToBeDrawn) {
    m_dialog.AddTrafficLine("drawn", 0);
    m_dialog.FlushTrafficLines();
    m_dialog.AddTrafficLine("waiting", 0);
    SendMessageA(m_dialog.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(1009, BN_CLICKED), 0);
    m_dialog.FlushTrafficLines();
    EXPECT_TRUE(Lines(1008).empty());
}

TEST_F(MainDialogTest, SendPutsTheCommandAtTheTopOfTheHistoryEveryTime) {
    HWND combo = m_dialog.Item(1005);
    for (int i = 0; i < 2; ++i) {
        SetWindowTextA(combo, "GET USERSTATUS");
        SendMessageA(m_dialog.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), 0);
    }
    SetWindowTextA(combo, "");
    SendMessageA(m_dialog.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), 0);
    m_dialog.AddTrafficLine("USERSTATUS ONLINE", 1);
    SetWindowTextA(combo, "PING");
    SendMessageA(m_dialog.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), 0);
    EXPECT_EQ(Lines(1005), (std::vector<std::string>{"PING", "GET USERSTATUS", "GET USERSTATUS"}));
    EXPECT_EQ(Lines(1008), (std::vector<std::string>{"==>>GET USERSTATUS", "==>>GET USERSTATUS",
                                                     "[SP-->AG]==>USERSTATUS ONLINE", "==>>PING"}))
        << "the echo shows at once, after the lines that came before it";
    ASSERT_EQ(m_engine.sent.size(), 3u) << "an empty command is not sent";
    EXPECT_EQ(m_engine.sent[0], std::string("GET USERSTATUS", 15)) << "with its terminating zero";
}

TEST_F(MainDialogTest, TheDialogIsHiddenWhileTheUserInterfaceIsOff) {
    ShowWindow(m_dialog.GetSafeHwnd(), SW_SHOW);
    SendMessageA(m_dialog.GetSafeHwnd(), WM_NULL, 0, 0);
    EXPECT_TRUE(IsWindowVisible(m_dialog.GetSafeHwnd()));
    m_params.m_nUiEnable = 0;
    SendMessageA(m_dialog.GetSafeHwnd(), WM_NULL, 0, 0);
    EXPECT_FALSE(IsWindowVisible(m_dialog.GetSafeHwnd()));
    ShowWindow(m_dialog.GetSafeHwnd(), SW_SHOW);
    EXPECT_FALSE(IsWindowVisible(m_dialog.GetSafeHwnd())) << "showing it is a message too";
}

TEST_F(MainDialogTest, CopiedDataIsReadOnlyUpToItsLength) {
    // The sender's text ends exactly at a page that cannot be read: no terminator.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    auto* pages = static_cast<char*>(
        VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old));
    char* text = pages + system.dwPageSize - 5;
    memcpy(text, "HELLO", 5);
    HWND other = reinterpret_cast<HWND>(0x1234);
    for (DWORD size : {5u, 0u}) {
        COPYDATASTRUCT data = {0, size, size ? text : nullptr};
        EXPECT_EQ(SendMessageA(m_dialog.GetSafeHwnd(), WM_COPYDATA, (WPARAM)other, (LPARAM)&data), TRUE);
    }
    std::string huge(1 << 20, 'h');
    COPYDATASTRUCT data = {0, (DWORD)huge.size(), huge.data()};
    EXPECT_EQ(SendMessageA(m_dialog.GetSafeHwnd(), WM_COPYDATA, (WPARAM)other, (LPARAM)&data), TRUE);
    VirtualFree(pages, 0, MEM_RELEASE);
}

TEST_F(MainDialogTest, WithoutTheMonitorProgramThereIsNothingToConfigure) {
    EXPECT_TRUE(m_dialog.NoConfigure());
    EXPECT_EQ(m_dialog.MonitorPath(), "\\OrvinMonitor.exe");
}

// A child of the dialog that asks the recorder's question when it is destroyed: after the
// dialog's own WM_DESTROY, which has closed and dropped the recorder.
struct LateAsker {
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DESTROY) {
            auto* self = reinterpret_cast<LateAsker*>(GetWindowLongPtrA(window, GWLP_USERDATA));
            self->answer = SendMessageA(GetParent(window), self->message, 32, 0);
            self->asked = true;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    explicit LateAsker(HWND parent) {
        message = RegisterWindowMessageA("ORVIN_RECORDER_INTERFACE_MESSAGE");
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "MainDialogTestLateAsker";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_CHILD, 0, 0, 0, 0, parent, nullptr,
                                 windowClass.hInstance, nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    HWND window = nullptr;
    UINT message = 0;
    LRESULT answer = -1;
    bool asked = false;
};

TEST_F(MainDialogTest, TheRecorderQueryAnswersTheRecordingFlagAndWithoutARecorderNotRecording) {
    const UINT recorder = RegisterWindowMessageA("ORVIN_RECORDER_INTERFACE_MESSAGE");
    HWND window = m_dialog.GetSafeHwnd();
    ASSERT_NE(m_dialog.CallRecorder(), nullptr);
    EXPECT_EQ(SendMessageA(window, recorder, 32, 0), 0) << "a recorder, not recording";
    ASSERT_EQ(SendMessageA(window, recorder, 1, 0), 1);
    const std::string file = m_dialog.CallRecorder()->CurrentFile();
    EXPECT_EQ(SendMessageA(window, recorder, 32, 0), 1) << "a recorder, recording";

    // Asked while the dialog is destroyed, after the recorder has gone: not recording.
    LateAsker asker(window);
    ASSERT_NE(asker.window, nullptr);
    m_dialog.Destroy();
    EXPECT_EQ(m_dialog.CallRecorder(), nullptr);
    EXPECT_TRUE(asker.asked);
    EXPECT_EQ(asker.answer, 0) << "no recorder: not recording";
    DeleteFileA(file.c_str());
}

} // namespace

namespace {

std::string ReadFile(const std::string& path) {
    std::string text;
    if (FILE* file = fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
        }
        fclose(file);
    }
    return text;
}

// The tray's double-click and the Configure command start the monitor program from the
// installation folder, with " -hide" when asked to hide it.
TEST(MonitorStartTest, TheMonitorProgramStartsFromTheInstallationFolder) {
    const std::string root = "SOFTWARE\\OrvinTest\\Dialog" + std::to_string(GetCurrentProcessId());
    std::string folder = "Z:" ORVIN_MONITOR_DIR;
    for (char& c : folder) {
        c = c == '/' ? '\\' : c;
    }
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, root.c_str(), "SoftwareInstallationFolder", REG_SZ,
                              folder.c_str(), (DWORD)folder.size() + 1),
              ERROR_SUCCESS);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string log =
        std::string(temp) + "orvin-monitor-" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(log.c_str());
    // What the started monitor does: write its log there, then end.
    SetEnvironmentVariableA("ORVIN_MONITOR_LOG", log.c_str());
    SetEnvironmentVariableA("ORVIN_MONITOR_SCRIPT", "quit");

    CConfigParams params;
    StubClient client;
    COrvinAgentDlg dialog(root);
    dialog.SetConfigParams(&params);
    dialog.SetInitializeSoftPhone([] { return 1; });
    ASSERT_TRUE(dialog.Create());
    EXPECT_FALSE(dialog.NoConfigure());
    EXPECT_EQ(dialog.MonitorPath(), folder + "\\OrvinMonitor.exe");
    dialog.SetApiClient(&client);
    client.SetFlags(0x03);
    dialog.RefreshStatus();
    HMENU menu = dialog.CreateTrayMenu();
    EXPECT_EQ(MenuItems(menu), (std::vector<std::string>{"About", "&Configure", "-", "E&xit"}));
    DestroyMenu(menu);
    SendMessageA(dialog.GetSafeHwnd(), dialog.TrayMessage(), 0, WM_LBUTTONDBLCLK);
    auto logSays = [&](const char* text) {
        for (int i = 0; i < 200; ++i) {
            if (ReadFile(log).find(text) != std::string::npos) {
                return true;
            }
            Sleep(50);
        }
        return false;
    };
    EXPECT_TRUE(logSays("hide=0")) << "the double-click started the monitor";
    DeleteFileA(log.c_str());
    dialog.StartOrvinMonitor(true);
    EXPECT_TRUE(logSays("hide=1")) << "started with -hide";

    dialog.Destroy();
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("ORVIN_MONITOR_LOG", nullptr);
    SetEnvironmentVariableA("ORVIN_MONITOR_SCRIPT", nullptr);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str());
}

// With NoConfigure set nothing is started, though the monitor program is installed: the
// same start without it, made next, runs the monitor, which writes its own log.
TEST(MonitorStartTest, NoConfigureStartsNoMonitorWhereOneIsInstalled) {
    const std::string root = "SOFTWARE\\OrvinTest\\NoConfigure" + std::to_string(GetCurrentProcessId());
    std::string folder = "Z:" ORVIN_MONITOR_DIR;
    for (char& c : folder) {
        c = c == '/' ? '\\' : c;
    }
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, root.c_str(), "SoftwareInstallationFolder", REG_SZ,
                              folder.c_str(), (DWORD)folder.size() + 1),
              ERROR_SUCCESS);
    const DWORD one = 1;
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, (root + "\\Config\\UI").c_str(), "NoConfigure", REG_DWORD,
                              &one, sizeof one),
              ERROR_SUCCESS);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string base = std::string(temp) + "orvin-noconfigure-" + std::to_string(GetCurrentProcessId());
    const std::string refused = base + "-refused.log", started = base + "-started.log";
    DeleteFileA(refused.c_str());
    DeleteFileA(started.c_str());
    SetEnvironmentVariableA("ORVIN_MONITOR_SCRIPT", "quit");

    CConfigParams params;
    StubClient client;
    client.SetFlags(0x03);
    {
        COrvinAgentDlg dialog(root);
        dialog.SetConfigParams(&params);
        dialog.SetInitializeSoftPhone([] { return 1; });
        ASSERT_TRUE(dialog.Create());
        EXPECT_TRUE(dialog.NoConfigure());
        dialog.SetApiClient(&client);
        dialog.RefreshStatus();
        SetEnvironmentVariableA("ORVIN_MONITOR_LOG", refused.c_str());
        dialog.StartOrvinMonitor(false);
        SendMessageA(dialog.GetSafeHwnd(), dialog.TrayMessage(), 0, WM_LBUTTONDBLCLK);
        dialog.Destroy();
    }
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, (root + "\\Config\\UI").c_str(), "NoConfigure");
    {
        COrvinAgentDlg dialog(root);
        dialog.SetConfigParams(&params);
        dialog.SetInitializeSoftPhone([] { return 1; });
        ASSERT_TRUE(dialog.Create());
        EXPECT_FALSE(dialog.NoConfigure());
        SetEnvironmentVariableA("ORVIN_MONITOR_LOG", started.c_str());
        dialog.StartOrvinMonitor(true);
        dialog.Destroy();
    }
    bool ran = false;
    for (int i = 0; i < 200 && !ran; ++i) {
        ran = ReadFile(started).find("hide=1") != std::string::npos;
        Sleep(50);
    }
    EXPECT_TRUE(ran) << "the start without NoConfigure ran the monitor";
    Sleep(500); // a monitor started before it would have written by now
    EXPECT_EQ(GetFileAttributesA(refused.c_str()), INVALID_FILE_ATTRIBUTES) << "NoConfigure: nothing started";

    DeleteFileA(refused.c_str());
    DeleteFileA(started.c_str());
    SetEnvironmentVariableA("ORVIN_MONITOR_LOG", nullptr);
    SetEnvironmentVariableA("ORVIN_MONITOR_SCRIPT", nullptr);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str());
}

} // namespace

namespace {

TEST_F(MainDialogTest, TheTrayMenuOffersOnlyWhatTheStatusAllows) {
    m_client.SetFlags(0x01);
    m_dialog.RefreshStatus();
    HMENU menu = m_dialog.CreateTrayMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuItems(menu), (std::vector<std::string>{"E&xit"})) << "adapter absent: only Exit";
    DestroyMenu(menu);

    m_client.SetFlags(0x07);
    m_dialog.RefreshStatus();
    menu = m_dialog.CreateTrayMenu();
    EXPECT_EQ(MenuItems(menu), (std::vector<std::string>{"About", "-", "E&xit"}))
        << "no monitor program: no Configure; Restore never";
    DestroyMenu(menu);
}

} // namespace
