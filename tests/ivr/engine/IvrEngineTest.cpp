// The IVR state machine and manager with hand-driven audio devices: what they read from the
// registry, the language they choose, the menu path's rules, what their reports carry, and
// how the manager handles the service's control records.
#include "ivr/IvrManager.h"
#include "ivr/IvrStateMachine.h"
#include "ivr/VoiceMenu.h"
#include "tests/audio/capture/FakeAudioBuffer.h"
#include "tests/ivr/menu/FakeMenuHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const char kRoot[] = "SOFTWARE\\OrvinTest\\IvrEngine";

void SetText(const char* sub, const char* name, const std::string& value) {
    std::string key = std::string(kRoot) + (*sub ? "\\" : "") + sub;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, value.c_str(),
                                             static_cast<DWORD>(value.size() + 1)));
}

void SetNumber(const char* sub, const char* name, DWORD value) {
    std::string key = std::string(kRoot) + (*sub ? "\\" : "") + sub;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_DWORD, &value, 4));
}

DWORD WaitingCount() {
    DWORD value = 0xFFFF, size = 4;
    RegGetValueA(HKEY_LOCAL_MACHINE, (std::string(kRoot) + "\\Config\\IVR").c_str(), "VoiceMessageWaiting",
                 RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

int32_t Word(const IMM& m, int i) {
    int32_t v;
    memcpy(&v, m.Buffer1 + 4 * i, 4);
    return v;
}

// Reports as sent; a dialogue's own thread may send them.
struct Sink : IIvrReportSink {
    std::vector<IMM> reports;
    std::mutex lock;
    void SendControlMsg(IMM* p) override {
        std::lock_guard<std::mutex> guard(lock);
        reports.push_back(*p);
    }
    std::vector<IMM> Reports() {
        std::lock_guard<std::mutex> guard(lock);
        return reports;
    }
};

// A dialogue on hand-driven buffers, on a system whose language the test chooses.
class TestStateMachine : public CIvrStateMachine {
public:
    using CIvrStateMachine::CIvrStateMachine;
    static inline std::string systemLanguage = "English";
    static inline DWORD openDelayMs = 0;
    // The capture buffers of the last dialogue whose audio was opened.
    static inline std::shared_ptr<FakeCaptureDevice::Record> captured;

protected:
    std::string GetSystemLanguageName() override { return systemLanguage; }
    bool OpenAudio(HWND) override {
        Sleep(openDelayMs);
        auto ring = std::make_shared<FakeRingState>(CPlaylistSound::kBufferBytes, TelephonePcmFormat());
        captured = std::make_shared<FakeCaptureDevice::Record>();
        return OpenAudioOn(std::make_unique<FakeCaptureDevice>(captured), std::make_unique<FakeRing>(ring));
    }
};

class IvrEngineTest : public MenuTest {
protected:
    void SetUp() override {
        MenuTest::SetUp();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
        SetText("", "SoftwareInstallationFolder", root);
        SetText("Config\\IVR", "SupportedLanguages", "German;English");
        SetText("Config\\IVR", "UserDefinedLanguage", "");
        TestStateMachine::systemLanguage = "English";
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
        MenuTest::TearDown();
    }
    void WriteMenu(const std::string& text) {
        CreateDirectoryA((root + "\\IVR\\German").c_str(), nullptr);
        for (const char* language : {"English", "German"}) {
            std::ofstream(root + "\\IVR\\" + language + "\\Menu.cfg") << text;
        }
    }
    std::string LanguageFor(const std::string& system) {
        TestStateMachine::systemLanguage = system;
        TestStateMachine machine(&sink, 1, true);
        return machine.Initialize(nullptr, root, kRoot) ? machine.GetWavPath() : "(failed)";
    }
    // Whether a line was traced with exactly this text, line feeds included.
    bool TracedAsIs(const std::string& text) {
        std::ifstream in(traceFile, std::ios::binary);
        const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return all.find("{OrvinAgent} " + text + "\n\r\n") != std::string::npos;
    }
    Sink sink;
};

TEST_F(IvrEngineTest, LanguageIsTheUsersElseTheSystemsWhenSupportedElseTheFirstNeverAnotherFolder) {
    EXPECT_EQ("\\IVR\\English", LanguageFor("English"));
    EXPECT_EQ("\\IVR\\German", LanguageFor("French"));
    SetText("Config\\IVR", "UserDefinedLanguage", "German");
    EXPECT_EQ("\\IVR\\German", LanguageFor("English"));
    // The text's own line feed, then the trace entry's.
    EXPECT_TRUE(TracedAsIs("CIvrStateMachine::SetLanguage: m_WavFilesPath = \\IVR\\German\n"));
    // Users may write the value: a name leading out of IVR, or to the voice-mail folder
    // where users may add a Menu.cfg, is passed over.
    for (const char* elsewhere :
         {"..\\..\\Elsewhere", "C:", "VoiceMail", "voicemail", "VOICEM~1", "VoiceMail.", "VoiceMail "}) {
        SetText("Config\\IVR", "UserDefinedLanguage", elsewhere);
        EXPECT_EQ("\\IVR\\English", LanguageFor("English")) << elsewhere;
    }
    SetText("Config\\IVR", "UserDefinedLanguage", "");
    SetText("Config\\IVR", "SupportedLanguages", "");
    EXPECT_EQ("(failed)", LanguageFor("English"));
    EXPECT_TRUE(Traced("CIvrStateMachine::SetLanguage: IVR Voice Menu Language cannot be identified!"));
}

TEST_F(IvrEngineTest, RegistryParametersAndTheReportsAndWaitingCountTheyCarry) {
    SetText("Config\\IVR", "Pin", "4711");
    SetNumber("Config\\IVR", "VoiceMessageWaiting", 2);
    SetNumber("Config\\IVR", "VoiceMsgDurationSec", 30);
    SetNumber("Config\\IVR", "AMGreetingDurationSec", 20);
    SetNumber("Config\\IVR", "RecordGreetingOnPound", 1);
    SetNumber("Config\\IVR", "AttachLineOnDCF", 1);
    SetNumber("Config\\IVR\\Pstn", "EnableAdminMode", 1);
    SetNumber("Config\\IVR\\Voip", "EnableAdminMode", 0);
    TestStateMachine pstn(&sink, 0x01020304, true);
    ASSERT_TRUE(pstn.Initialize(nullptr, root, kRoot));
    EXPECT_EQ("4711", pstn.GetPin());
    EXPECT_EQ(30, pstn.GetVoiceMsgDuration());
    EXPECT_EQ(20, pstn.GetAMGreetingDuration());
    EXPECT_EQ(1, pstn.GetAMGreetingRecordOnPound());
    EXPECT_TRUE(pstn.IsAttachLineOnDCF());
    EXPECT_TRUE(pstn.IsAdminModeEnabled());
    EXPECT_TRUE(Traced("CIvrStateMachine::GetRegParams: m_WaitingMsgCount = 2"));
    EXPECT_TRUE(Traced("CIvrStateMachine::GetRegParams: m_SupportedLangs = German"));
    EXPECT_TRUE(Traced("CIvrStateMachine::GetRegParams: m_SupportedLangs = English"));
    TestStateMachine voip(&sink, 9, false);
    ASSERT_TRUE(voip.Initialize(nullptr, root, kRoot));
    EXPECT_FALSE(voip.IsAdminModeEnabled());

    // A recording began: the count goes up, nothing is written, capturing goes on.
    pstn.AddWaitingMessage();
    IMM began = {};
    began.Type = 7;
    began.Code = 8;
    const int32_t parameter = 8;
    memcpy(began.Buffer1 + 4, &parameter, 4);
    pstn.ReportKeepRecording(&began);
    EXPECT_EQ(2u, WaitingCount());
    // The call handed back: IVR_TERMINATE_REQUEST (7, 6) with the count, written.
    pstn.Report(nullptr);
    ASSERT_EQ(2u, sink.reports.size());
    EXPECT_EQ(8, sink.reports[0].Code);
    EXPECT_EQ(3, sink.reports[0].Info);
    EXPECT_EQ(0x01020304, Word(sink.reports[0], 0));
    EXPECT_EQ(8, Word(sink.reports[0], 1));
    EXPECT_EQ(7, sink.reports[1].Type);
    EXPECT_EQ(6, sink.reports[1].Code);
    EXPECT_EQ(3, sink.reports[1].Info);
    EXPECT_EQ(0x01020304, Word(sink.reports[1], 0));
    EXPECT_EQ(3u, WaitingCount());
    // Removals and resets are written at once, never below 0.
    pstn.ResetWaitingMessages();
    EXPECT_EQ(0u, WaitingCount());
    pstn.RemoveWaitingMessage();
    EXPECT_EQ(0, pstn.GetWaitingMsgCount());
    EXPECT_EQ(0u, WaitingCount());

    // A message begun and the caller gone before its report: the dialogue's end counts it.
    {
        TestStateMachine hungUp(&sink, 2, true);
        ASSERT_TRUE(hungUp.Initialize(nullptr, root, kRoot));
        hungUp.AddWaitingMessage();
        EXPECT_EQ(0u, WaitingCount());
    }
    EXPECT_EQ(1u, WaitingCount());
}

TEST_F(IvrEngineTest, KeysGoDownThePathAndGoingBackStopsAtTheLastMenuAndTheFloor) {
    WriteMenu("[Root]\nType=DEFAULT\nMask=1-2\nSubMenus=RootKeys\n"
              "[RootKeys]\n1,Sub\n"
              "[Sub]\nType=DEFAULT\nMask=3\n"
              "[GoodBye]\nType=BYE\n");
    TestStateMachine machine(&sink, 4, true);
    ASSERT_TRUE(machine.Initialize(nullptr, root, "Root", kRoot, false));
    ASSERT_EQ(1u, machine.GetMenuPath().size());
    ASSERT_NE(nullptr, machine.GetGoodByeMenu());
    EXPECT_FALSE(machine.GoBack());
    // '1' leads from the root to the sub menu; afterwards the sub menu does not take it
    // (not in its keys), the root below does, and the sub menu stays current. '2' is the
    // root's but leads nowhere.
    machine.DispatchKey('1');
    ASSERT_EQ(2u, machine.GetMenuPath().size());
    CVoiceMenu* sub = machine.GetCurrentMenu();
    machine.DispatchKey('1'); // offered to the sub menu, then to the root: already current
    machine.DispatchKey('2');
    EXPECT_EQ(sub, machine.GetCurrentMenu());
    machine.SetFloorMenu(sub);
    EXPECT_FALSE(machine.GoBack());
    machine.SetFloorMenu(nullptr);
    EXPECT_TRUE(machine.GoBack());
    EXPECT_EQ(1u, machine.GetMenuPath().size());

    // A root section that builds nothing leaves the path empty; keys are then ignored.
    TestStateMachine empty(&sink, 5, true);
    ASSERT_TRUE(empty.Initialize(nullptr, root, "NoSuchSection", kRoot, false));
    EXPECT_TRUE(empty.GetMenuPath().empty());
    empty.DispatchKey('1');
    empty.PlayCurrentMenu();
    EXPECT_TRUE(Traced("CIvrStateMachine::PlayCurrentMenu iter == CurrentMenuPath.rend()"));
}

// A capture whose notifications never come is noticed within kCaptureSilenceMs (2 s) of
// its start: traced and restarted on a fresh buffer; each fresh buffer gets 1 s, three of
// them, then the dialogue ends with its report (IVR_TERMINATE_REQUEST, 7 6) so that the
// service can go on.
TEST_F(IvrEngineTest, SilentCaptureIsRestartedThenTheDialogueEndsWithItsReport) {
    SetNumber("Config\\IVR", "VoiceMessageWaiting", 1);
    TestStateMachine machine(&sink, 21, true);
    ASSERT_TRUE(machine.Initialize(nullptr, root, kRoot));
    const auto capture = TestStateMachine::captured;
    const ULONGLONG started = GetTickCount64();
    ASSERT_EQ(S_OK, machine.Start());
    ASSERT_EQ(2u, capture->buffers.size()); // Initialize's and the start's
    for (int i = 0; i < 1500 && sink.Reports().empty(); ++i)
        Sleep(10);
    const ULONGLONG ended = GetTickCount64() - started;
    const auto reports = sink.Reports();
    ASSERT_EQ(1u, reports.size()) << "no report after " << ended << " ms";
    EXPECT_EQ(7, reports[0].Type);
    EXPECT_EQ(6, reports[0].Code);
    EXPECT_EQ(1, reports[0].Info);
    EXPECT_EQ(21, Word(reports[0], 0));
    EXPECT_GE(ended, 4900u) << "a silence of 2 s, then 1 s for each of three fresh buffers";
    // Restarted three times: each silent buffer stopped and a fresh one started; the report
    // stopped the last.
    ASSERT_EQ(5u, capture->buffers.size());
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_GE(capture->buffers[i]->nStopCalls, 1) << "buffer " << i;
        EXPECT_EQ(1, capture->buffers[i + 1]->nStartCalls) << "buffer " << i + 1;
    }
    EXPECT_FALSE(capture->buffers[4]->bRunning);
    EXPECT_TRUE(Traced("CCapture::RestartCapture"));
    EXPECT_FALSE(Traced("Starting Playback"));
}

// After the restart the fresh buffer's notifications come: the dialogue goes on (its first
// notification plays the menu), and a capture that notifies is not restarted again.
TEST_F(IvrEngineTest, CaptureThatNotifiesAfterItsRestartGoesOn) {
    TestStateMachine machine(&sink, 22, true);
    ASSERT_TRUE(machine.Initialize(nullptr, root, kRoot));
    const auto capture = TestStateMachine::captured;
    ASSERT_EQ(S_OK, machine.Start());
    for (int i = 0; i < 400 && capture->buffers.size() < 3; ++i)
        Sleep(10);
    ASSERT_EQ(3u, capture->buffers.size()) << "not restarted";
    // 5 s of capture on the fresh buffer: a tenth of a second every 100 ms (the buffer
    // notifies every 10 ms: the notification at each tenth's end).
    FakeRingState& ring = *capture->buffers[2];
    ASSERT_EQ(200u, ring.notifications.size());
    for (int tenth = 0; tenth < 50; ++tenth) {
        Sleep(100);
        ring.dwSecondary = ring.dwPrimary = (tenth + 1) * 1600 % 32000;
        SetEvent(ring.notifications[tenth % 20 * 10 + 9].hEventNotify);
    }
    EXPECT_TRUE(sink.Reports().empty());
    EXPECT_EQ(3u, capture->buffers.size()) << "restarted although it notifies";
    EXPECT_TRUE(Traced("Starting Playback"));
}

// ---- The manager

IMM Control(int code, int32_t id, int32_t context = 0, int info = 0, const std::string& payload = "") {
    IMM m = {};
    m.Type = 7;
    m.Code = code;
    m.Info = info;
    memcpy(m.Buffer1, &id, 4);
    memcpy(m.Buffer1 + 4, &context, 4);
    memcpy(m.Payload, payload.data(), std::min(payload.size(), sizeof m.Payload));
    return m;
}

std::unique_ptr<CIvrStateMachine> MakeTestMachine(IvrManager* manager, int id, bool pstn) {
    return std::make_unique<TestStateMachine>(manager, id, pstn);
}

class IvrManagerTest : public IvrEngineTest {
protected:
    void SetUp() override {
        IvrEngineTest::SetUp();
        WriteMenu("[AMGreeting]\nType=DEFAULT\n[GoodBye]\nType=BYE\n");
        IvrManager::SetStateMachineMaker(MakeTestMachine);
        manager = IvrManager::Instance(nullptr, kRoot);
        ASSERT_NE(nullptr, manager);
    }
    void TearDown() override {
        if (manager)
            manager->Release();
        IvrManager::SetStateMachineMaker(nullptr);
        IvrEngineTest::TearDown();
    }
    // Every record posted so far has been handled.
    void Settle() {
        static int round = 0;
        const std::string mark = "settled-" + std::to_string(++round);
        manager->PostIvrEvent(Control(4, 0, 0, 0, mark));
        for (int i = 0; i < 500 && manager->GetReminderPath() != mark; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(mark, manager->GetReminderPath());
    }
    IvrManager* manager = nullptr;
};

TEST_F(IvrManagerTest, OneDialoguePerIdUntilItsTerminateOthersIgnored) {
    EXPECT_EQ(manager, IvrManager::Instance(nullptr, kRoot));
    EXPECT_EQ(root, manager->GetInstallationFolder());
    manager->PostIvrEvent(Control(0, 5, 2, 1)); // IVR_START, answering machine, PSTN side
    manager->PostIvrEvent(Control(0, 5, 2, 1));
    Settle();
    EXPECT_EQ(1u, manager->GetActiveCount());
    EXPECT_TRUE(manager->HasActiveStateMachines());
    EXPECT_TRUE(Traced("IvrManager::ReceiveControlMsg context IVR_CX_ANSWERING_MACHINE"));
    EXPECT_TRUE(Traced("CIvrStateMachine Initialized successfuly"));
    manager->PostIvrEvent(Control(1, 99)); // IVR_TERMINATE of an id never started
    manager->PostIvrEvent(Control(42, 5)); // an unknown code
    manager->PostIvrEvent(Control(2, 5));  // IVR_PLAY_SOUND: traced only
    Settle();
    EXPECT_EQ(1u, manager->GetActiveCount());
    EXPECT_TRUE(Traced("IvrManager::ReceiveControlMsg UNINDENTIFIED"));
    EXPECT_TRUE(Traced("IvrManager::ReceiveControlMsg IVR_PLAY_SOUND"));
    manager->PostIvrEvent(Control(1, 5));
    Settle();
    EXPECT_EQ(0u, manager->GetActiveCount());
    EXPECT_FALSE(manager->HasActiveStateMachines());

    // A dialogue that can not be initialized is neither kept nor started.
    SetText("Config\\IVR", "SupportedLanguages", "");
    manager->PostIvrEvent(Control(0, 6, 1));
    Settle();
    EXPECT_EQ(0u, manager->GetActiveCount());
    EXPECT_TRUE(Traced("CIvrStateMachine Initialize failed..."));
}

TEST_F(IvrManagerTest, ReleasedWhileADialogueIsBeingMadeItEndsAndTakesTheDialogue) {
    TestStateMachine::openDelayMs = 400;
    manager->PostIvrEvent(Control(0, 7, 2, 1));
    Sleep(150); // the dispatcher is inside the dialogue's initialization
    const ULONGLONG started = GetTickCount64();
    manager->Release();
    manager = nullptr;
    TestStateMachine::openDelayMs = 0;
    EXPECT_LT(GetTickCount64() - started, 5000u);
    EXPECT_TRUE(Traced("CIvrStateMachine::~CIvrStateMachine()"));
}

TEST_F(IvrManagerTest, RecordsAreHandledInArrivalOrderAndPayloadsReadWithinTheirBytes) {
    for (int i = 0; i < 10; ++i)
        manager->PostIvrEvent(Control(4, 0, 0, 0, "path" + std::to_string(i)));
    Settle();
    std::ifstream in(traceFile, std::ios::binary);
    std::string line;
    int next = 0;
    while (std::getline(in, line))
        if (line.find("IVR_STORE_REMINDER_PATH path" + std::to_string(next)) != std::string::npos)
            ++next;
    EXPECT_EQ(10, next);
    // A Payload without its terminating zero: its 512 bytes and nothing after.
    manager->PostIvrEvent(Control(4, 0, 0, 0, std::string(600, 'x')));
    for (int i = 0; i < 500 && manager->GetReminderPath().size() < 512; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(std::string(512, 'x'), manager->GetReminderPath());
}

} // namespace
