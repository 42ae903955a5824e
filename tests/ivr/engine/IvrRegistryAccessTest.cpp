// The IVR state machine on configuration keys that grant only reading, as a user without
// administrator rights meets them: every value is still read, and the waiting-message
// count, the one value it writes, is refused with a trace line while the dialogue and its
// reports go on. Registry names and trace texts are written out as they stand.
#include "ivr/IvrStateMachine.h"
#include "tests/audio/capture/FakeAudioBuffer.h"
#include "tests/ivr/menu/FakeMenuHost.h"
#include "tests/lib/ReadOnlyKey.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const char kRoot[] = "SOFTWARE\\OrvinTest\\IvrRegistryAccess";

void Set(const std::string& sub, const char* name, DWORD type, const void* data, DWORD size) {
    const std::string key = std::string(kRoot) + (sub.empty() ? "" : "\\" + sub);
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, type, data, size));
}

struct Sink : IIvrReportSink {
    std::vector<IMM> reports;
    void SendControlMsg(IMM* p) override { reports.push_back(*p); }
};

// A dialogue on hand-driven buffers.
class TestStateMachine : public CIvrStateMachine {
public:
    using CIvrStateMachine::CIvrStateMachine;

protected:
    std::string GetSystemLanguageName() override { return "English"; }
    bool OpenAudio(HWND) override {
        auto ring = std::make_shared<FakeRingState>(CPlaylistSound::kBufferBytes, TelephonePcmFormat());
        return OpenAudioOn(std::make_unique<FakeCaptureDevice>(std::make_shared<FakeCaptureDevice::Record>()),
                           std::make_unique<FakeRing>(ring));
    }
};

class IvrRegistryAccessTest : public MenuTest {
protected:
    void SetUp() override {
        MenuTest::SetUp();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
        MenuTest::TearDown();
    }
};

TEST_F(IvrRegistryAccessTest, ValuesAreReadWhereOnlyReadingIsGrantedAndARefusedCountIsTraced) {
    Set("", "SoftwareInstallationFolder", REG_SZ, root.c_str(), (DWORD)root.size() + 1);
    Set("Config\\IVR", "SupportedLanguages", REG_SZ, "English", 8);
    Set("Config\\IVR", "Pin", REG_SZ, "2468", 5);
    const DWORD waiting = 4, duration = 25, admin = 1;
    Set("Config\\IVR", "VoiceMessageWaiting", REG_DWORD, &waiting, 4);
    Set("Config\\IVR", "VoiceMsgDurationSec", REG_DWORD, &duration, 4);
    Set("Config\\IVR\\Pstn", "EnableAdminMode", REG_DWORD, &admin, 4);
    Set("Config\\IVR\\Voip", "EnableAdminMode", REG_DWORD, &admin, 4);
    std::vector<std::unique_ptr<ReadOnlyKey>> readOnly;
    for (const char* sub : {"", "\\Config", "\\Config\\IVR", "\\Config\\IVR\\Pstn", "\\Config\\IVR\\Voip"}) {
        readOnly.push_back(std::make_unique<ReadOnlyKey>(std::string(kRoot) + sub));
        ASSERT_TRUE(readOnly.back()->Applied()) << sub;
    }

    Sink sink;
    {
        TestStateMachine machine(&sink, 7, true);
        ASSERT_TRUE(machine.Initialize(nullptr, root, kRoot));
        EXPECT_EQ("2468", machine.GetPin());
        EXPECT_EQ(25, machine.GetVoiceMsgDuration());
        EXPECT_TRUE(machine.IsAdminModeEnabled());
        EXPECT_EQ(4, machine.GetWaitingMsgCount());
        EXPECT_TRUE(Traced("CIvrStateMachine::GetRegParams: m_WaitingMsgCount = 4"));

        // A reset can not be written: traced with the refusal (5, access denied); the count
        // the dialogue keeps, and reports, is the new one.
        machine.ResetWaitingMessages();
        EXPECT_TRUE(Traced("CIvrStateMachine: VoiceMessageWaiting = 0 can not be written (Err=5)"));
        machine.Report(nullptr);
        ASSERT_EQ(1u, sink.reports.size());
        EXPECT_EQ(7, sink.reports[0].Type);
        EXPECT_EQ(6, sink.reports[0].Code);
        EXPECT_EQ(0, sink.reports[0].Info);
    }
    readOnly.clear();
    DWORD stored = 0, size = 4;
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueA(HKEY_LOCAL_MACHINE, (std::string(kRoot) + "\\Config\\IVR").c_str(),
                                          "VoiceMessageWaiting", RRF_RT_REG_DWORD, nullptr, &stored, &size));
    EXPECT_EQ(4u, stored) << "nothing was written";
}

} // namespace
