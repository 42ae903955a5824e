// The settings program's model without windows, on a registry root and folders of the
// test's own: what Apply writes (the registry's own names and bytes), what bad input and a
// refused key leave (nothing), the voice messages and their count, the greeting's import.
#include "settings/model/AnsweringSettings.h"
#include "settings/model/Diagnostics.h"
#include "settings/model/Greeting.h"
#include "settings/model/PinRule.h"
#include "settings/model/RegistryChanges.h"
#include "settings/model/SoftphoneSetting.h"
#include "settings/model/VoiceMessages.h"
#include "tests/lib/ReadOnlyKey.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

class SettingsModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Location.root = "SOFTWARE\\OrvinTest\\Settings" + std::to_string(GetCurrentProcessId());
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        m_Location.installFolder =
            std::string(temp) + "OrvinSettingsTest" + std::to_string(GetCurrentProcessId());
        for (const char* key : {"", "\\Config\\General", "\\Config\\IVR\\Pstn", "\\Config\\IVR\\Voip"}) {
            HKEY made = nullptr;
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, (m_Location.root + key).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &made, nullptr);
            RegCloseKey(made);
        }
        for (const char* folder : {"", "\\IVR", "\\IVR\\English", "\\IVR\\VoiceMail"}) {
            CreateDirectoryA((m_Location.installFolder + folder).c_str(), nullptr);
        }
        Write(m_Location.installFolder + "\\IVR\\English\\Menu.cfg", "[AMGreeting]\n");
        SetString("Config\\IVR", "SupportedLanguages", "English");
    }
    void TearDown() override {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_Location.root.c_str());
        SHFILEOPSTRUCTA remove = {};
        const std::string from = m_Location.installFolder + std::string(1, '\0');
        remove.wFunc = FO_DELETE;
        remove.pFrom = from.c_str();
        remove.fFlags = FOF_NO_UI;
        SHFileOperationA(&remove);
    }

    std::string Key(const char* relative) const { return m_Location.root + "\\" + relative; }
    void SetString(const char* key, const char* name, const char* value) const {
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, Key(key).c_str(), name, REG_SZ, value, (DWORD)strlen(value) + 1);
    }
    void SetDword(const char* key, const char* name, DWORD value) const {
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, Key(key).c_str(), name, REG_DWORD, &value, sizeof value);
    }
    // The value's bytes; empty when it is missing.
    std::vector<BYTE> Value(const char* key, const char* name) const {
        std::vector<BYTE> data(512);
        DWORD size = (DWORD)data.size();
        if (RegGetValueA(HKEY_LOCAL_MACHINE, Key(key).c_str(), name, RRF_RT_ANY, nullptr, data.data(),
                         &size) != ERROR_SUCCESS) {
            return {};
        }
        data.resize(size);
        return data;
    }
    std::string Text(const char* key, const char* name) const {
        const std::vector<BYTE> data = Value(key, name);
        return data.empty() ? "<missing>" : std::string((const char*)data.data());
    }
    DWORD Number(const char* key, const char* name) const {
        const std::vector<BYTE> data = Value(key, name);
        return data.size() == 4 ? *(const DWORD*)data.data() : 0xDEADBEEF;
    }
    static void Write(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // A PCM WAV of `seconds` of a tone at `rate` with `channels` (16-bit), as sox writes it.
    static void WriteWav(const std::string& path, unsigned rate, unsigned channels, double seconds) {
        const unsigned frames = (unsigned)(rate * seconds), bytes = frames * channels * 2;
        std::string data(44 + bytes, '\0');
        auto put32 = [&](size_t at, uint32_t v) { memcpy(&data[at], &v, 4); };
        auto put16 = [&](size_t at, uint16_t v) { memcpy(&data[at], &v, 2); };
        memcpy(&data[0], "RIFF", 4), put32(4, 36 + bytes), memcpy(&data[8], "WAVEfmt ", 8), put32(16, 16);
        put16(20, 1), put16(22, (uint16_t)channels), put32(24, rate), put32(28, rate * channels * 2);
        put16(32, (uint16_t)(channels * 2)), put16(34, 16), memcpy(&data[36], "data", 4), put32(40, bytes);
        for (unsigned i = 0; i < frames * channels; ++i) {
            put16(44 + 2 * i, (uint16_t)(int16_t)(8000 * ((i / channels) % 20 < 10 ? 1 : -1)));
        }
        Write(path, data);
    }
    AnsweringInput GoodInput() const {
        AnsweringInput input;
        input.voiceMessageSeconds = "45";
        input.greetingSeconds = "20";
        return input;
    }

    SettingsLocation m_Location;
};

TEST(PinRuleTest, TakesFourToEightDigitsThatAreNeitherOneDigitNorARun) {
    for (const char* good : {"1357", "2580", "12345679", "9035", "1243"}) {
        EXPECT_EQ(CheckPin(good), PinProblem::kNone) << good;
    }
    EXPECT_EQ(CheckPin("123"), PinProblem::kTooShort);
    EXPECT_EQ(CheckPin("135792468"), PinProblem::kTooLong);
    EXPECT_EQ(CheckPin("12a4"), PinProblem::kNotDigits);
    EXPECT_EQ(CheckPin(" 1357"), PinProblem::kNotDigits);
    EXPECT_EQ(CheckPin("0000"), PinProblem::kAllSame);
    for (const char* run : {"1234", "7890", "8901", "4321", "1098", "98765432", "0123"}) {
        EXPECT_EQ(CheckPin(run), PinProblem::kRun) << run;
    }
}

TEST_F(SettingsModelTest, ChoosingASoftphoneWritesTheRecordWithItsCheckByteAndKeepsTheOthersAvailable) {
    // Skype selected, QQ available: word 0xD0000000, check byte 0xBC.
    const BYTE skype[8] = {0x00, 0x00, 0x00, 0xD0, 0xBC, 0, 0, 0};
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, Key("Config\\General").c_str(), "SoftPhoneType", REG_BINARY, skype,
                    8);
    CSoftphoneSetting setting;
    setting.Load(m_Location.root);
    EXPECT_EQ(setting.SelectedType(), 0);
    CRegistryChanges changes;
    EXPECT_FALSE(setting.Prepare(setting.SelectedOption(), changes)); // the same choice writes nothing
    ASSERT_TRUE(setting.Prepare(1, changes));                         // QQ
    std::string error;
    ASSERT_TRUE(changes.Commit(&error)) << error;
    // QQ selected, Skype's availability kept: word 0x70000000, check byte 0x13.
    EXPECT_EQ(Value("Config\\General", "SoftPhoneType"), (std::vector<BYTE>{0, 0, 0, 0x70, 0x13, 0, 0, 0}));
}

TEST_F(SettingsModelTest, AnsweringMachineInputIsCheckedWholeBeforeAnythingIsWritten) {
    SetString("Config\\IVR", "Pin", "");
    SetDword("Config\\IVR\\Pstn", "EnableAdminMode", 1);
    const AnsweringValues current = CAnsweringSettings::Load(m_Location.root);
    EXPECT_FALSE(current.pinSet);
    const std::vector<std::string> languages = CAnsweringSettings::InstalledLanguages(m_Location.IvrFolder());
    EXPECT_EQ(languages, std::vector<std::string>{"English"});
    struct Bad {
        AnsweringField field;
        void (*spoil)(AnsweringInput&);
    } bad[] = {
        {AnsweringField::kPin, [](AnsweringInput& in) { in.newPin = in.repeatedPin = "4321"; }},
        {AnsweringField::kRepeatedPin,
         [](AnsweringInput& in) { in.newPin = "2580", in.repeatedPin = "2581"; }},
        {AnsweringField::kVoiceMessage, [](AnsweringInput& in) { in.voiceMessageSeconds = "4"; }},
        {AnsweringField::kGreeting, [](AnsweringInput& in) { in.greetingSeconds = "12x"; }},
        {AnsweringField::kLanguage, [](AnsweringInput& in) { in.language = "..\\..\\Elsewhere"; }},
    };
    for (const Bad& each : bad) {
        AnsweringInput input = GoodInput();
        input.newPin = input.repeatedPin = "2580";
        each.spoil(input);
        CRegistryChanges changes;
        std::string problem;
        AnsweringField field = AnsweringField::kNone;
        EXPECT_FALSE(CAnsweringSettings::Prepare(m_Location.root, current, input, languages, changes,
                                                 &problem, &field));
        EXPECT_EQ(field, each.field) << problem;
        EXPECT_TRUE(changes.Empty()) << problem;
    }
    AnsweringInput input = GoodInput();
    input.newPin = input.repeatedPin = "2580";
    input.language = "English";
    input.pstnAdmin = false;
    CRegistryChanges changes;
    std::string problem;
    AnsweringField field;
    ASSERT_TRUE(
        CAnsweringSettings::Prepare(m_Location.root, current, input, languages, changes, &problem, &field));
    ASSERT_TRUE(changes.Commit(&problem)) << problem;
    EXPECT_EQ(Text("Config\\IVR", "Pin"), "2580");
    EXPECT_EQ(Number("Config\\IVR", "VoiceMsgDurationSec"), 45u);
    EXPECT_EQ(Text("Config\\IVR", "UserDefinedLanguage"), "English");
    EXPECT_EQ(Number("Config\\IVR\\Pstn", "EnableAdminMode"), 0u);
}

TEST_F(SettingsModelTest, AKeyThatRefusesTheWriteLeavesEveryValueAsItWas) {
    SetDword("Config\\IVR", "VoiceMsgDurationSec", 30);
    CRegistryChanges changes;
    changes.SetDword(Key("Config\\IVR"), "VoiceMsgDurationSec", 60);
    changes.SetString(Key("Config\\General"), "SendKey", "#");
    ReadOnlyKey readOnly(Key("Config\\General"));
    ASSERT_TRUE(readOnly.Applied());
    EXPECT_FALSE(CRegistryChanges::CanWrite(Key("Config\\General")));
    std::string error;
    EXPECT_FALSE(changes.Commit(&error));
    EXPECT_NE(error.find("Config\\General"), std::string::npos) << error;
    EXPECT_EQ(Number("Config\\IVR", "VoiceMsgDurationSec"), 30u);
}

TEST_F(SettingsModelTest, MessagesAreListedNewestFirstAndADeletionLowersTheCountAsTheHandsetDoes) {
    const std::string folder = m_Location.VoiceMailFolder();
    const char* names[] = {"vm2026311120000.wav", "vm2026312120000.wav", "vm2026313120000.wav"};
    for (int i = 0; i < 3; ++i) {
        WriteWav(folder + "\\" + names[i], 8000, 1, 1.0 + i);
        HANDLE file = CreateFileA((folder + "\\" + names[i]).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        FILETIME written = {(DWORD)(i * 100000000), 0x01DC0000};
        SetFileTime(file, nullptr, nullptr, &written);
        CloseHandle(file);
    }
    Write(folder + "\\notes.wav", "RIFF");
    Write(folder + "\\vm.txt", "x");
    SetDword("Config\\IVR", "VoiceMessageWaiting", 1);
    CVoiceMessages messages(m_Location);
    const std::vector<WavFileInfo> list = messages.List();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, names[2]);
    EXPECT_EQ(list[2].name, names[0]);
    EXPECT_EQ(WavLengthMs(list[0].path, list[0].size), 3000);
    std::string problem;
    EXPECT_FALSE(messages.Delete(folder + "\\notes.wav", &problem));
    ASSERT_TRUE(messages.Delete(list[0].path, &problem)) << problem;
    EXPECT_EQ(Number("Config\\IVR", "VoiceMessageWaiting"), 0u);
    ASSERT_TRUE(messages.Delete(list[1].path, &problem)) << problem;
    EXPECT_EQ(Number("Config\\IVR", "VoiceMessageWaiting"), 0u); // never below 0
    EXPECT_EQ(messages.List().size(), 1u);
    EXPECT_NE(GetFileAttributesA((folder + "\\notes.wav").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SettingsModelTest, AWavFileBecomesTheGreetingInThePromptsFormatAndABadOneChangesNothing) {
    const std::string source = m_Location.installFolder + "\\mine.wav";
    WriteWav(source, 22050, 2, 2.0);
    CGreeting greeting(m_Location);
    ASSERT_EQ(greeting.Path(), m_Location.installFolder + "\\IVR\\English\\UserAMGreeting.wav");
    std::string problem;
    ASSERT_TRUE(greeting.Import(source, &problem)) << problem;
    std::ifstream made(greeting.Path(), std::ios::binary);
    std::string header(36, '\0');
    made.read(&header[0], 36);
    uint16_t channels = 0, bits = 0;
    uint32_t rate = 0;
    memcpy(&channels, &header[22], 2), memcpy(&rate, &header[24], 4), memcpy(&bits, &header[34], 2);
    EXPECT_EQ(channels, 1);
    EXPECT_EQ(rate, 8000u);
    EXPECT_EQ(bits, 16);
    WavFileInfo info;
    ASSERT_TRUE(greeting.Describe(&info));
    EXPECT_NEAR(info.lengthMs, 2000, 20);
    const uint64_t size = info.size;
    Write(source, "not a wave at all");
    EXPECT_FALSE(greeting.Import(source, &problem));
    ASSERT_TRUE(greeting.Describe(&info));
    EXPECT_EQ(info.size, size);
}

TEST_F(SettingsModelTest, TheReportHoldsTheTraceAndTheEventLog) {
    TraceSettings trace;
    trace.on = true;
    trace.file = m_Location.installFolder + "\\agent.trace";
    Write(trace.file, "{OrvinAgent} Log Started Succesfully!\r\n");
    const std::string report = m_Location.installFolder + "\\report.txt";
    std::string problem;
    ASSERT_TRUE(
        CDiagnostics::WriteReport(report, trace, {"[AG]==>Orvin Adapter connected!"}, true, &problem));
    std::ifstream in(report, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("{OrvinAgent} Log Started Succesfully!"), std::string::npos);
    EXPECT_NE(text.find("[AG]==>Orvin Adapter connected!"), std::string::npos);
}

} // namespace
