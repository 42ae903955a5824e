// The main dialog's share of the call recorder (its registered message, its 200 ms poll,
// the client's stop), the error box and the About box from the program's own resources,
// and the web link's fall-backs and error texts. Message numbers, control ids, registry
// names and trace texts are the interface's own, written out as they stand.
#include "agent/AboutDlg.h"
#include "agent/ErrorMessageDlg.h"
#include "agent/Hyperlink.h"
#include "agent/OrvinAgentDlg.h"
#include "base/trace/Trace.h"
#include "softphone/OrvinApiClient.h"
#include "tests/recorder/unit/FakeRecorderDriver.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const kRoot = "SOFTWARE\\OrvinTest\\RecorderDialogs";
const char* const kTraceKey = "Software\\Velcora\\Quendo";

std::string TempPath(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

struct Sent {
    int type, code, info;
    bool operator==(const Sent& other) const {
        return type == other.type && code == other.code && info == other.info;
    }
};

// A client that keeps what it would send to the service.
class StubClient : public COrvinApiClient {
public:
    void ConnectToApiServer() override {}
    void SendToService(int type, int code, int info, const char*, const char*, const char*) override {
        sent.push_back({type, code, info});
    }
    std::vector<Sent> sent;
};

void Pump(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (GetTickCount64() < end) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

template <class Condition> bool PumpUntil(Condition condition, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!condition()) {
        if (GetTickCount64() >= end) {
            return false;
        }
        Pump(20);
    }
    return true;
}

std::string Text(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
        m_trace = TempPath("orvin-recorder-dialogs.log");
        DeleteFileA(m_trace.c_str());
        DWORD type = 3;
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugType", REG_DWORD, &type, sizeof type);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugFile", REG_SZ, m_trace.c_str(),
                        (DWORD)m_trace.size() + 1);
    }
    void TearDown() override {
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
        DeleteFileA(m_trace.c_str());
    }
    void SetRootString(const char* subkey, const char* name, const std::string& value) {
        const std::string key = subkey ? std::string(kRoot) + "\\" + subkey : std::string(kRoot);
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, value.c_str(),
                                  (DWORD)value.size() + 1),
                  ERROR_SUCCESS);
    }
    std::vector<std::string> Trace() {
        std::ifstream in(m_trace, std::ios::binary);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) {
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
                line.pop_back();
            }
            if (!line.empty()) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    size_t Traced(const std::string& text) {
        size_t count = 0;
        for (const std::string& line : Trace()) {
            count += line.find(text) != std::string::npos;
        }
        return count;
    }

    std::string m_trace;
};

// A stand-in for the recorder interface's window: it keeps the notifications.
struct GuiWindow {
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<GuiWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == self->message) {
            self->notifications.push_back({(int)wParam, (int)lParam});
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    GuiWindow() {
        message = RegisterWindowMessageA("ORVIN_RECORDER_INTERFACE_MESSAGE");
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "RecorderDialogsTestGui";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                 nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~GuiWindow() { DestroyWindow(window); }
    HWND window = nullptr;
    UINT message = 0;
    std::vector<std::pair<int, int>> notifications;
};

TEST_F(DialogsTest, TheMainDialogRoutesTheRecorderInterfaceAndPollsTheDriver) {
    const std::string directory = TempPath("orvin-recorder-dialogs-" + std::to_string(GetCurrentProcessId()));
    CreateDirectoryA(directory.c_str(), nullptr);
    SetRootString("Recorder", "Directory", directory);
    const std::string device = "OrvinRecDialog" + std::to_string(GetCurrentProcessId());
    FakeRecorderDriver driver(device.c_str());
    ASSERT_TRUE(driver.Valid());
    CConfigParams params;
    StubClient client;
    GuiWindow gui;
    const UINT message = gui.message;
    {
        COrvinAgentDlg dialog(kRoot);
        dialog.SetConfigParams(&params);
        dialog.SetInitializeSoftPhone([] { return 1; });
        dialog.SetRecorderDevice(device);
        ASSERT_TRUE(dialog.Create());
        dialog.SetApiClient(&client);
        HWND window = dialog.GetSafeHwnd();
        ASSERT_EQ(dialog.RecorderMessage(), message);
        ASSERT_NE(dialog.CallRecorder(), nullptr);
        EXPECT_EQ(driver.Count(0xF004), 1u);

        // 32: the recording flag, the interface remembered.
        EXPECT_EQ(SendMessageA(window, message, 32, (LPARAM)gui.window), 0);
        EXPECT_EQ(dialog.RecorderGuiWindow(), gui.window);
        EXPECT_FALSE(dialog.IsCallRecording());
        // 1: start; the interface and the service hear of it at once.
        EXPECT_EQ(SendMessageA(window, message, 1, 0), 1);
        EXPECT_TRUE(dialog.IsCallRecording());
        EXPECT_EQ(SendMessageA(window, message, 32, (LPARAM)gui.window), 1);
        EXPECT_EQ(gui.notifications, (std::vector<std::pair<int, int>>{{8, 1}}));
        EXPECT_EQ(client.sent, std::vector<Sent>({{3, 1, 8}}));

        // The 200 ms timer polls the driver and writes what it reads; the call's end stops it.
        driver.QueueRead(AudioRecord(std::vector<uint8_t>(1920, 0x11)));
        driver.QueueRead(EventRecord(6));
        EXPECT_TRUE(PumpUntil([&] { return !dialog.IsCallRecording(); }, 3000));
        EXPECT_GE(driver.Count(0xF003), 2u);
        EXPECT_EQ(gui.notifications, (std::vector<std::pair<int, int>>{{8, 1}, {8, 2}}));
        EXPECT_EQ(client.sent, std::vector<Sent>({{3, 1, 8}, {3, 1, 9}}));

        // 16: the settings again; 2 without a recording: answered 1, the service told 9.
        EXPECT_EQ(SendMessageA(window, message, 16, (LPARAM)gui.window), 1);
        EXPECT_EQ(SendMessageA(window, message, 2, 0), 1);
        EXPECT_EQ(client.sent.back(), (Sent{3, 1, 9}));
        // 4: the interface alive (default handling).
        EXPECT_EQ(SendMessageA(window, message, 4, (LPARAM)gui.window), 0);

        // The client's stop (on suspend), then a recording the dialog's end finishes.
        EXPECT_EQ(SendMessageA(window, message, 1, 0), 1);
        dialog.StopCallRecording();
        EXPECT_FALSE(dialog.IsCallRecording());
        EXPECT_EQ(SendMessageA(window, message, 1, 0), 1);
        driver.QueueRead(AudioRecord(std::vector<uint8_t>(960, 0x22)));
        EXPECT_TRUE(PumpUntil([&] { return driver.PendingReads() == 0; }, 3000));
        client.sent.clear();
        dialog.Destroy();
        EXPECT_EQ(client.sent, std::vector<Sent>({{3, 1, 9}}));
        EXPECT_EQ(driver.Count(0xF005), 1u);
    }
    EXPECT_EQ(Traced("{OrvinAgent} CallRecorder Message>>> SESSION_RECORDER_MESSAGE_START"), 3u);
    EXPECT_EQ(Traced("{OrvinAgent} CallRecorder Message>>> SESSION_RECORDER_MESSAGE_STOP"), 1u);
    EXPECT_EQ(Traced("{OrvinAgent} CallRecorder Message>>> SESSION_RECORDER_GUI_ALIVE"), 1u);
    EXPECT_EQ(Traced("{OrvinAgent} CallRecorder Message>>> SESSION_RECORDER_SETTINGS_UPDATE_MESSAGE"), 1u);
    char window[64];
    snprintf(window, sizeof window, "{OrvinAgent} Recorder GUI window - 0x%x",
             (unsigned)(uintptr_t)gui.window);
    EXPECT_EQ(Traced(window), 4u);

    // Three recordings, each finished: the last with the audio read before the end.
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((directory + "\\*.wav").c_str(), &found);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        const std::string path = directory + "\\" + found.cFileName;
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_EQ(Word(bytes, 40), bytes.size() - 44) << found.cFileName;
        EXPECT_EQ(Word(bytes, 4), bytes.size() - 8) << found.cFileName;
        files.push_back(found.cFileName);
        DeleteFileA(path.c_str());
    } while (FindNextFileA(find, &found));
    FindClose(find);
    EXPECT_EQ(files.size(), 3u)
        << "recordings: the timer's, the one stopped on suspend, the one the end finished";
    SetCurrentDirectoryA(TempPath("").c_str());
    RemoveDirectoryA(directory.c_str());
}

TEST_F(DialogsTest, OneErrorBoxServesTheRunItsTextsReplacedAndOkOrCancelTellTheService) {
    CErrorMessageDlg box;
    ASSERT_TRUE(box.Create());
    g_pErrorMessageDlg = &box;
    SetErrorBox(ShowErrorMessage);
    HWND window = box.GetSafeHwnd();
    EXPECT_FALSE(IsWindowVisible(window)) << "made hidden at the start";
    EXPECT_EQ(Traced("{OrvinAgent} CErrorMessageDlg::OnInitDialog"), 1u);

    // The client's jack-swap handler shows it, with its owner.
    StubClient client;
    IMM swap = {};
    swap.Type = 1;
    swap.Code = 6;
    client.HandleJackSwapNotification(swap);
    Pump(50);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(Text(window), "Orvin Adapter");
    EXPECT_EQ(Text(GetDlgItem(window, 1018)), "Line and phone cables are reversed!");
    EXPECT_EQ(Traced("{OrvinAgent} ShowErrorMessage()"), 1u);

    // A second error reuses the box and replaces its texts.
    ShowErrorBox("Second caption", "Another message", &client);
    Pump(50);
    EXPECT_EQ(box.GetSafeHwnd(), window);
    EXPECT_EQ(Text(window), "Second caption");
    EXPECT_EQ(Text(GetDlgItem(window, 1018)), "Another message");

    // OK: hidden, kept, and the service told (hardware event 6, Info 0).
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(window, IDOK));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_FALSE(box.IsMarkedShown());
    EXPECT_EQ(client.sent, std::vector<Sent>({{1, 6, 0}}));
    EXPECT_TRUE(IsWindow(window));

    // Cancel does the same; without an owner nobody is told.
    client.HandleJackSwapNotification(swap);
    Pump(50);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_TRUE(box.IsMarkedShown());
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(window, IDCANCEL));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(client.sent, std::vector<Sent>({{1, 6, 0}, {1, 6, 0}}));
    ShowErrorBox("Orvin Adapter", "No owner", nullptr);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(window, IDOK));
    EXPECT_EQ(client.sent.size(), 2u);
    // An owner that went away is forgotten.
    ShowErrorBox("Orvin Adapter", "Owner goes", &client);
    box.ForgetOwner(&client);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(window, IDOK));
    EXPECT_EQ(client.sent.size(), 2u);

    SetErrorBox(nullptr);
    g_pErrorMessageDlg = nullptr;
    box.Destroy();
    ShowErrorMessage("Orvin Adapter", "no box", nullptr); // traced, nothing else
    EXPECT_EQ(Traced("{OrvinAgent} ShowErrorMessage()"), 6u);
}

// The error box with the buttons it is told pressed.
class KeyedErrorBox : public CErrorMessageDlg {
public:
    std::vector<UINT> pressed;

protected:
    void OnCommand(UINT id, UINT code, HWND control) override {
        pressed.push_back(id);
        CErrorMessageDlg::OnCommand(id, code, control);
    }
};

// The control that has the keyboard focus on a thread.
HWND FocusOf(DWORD thread) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

template <class Condition> bool WaitUntil(Condition condition, DWORD ms) {
    for (DWORD waited = 0; !condition(); waited += 10) {
        if (waited >= ms) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

std::atomic<bool> g_bShowErrorBox{false};

// On the GUI thread, inside the main dialog's loop: the error comes as the client's jack
// swap handler raises it there.
void CALLBACK ShowErrorWhenAsked(HWND, UINT, UINT_PTR, DWORD) {
    if (g_bShowErrorBox.exchange(false)) {
        ShowErrorBox("Orvin Adapter", "Line and phone cables are reversed!", nullptr);
    }
}

TEST_F(DialogsTest, KeysSentToTheErrorBoxReachItsButtonsWhileTheMainDialogRuns) {
    KeyedErrorBox box;
    ASSERT_TRUE(box.Create());
    g_pErrorMessageDlg = &box;
    SetErrorBox(ShowErrorMessage);
    HWND window = box.GetSafeHwnd();
    HWND ok = GetDlgItem(window, IDOK), cancel = GetDlgItem(window, IDCANCEL);
    const DWORD gui = GetCurrentThreadId();
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, ShowErrorWhenAsked);

    struct Seen {
        bool shown = false, focusOnOk = false, tabbedToCancel = false, hiddenByEnter = false;
        bool hiddenByEnterOnOk = false, hiddenByEscape = false, mainFound = false;
    } seen;
    std::thread user([&] {
        auto key = [](HWND control, WPARAM virtualKey) {
            PostMessageA(control, WM_KEYDOWN, virtualKey, 1);
            PostMessageA(control, WM_KEYUP, virtualKey, 0xC0000001);
        };
        auto show = [&] {
            g_bShowErrorBox = true;
            return WaitUntil([&] { return IsWindowVisible(window) && IsChild(window, FocusOf(gui)); }, 3000);
        };
        seen.shown = show();
        seen.focusOnOk = FocusOf(gui) == ok;
        // Tab: from OK to Cancel; Enter there presses Cancel.
        key(FocusOf(gui), VK_TAB);
        seen.tabbedToCancel = WaitUntil([&] { return FocusOf(gui) == cancel; }, 2000);
        key(FocusOf(gui), VK_RETURN);
        seen.hiddenByEnter = WaitUntil([&] { return !IsWindowVisible(window); }, 2000);
        // Enter on the default button, OK.
        if (show()) {
            key(ok, VK_RETURN);
            seen.hiddenByEnterOnOk = WaitUntil([&] { return !IsWindowVisible(window); }, 2000);
        }
        // Escape: Cancel.
        if (show()) {
            key(FocusOf(gui), VK_ESCAPE);
            seen.hiddenByEscape = WaitUntil([&] { return !IsWindowVisible(window); }, 2000);
        }
        // The main dialog's end (Escape there ends the agent's run).
        HWND main = nullptr;
        WaitUntil(
            [&] {
                for (main = FindWindowA("#32770", "OrvinAgent"); main;
                     main = FindWindowExA(nullptr, main, "#32770", "OrvinAgent")) {
                    if (GetWindowThreadProcessId(main, nullptr) == gui) {
                        return true;
                    }
                }
                return false;
            },
            3000);
        seen.mainFound = main != nullptr;
        PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });

    CConfigParams params;
    params.m_nUiEnable = 1;
    {
        COrvinAgentDlg dialog(kRoot);
        dialog.SetConfigParams(&params);
        dialog.SetInitializeSoftPhone([] { return 1; });
        dialog.DoModal();
    }
    user.join();
    KillTimer(nullptr, timer);
    EXPECT_TRUE(seen.shown);
    EXPECT_TRUE(seen.focusOnOk);
    EXPECT_TRUE(seen.tabbedToCancel) << "Tab moves from OK to Cancel";
    EXPECT_TRUE(seen.hiddenByEnter);
    EXPECT_TRUE(seen.hiddenByEnterOnOk);
    EXPECT_TRUE(seen.hiddenByEscape);
    EXPECT_TRUE(seen.mainFound);
    EXPECT_EQ(box.pressed, std::vector<UINT>({IDCANCEL, IDOK, IDCANCEL}))
        << "Enter on the focused Cancel, Enter on OK, Escape";

    SetErrorBox(nullptr);
    g_pErrorMessageDlg = nullptr;
    box.Destroy();
}

// Runs the About box modally on this thread while `inspect` looks at it from another.
struct AboutRun {
    std::string caption, product, notice, version, provider, link;
    bool linkEnabled = false;
    bool found = false;
    DWORD closedAfterMs = 0;
};

AboutRun RunAbout(CAboutDlg& about, std::atomic<int32_t>* flags, bool detach) {
    AboutRun run;
    std::thread inspector([&] {
        HWND box = nullptr;
        for (int i = 0; i < 200 && !box; ++i) {
            Sleep(20);
            box = FindWindowA("#32770", nullptr);
            while (box) {
                DWORD process = 0;
                GetWindowThreadProcessId(box, &process);
                if (process == GetCurrentProcessId() && GetDlgItem(box, 1015)) {
                    break;
                }
                box = FindWindowExA(nullptr, box, "#32770", nullptr);
            }
        }
        if (!box) {
            return;
        }
        run.found = true;
        run.caption = Text(box);
        run.product = Text(GetDlgItem(box, 1013));
        run.notice = Text(GetDlgItem(box, 1014));
        run.version = Text(GetDlgItem(box, 1015));
        run.provider = Text(GetDlgItem(box, 1016));
        run.link = Text(GetDlgItem(box, 1019));
        run.linkEnabled = IsWindowEnabled(GetDlgItem(box, 1019));
        if (detach) {
            const ULONGLONG start = GetTickCount64();
            flags->store(0x0D); // the adapter is gone
            while (IsWindow(box) && GetTickCount64() - start < 3000) {
                Sleep(10);
            }
            run.closedAfterMs = (DWORD)(GetTickCount64() - start);
        } else {
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    });
    about.DoModal(nullptr);
    inspector.join();
    return run;
}

TEST_F(DialogsTest, TheAboutBoxShowsTheProductDataAndClosesWhenTheAdapterGoes) {
    SetRootString(nullptr, "ProductName", "Orvin Phone Adapter");
    SetRootString(nullptr, "ProviderName", "Velcora");
    SetRootString(nullptr, "ProviderURL", "http://www.example.com/orvin");
    SetRootString(nullptr, "ApplicationName", "OrvinAgent");
    SetRootString(nullptr, "AppProviderName", "Velcora Ltd");
    SetRootString(nullptr, "SWVersion", "2.1.7");
    std::atomic<int32_t> flags{0x0F};
    static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t));
    {
        CAboutDlg about(kRoot, reinterpret_cast<const int32_t*>(&flags));
        const AboutRun run = RunAbout(about, &flags, true);
        ASSERT_TRUE(run.found);
        EXPECT_EQ(run.caption, "About OrvinAgent");
        EXPECT_EQ(run.product, "Orvin Phone Adapter");
        EXPECT_EQ(run.notice, "Copyright Velcora");
        EXPECT_EQ(run.version, "Version 2.1.7");
        EXPECT_EQ(run.provider, "Velcora Ltd ");
        EXPECT_EQ(run.link, "http://www.example.com/orvin");
        EXPECT_TRUE(run.linkEnabled);
        EXPECT_LE(run.closedAfterMs, 1000u) << "the 500 ms look at the flags ends it";
        EXPECT_EQ(about.Link().URL(), "http://www.example.com/orvin");
    }
    EXPECT_EQ(Traced("{OrvinAgent} URL: http://www.example.com/orvin"), 1u);

    // Without AppProviderName no link, even with a URL; without ProductName the product's
    // own line; without the flags it stays until OK.
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRoot, "AppProviderName");
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRoot, "ProductName");
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRoot, "ProviderName");
    CAboutDlg plain(kRoot, nullptr);
    const AboutRun run = RunAbout(plain, nullptr, false);
    ASSERT_TRUE(run.found);
    EXPECT_EQ(run.product, "Orvin - Zuzerude DoDE Dozavor");
    EXPECT_EQ(run.notice, "Copyright");
    EXPECT_EQ(run.link, "");
    EXPECT_EQ(run.provider, "");
    EXPECT_FALSE(run.linkEnabled);
    EXPECT_EQ(Traced("URL: "), 1u);
}

// The link with the system's side played by the test.
class TestLink : public CHyperlink {
public:
    int shellResult = 42;
    std::string htmlCommand;
    int runResult = 33;
    std::vector<std::string> ran, reported;

protected:
    int ShellOpen(const std::string& url) override { return shellResult; }
    std::string HtmlOpenCommand() override { return htmlCommand; }
    int RunCommand(const std::string& commandLine) override {
        ran.push_back(commandLine);
        return runResult;
    }
    void ReportError(const std::string& text) override { reported.push_back(text); }
};

TEST(HyperlinkTest, TheShellThenTheHtmlClassThenTheErrorText) {
    const std::pair<int, const char*> texts[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30,
         "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {7, "Unknown Error (7) occurred."},
        {-4, "Unknown Error (-4) occurred."},
    };
    for (const auto& [result, text] : texts) {
        EXPECT_EQ(CHyperlink::ErrorText(result), text) << result;
    }

    EXPECT_EQ(CHyperlink::CommandWithUrl("\"C:\\Web\\browse.exe\" -nohome \"%1\"", "http://a.b/"),
              "\"C:\\Web\\browse.exe\" -nohome  http://a.b/");
    EXPECT_EQ(CHyperlink::CommandWithUrl("C:\\Web\\browse.exe %1 -x", "http://a.b/"),
              "C:\\Web\\browse.exe  http://a.b/");
    EXPECT_EQ(CHyperlink::CommandWithUrl("C:\\Web\\browse.exe", "http://a.b/"),
              "C:\\Web\\browse.exe http://a.b/");

    // The shell opens it: visited.
    TestLink link;
    link.SetURL("http://www.example.com/");
    EXPECT_EQ(link.GotoURL(), 42);
    EXPECT_TRUE(link.IsVisited());
    EXPECT_TRUE(link.ran.empty());

    // The shell can not: the .htm class's command with the URL.
    TestLink fallback;
    fallback.SetURL("http://www.example.com/");
    fallback.shellResult = 31;
    fallback.htmlCommand = "\"C:\\Web\\browse.exe\" \"%1\"";
    EXPECT_EQ(fallback.GotoURL(), 33);
    EXPECT_EQ(fallback.ran, std::vector<std::string>({"\"C:\\Web\\browse.exe\"  http://www.example.com/"}));
    EXPECT_TRUE(fallback.IsVisited());
    EXPECT_TRUE(fallback.reported.empty());

    // Neither: the error text of the last result, not visited.
    TestLink failing;
    failing.SetURL("http://www.example.com/");
    failing.shellResult = 31;
    failing.htmlCommand = "browse.exe %1";
    failing.runResult = 2;
    EXPECT_EQ(failing.GotoURL(), 2);
    EXPECT_EQ(failing.reported, std::vector<std::string>({"The specified file was not found."}));
    EXPECT_FALSE(failing.IsVisited());
    TestLink noClass;
    noClass.shellResult = 31;
    EXPECT_EQ(noClass.GotoURL(), 31);
    EXPECT_TRUE(noClass.ran.empty());
    EXPECT_EQ(
        noClass.reported,
        std::vector<std::string>({"There is no application associated\nwith the given filename extension."}));
}

} // namespace
