// The API client core: session states, the power decision, the event entry's dispatch,
// the tokenizer, and the answering-machine client's start against a served "VCORE\IOMAN".
#include "devicelink/MessageCatalogue.h"
#include "softphone/AnsweringMachineClient.h"
#include "softphone/MessageEngine.h"
#include "softphone/OrvinApiClient.h"
#include "tests/devicelink/unit/TestPipeServer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// The main dialog's side, recorded.
class FakeDialog : public IOrvinAgentDialog {
public:
    void SetApiClient(COrvinApiClient* client) override { this->client = client; }
    void SetMessageEngine(CMessageEngine*) override {}
    void SetRegistryRoot(const std::string&) override {}
    void RefreshStatus() override { ++refreshes; }
    void AddTrafficLine(const char* text, int direction) override {
        lines.push_back(std::to_string(direction) + ":" + text);
    }
    void RingIndicationOn() override { ring = true; }
    void RingIndicationOff() override { ring = false; }
    void BusyIndication() override {}
    bool IsCallRecording() override { return recording; }
    void StopCallRecording() override { recording = false; }

    COrvinApiClient* client = nullptr;
    int refreshes = 0;
    bool ring = false;
    bool recording = false;
    std::vector<std::string> lines;
};

// A client that records what the core hands to the softphone side.
class TestClient : public COrvinApiClient {
public:
    void ConnectToApiServer() override { ++connects; }
    void OnApiServerConnected() override { ++connected; }
    void SetCallStatus(int status, int info) override { statuses.push_back(status); }
    void OnDtmfKey(const IMM& message) override { keys += (char)message.Info; }
    void GoToVoiceMail() override { ++voicemail; }

    void SetFlags(int32_t flags) { m_nConnectionFlags = flags; }
    void SetOnline(int status) { m_nOnlineStatus = status; }
    void Append(const char* digits) { m_CollectedDigits += digits; }

    int connects = 0, connected = 0, voicemail = 0;
    std::vector<int> statuses;
    std::string keys;
};

IMM Event(int type, int code, int info) {
    IMM message = {};
    message.Type = type;
    message.Code = code;
    message.Info = info;
    return message;
}

class ClientCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_client.SetConfigParams(&m_params);
        m_client.SetMainDialog(&m_dialog);
    }
    CConfigParams m_params;
    FakeDialog m_dialog;
    TestClient m_client;
};

TEST_F(ClientCoreTest, SwitchStateKeepsOnHoldAndFoldsRefusedAndCancelledIntoFinished) {
    EXPECT_EQ(m_client.Session().m_nState, 9) << "idle at the start";
    m_client.SwitchState(5);
    m_client.SwitchState(6);
    EXPECT_EQ(m_client.Session().m_nState, 5) << "ONHOLD leaves INPROGRESS";
    m_client.SwitchState(4);
    m_client.SwitchState(13);
    EXPECT_EQ(m_client.Session().m_nState, 9) << "CANCELLED from RINGING is FINISHED";
    m_client.SwitchState(7);
    m_client.SwitchState(11);
    EXPECT_EQ(m_client.Session().m_nState, 9) << "REFUSED is FINISHED";
    m_client.SwitchState(4);
    m_client.SwitchState(14);
    m_client.SwitchState(1);
    EXPECT_EQ(m_client.Session().m_nState, 4) << "14 and 1 change nothing";
}

// The range 2 to 13 at both ends, and the two values inside it that are not stored as they
// are: every state the Skype client switches to on a call's way, ROUTING first.
TEST_F(ClientCoreTest, SwitchStateAtTheEndsOfItsRange) {
    m_client.SwitchState(2);
    EXPECT_EQ(m_client.Session().m_nState, 2) << "ROUTING is stored";
    m_client.SwitchState(1);
    EXPECT_EQ(m_client.Session().m_nState, 2) << "1 is below the range";
    m_client.SwitchState(3);
    EXPECT_EQ(m_client.Session().m_nState, 3) << "FAILED is stored";
    m_client.SwitchState(14);
    EXPECT_EQ(m_client.Session().m_nState, 3) << "14 is above the range";
    m_client.SwitchState(6);
    EXPECT_EQ(m_client.Session().m_nState, 3) << "ONHOLD leaves the state";
    m_client.SwitchState(12);
    EXPECT_EQ(m_client.Session().m_nState, 12) << "BUSY is stored";
    m_client.SwitchState(13);
    EXPECT_EQ(m_client.Session().m_nState, 9) << "CANCELLED is FINISHED";
    m_client.SwitchState(2);
    m_client.SwitchState(11);
    EXPECT_EQ(m_client.Session().m_nState, 9) << "REFUSED is FINISHED";
    m_client.SwitchState(0);
    m_client.SwitchState(-1);
    EXPECT_EQ(m_client.Session().m_nState, 9);
}

TEST_F(ClientCoreTest, StandbyQueriesFollowTheConnectionCallAndForwardingState) {
    const LRESULT deny = 0x424D5144;
    m_client.SetFlags(0x07);
    m_client.SwitchState(5);
    EXPECT_EQ(m_client.OnPowerManagementNotification(0), 0) << "not ready: allowed without any check";
    m_client.SetFlags(0x0F);
    EXPECT_EQ(m_client.OnPowerManagementNotification(0), deny) << "in a call";
    m_params.m_nPstnIvrMode = 1;
    m_params.m_nStandbyDeniedOnCFW = 0;
    EXPECT_EQ(m_client.OnPowerManagementNotification(0), deny) << "the in-call result stands";
    m_client.SwitchState(9);
    EXPECT_EQ(m_client.OnPowerManagementNotification(0), 0) << "forwarding, but standby allowed with it";
    m_params.m_nStandbyDeniedOnCFW = 1;
    EXPECT_EQ(m_client.OnPowerManagementNotification(0), deny) << "forwarding denies standby";
    for (WPARAM other : {2, 10, 7}) {
        EXPECT_EQ(m_client.OnPowerManagementNotification(other), 0) << other;
    }
    m_dialog.recording = true;
    EXPECT_EQ(m_client.OnPowerManagementNotification(4), 0);
    EXPECT_FALSE(m_dialog.recording) << "a suspend stops the call recording";
}

TEST_F(ClientCoreTest, TheSystemIsKeptAwakeExactlyWhileAStandbyQueryWouldBeDenied) {
    m_client.SetFlags(0x0F);
    m_client.UpdateStandbyHold();
    EXPECT_FALSE(m_client.IsHoldingStandby());
    m_client.SwitchState(4);
    EXPECT_TRUE(m_client.IsHoldingStandby()) << "ringing";
    m_client.SwitchState(9);
    EXPECT_FALSE(m_client.IsHoldingStandby());
    m_params.m_nVoipIvrMode = 1;
    m_client.UpdateStandbyHold();
    EXPECT_TRUE(m_client.IsHoldingStandby()) << "call forwarding that denies standby";
    m_params.m_nStandbyDeniedOnCFW = 0;
    m_client.UpdateStandbyHold();
    EXPECT_FALSE(m_client.IsHoldingStandby());
    m_params.m_nStandbyDeniedOnCFW = 1;
    m_client.SetConnectionFlags(0, 0x08);
    EXPECT_FALSE(m_client.IsHoldingStandby()) << "not ready: the query would be allowed";
}

TEST_F(ClientCoreTest, AdapterEventsReachTheirHandlers) {
    m_client.Append("12");
    m_client.HandleAdapterEvent(Event(1, 0, 0)); // off-hook
    EXPECT_EQ(m_client.ConnectionFlags() & 0x10, 0x10);
    EXPECT_EQ(m_client.HookState(), 0);
    m_client.HandleAdapterEvent(Event(1, 1, '5'));
    EXPECT_EQ(m_client.keys, "5");
    m_client.HandleAdapterEvent(Event(1, 0, 1)); // on-hook
    EXPECT_EQ(m_client.ConnectionFlags() & 0x10, 0);
    EXPECT_EQ(m_client.CollectedDigits(), "") << "on-hook clears the digits";

    m_client.Append("34");
    m_client.HandleAdapterEvent(Event(0, 7, 0));
    EXPECT_EQ(m_client.CollectedDigits(), "34") << "LOCALHOLD keeps the digits";
    for (int code : {5, 8, 9, 14, 4}) {
        m_client.HandleAdapterEvent(Event(0, code, 0));
    }
    EXPECT_EQ(m_client.statuses, (std::vector<int>{7, 5, 8, 9, 14})) << "RINGING is no request";
    EXPECT_EQ(m_client.CollectedDigits(), "");

    m_client.HandleAdapterEvent(Event(1, 5, 0));
    EXPECT_EQ(m_client.LineState(), 0);
    m_client.HandleAdapterEvent(Event(8, 0, 0));
    EXPECT_EQ(m_client.voicemail, 1);
    m_client.HandleAdapterEvent(Event(8, 1, 1));
    EXPECT_EQ(m_params.m_nVoiceMessageWaiting, 1);
    m_client.HandleAdapterEvent(Event(1, 8, 0)); // the adapter goes
    EXPECT_EQ(m_client.ConnectionFlags() & 0x02, 0);

    ASSERT_GE(m_dialog.lines.size(), 3u);
    EXPECT_EQ(m_dialog.lines[0], "3:HwEvent: MSG_TYPE_HW_EVENT: NOTIFY_HOOK_STATE, OffHook");
    EXPECT_EQ(m_dialog.lines.back(), "0:Orvin Adapter disconnected!");
}

TEST_F(ClientCoreTest, NothingIsHandledOnceTheClientIsShuttingDown) {
    m_client.SetShuttingDown();
    m_client.HandleAdapterEvent(Event(1, 0, 0));
    m_client.HandleAdapterEvent(Event(1, 7, 0));
    EXPECT_EQ(m_client.ConnectionFlags(), 0x01);
    EXPECT_EQ(m_client.connects, 0);
    EXPECT_TRUE(m_dialog.lines.empty());
}

TEST(TokenizerTest, RunsOfDelimitersCountAsOne) {
    CTokenizer tokenizer;
    tokenizer.SetText(",,CALL 1234  STATUS,RINGING,,");
    EXPECT_EQ(tokenizer.CountTokens(), 4);
    EXPECT_EQ(tokenizer.NextToken(), "CALL") << "counting left the position at the start";
    tokenizer.SkipTokens(2);
    EXPECT_EQ(tokenizer.NextToken(), "RINGING");
    EXPECT_EQ(tokenizer.NextToken(), "");
    tokenizer.ToLower();
    EXPECT_EQ(tokenizer.Joined(), "call 1234 status ringing");
    VString tokens = tokenizer.AllTokens();
    EXPECT_EQ(tokens.Size(), 4);
    EXPECT_EQ(tokens[1], "1234");
    EXPECT_EQ(tokens[4], "") << "out of range";
    EXPECT_EQ(tokens[-1], "");
}

// The answering-machine client's start, as the service sees it.
class AnsweringMachineTest : public ::testing::Test {
protected:
    std::vector<uint8_t> ReadMessage() {
        auto header = m_server.Read(28);
        if (header.size() != 28) {
            return {};
        }
        uint32_t size;
        memcpy(&size, header.data(), 4);
        auto data = m_server.Read(size - 28);
        header.insert(header.end(), data.begin(), data.end());
        return header;
    }
    // (kind, Param 0 .. 2) of the next message.
    std::vector<uint32_t> Next() {
        auto message = ReadMessage();
        if (message.size() < 28) {
            return {};
        }
        uint32_t fields[7];
        memcpy(fields, message.data(), 28);
        return {fields[2], fields[3], fields[4], fields[5]};
    }
    TestPipeServer m_server{"VCORE\\IOMAN"};
};

TEST_F(AnsweringMachineTest, RegistersAnnouncesItselfAndAnswersTheAdaptersArrival) {
    CConfigParams params;
    CAnsweringMachineClient client(1);
    EXPECT_EQ(client.ConnectionFlags(), 0x0D);
    EXPECT_EQ(client.DisplayName(), "TAM");
    client.SetConfigParams(&params);
    client.Init(nullptr, "SOFTWARE\\OrvinTest\\NoSuchRoot");
    client.OnVoipAdapterAttach();
    ASSERT_TRUE(m_server.Accept());
    EXPECT_EQ(m_server.Read(4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(Next(), (std::vector<uint32_t>{2, 0xF000000E, 0, 0})) << "registration";
    EXPECT_EQ(Next(), (std::vector<uint32_t>{3, 3, 1, 0})) << "NotifyAgentStatus AgentAlive";
    EXPECT_EQ(Next(), (std::vector<uint32_t>{3, 3, 1, 7})) << "answering machine, variant 1";
    EXPECT_EQ(Next(), (std::vector<uint32_t>{3, 3, 1, 1})) << "AgentConnectedToVoip";

    // NOTIFY_OPEN_DEVICE: attach handling, then type 1 code 6 info 0.
    const uint32_t open[] = {28, 0x3E8, 3, 1, 7, 0, 0};
    ASSERT_TRUE(m_server.Write(open, sizeof open));
    // The event is handed to this thread: run its messages until the answer comes.
    std::vector<uint32_t> reply;
    for (int i = 0; i < 100 && reply.empty(); ++i) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        if (m_server.Quiet(20)) {
            continue;
        }
        EXPECT_EQ(Next(), (std::vector<uint32_t>{3, 3, 1, 7}));
        EXPECT_EQ(Next(), (std::vector<uint32_t>{3, 3, 1, 1}));
        reply = Next();
    }
    EXPECT_EQ(reply, (std::vector<uint32_t>{3, 1, 6, 0}));

    client.PrepareForClosing();
    EXPECT_EQ(Next(), (std::vector<uint32_t>{3, 3, 1, 3})) << "NotifyAgentStatus 3 at closing";
}

// The adapter goes and comes back (the service restarted): the answering machine has no
// softphone to attach again, so it is attached and ready as before, and a standby query in
// a call is refused again.
TEST(AnsweringMachineClientTest, KeepsItsSoftphoneFlagsAcrossTheAdaptersDetach) {
    CConfigParams params;
    CAnsweringMachineClient client(0);
    client.SetConfigParams(&params);
    client.HandleAdapterEvent(Event(1, 7, 0)); // NOTIFY_OPEN_DEVICE
    EXPECT_EQ(client.ConnectionFlags(), 0x0F);
    client.HandleAdapterEvent(Event(1, 8, 0)); // NOTIFY_CLOSE_DEVICE
    EXPECT_EQ(client.ConnectionFlags(), 0x0D);
    client.HandleAdapterEvent(Event(1, 7, 0));
    EXPECT_EQ(client.ConnectionFlags(), 0x0F);
    client.SwitchState(5);
    EXPECT_EQ(client.OnPowerManagementNotification(0), 0x424D5144);
    EXPECT_TRUE(client.IsHoldingStandby());
    client.SwitchState(9);
}

} // namespace

namespace {

// The message engine's window, driven with SendMessage from the test's thread.
class EngineClient : public COrvinApiClient {
public:
    void ConnectToApiServer() override {}
    void OnApiServerMessage(const COPYDATASTRUCT* data) override { sizes.push_back(data->cbData); }
    std::vector<DWORD> sizes;
};
class PlainEngine : public CMessageEngine {
public:
    void OnAttachMessage(UINT message, WPARAM, LPARAM) override { ++attachMessages; }
    LRESULT DispatchMessageToApiServer(COPYDATASTRUCT*) override { return 0; }
    int attachMessages = 0;
};
class CountingApplication : public IOrvinAgentApplication {
public:
    void LoadRegistryParameters() override { ++loads; }
    int loads = 0;
};

TEST(MessageEngineTest, ChannelCommandsCopiedDataAndPowerBroadcasts) {
    CountingApplication application;
    SetAgentApplication(&application);
    EngineClient client;
    PlainEngine engine;
    ASSERT_TRUE(engine.Create(&client));
    HWND window = engine.Window();
    // The stored title, as other programs read it (in this process GetWindowText would ask
    // the window, which answers every message itself).
    wchar_t title[64] = {};
    InternalGetWindowText(window, title, 64);
    EXPECT_STREQ(title, L"MessageOnlyWindowTitle");
    EXPECT_EQ(GetParent(window), nullptr) << "top-level, so broadcasts reach it";

    const UINT channel = RegisterWindowMessageA("WM_APP_MESSAGE_CHANNEL");
    HWND monitor = reinterpret_cast<HWND>(0x4242);
    EXPECT_EQ(SendMessageA(window, channel, (WPARAM)monitor, 1), 1);
    EXPECT_EQ(client.MonitorWindow(), monitor);
    EXPECT_EQ(engine.MonitorWindow(), monitor);
    EXPECT_EQ(SendMessageA(window, channel, 0, 2), 1);
    EXPECT_EQ(application.loads, 1) << "MonitorNotifyRegistryChanges reloads the configuration";
    EXPECT_EQ(SendMessageA(window, channel, 0, 77), 1) << "unknown commands do nothing";
    EXPECT_EQ(engine.LastChannelCommand(), 77);
    EXPECT_EQ(client.MonitorWindow(), monitor);
    EXPECT_EQ(SendMessageA(window, channel, 0, 8), 1);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "MonitorNotifyAgentShutdown";

    std::string huge(1 << 20, 'x');
    for (DWORD size : std::vector<DWORD>{0, 3, (DWORD)huge.size()}) {
        COPYDATASTRUCT data = {0, size, size ? huge.data() : nullptr};
        EXPECT_EQ(SendMessageA(window, WM_COPYDATA, 0, (LPARAM)&data), 1);
    }
    EXPECT_EQ(client.sizes, (std::vector<DWORD>{0, 3, 1u << 20})) << "the client gets the data as sent";

    EXPECT_EQ(SendMessageA(window, WM_POWERBROADCAST, 0, 1), 1) << "a query the client allows is granted";
    EXPECT_EQ(SendMessageA(window, WM_POWERBROADCAST, 4, 0), 1);
    EXPECT_GT(engine.attachMessages, 8) << "every message also reaches OnAttachMessage";
    SetAgentApplication(nullptr);
}

TEST(MessageEngineTest, AMonitorThatStopsAnsweringDoesNotHoldTheAgent) {
    // The monitor's window on a thread that stops pumping messages for 30 s.
    HWND monitor = nullptr;
    HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE resume = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool resumed = false;
    std::thread stuck([&] {
        monitor = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        SetEvent(created);
        resumed = WaitForSingleObject(resume, 30000) == WAIT_TIMEOUT;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
        DestroyWindow(monitor);
    });
    WaitForSingleObject(created, 10000);
    EngineClient client;
    client.SetMonitorWindow(monitor);
    client.NotifyMonitor(0, 0);
    SetEvent(resume);
    stuck.join();
    EXPECT_FALSE(resumed) << "NotifyMonitor waited until the monitor answered again";
    CloseHandle(created);
    CloseHandle(resume);
}

} // namespace
