// The call recorder against a stand-in driver on its pipe, the real registry, real files
// and the trace file: its settings, the requests it sends, the recordings it writes and
// what it does with bad answers, bad records, a full or unknown disk and a driver that
// goes. Numbers, names and texts are the driver's, the registry's and the trace's own,
// written out as they stand.
#include "base/trace/Trace.h"
#include "FakeRecorderDriver.h"
#include "recorder/CallRecorder.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kRoot = "SOFTWARE\\OrvinTest\\RecorderUnit";
const char* const kRecorderKey = "SOFTWARE\\OrvinTest\\RecorderUnit\\Recorder";
const char* const kTraceKey = "Software\\Velcora\\Quendo";

std::string TempPath(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
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

std::vector<uint8_t> Samples(size_t count, int seed) {
    std::vector<uint8_t> bytes(count * 2);
    for (size_t i = 0; i < count; ++i) {
        const int16_t sample = (int16_t)((i * 37 + seed * 1009) % 65536 - 32768);
        memcpy(bytes.data() + 2 * i, &sample, 2);
    }
    return bytes;
}

std::vector<std::string> WavFiles(const std::string& directory) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((directory + "\\*.wav").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void DeleteTree(const std::string& directory) {
    for (const std::string& name : WavFiles(directory)) {
        DeleteFileA((directory + "\\" + name).c_str());
    }
    RemoveDirectoryA(directory.c_str());
}

// The recorder with a clock and a disk of the test's choosing.
class TestRecorder : public CCallRecorder {
public:
    using CCallRecorder::CCallRecorder;
    bool fixedClock = false;
    SYSTEMTIME clock = {};
    bool realDisk = false;
    DWORD freeSpace = 0xFFFFFFFF;
    int measured = 0;
    std::vector<int> notified; // NotifyAgentStatus infos

protected:
    SYSTEMTIME LocalTime() const override { return fixedClock ? clock : CCallRecorder::LocalTime(); }
    DWORD MeasureFreeSpace() override {
        ++measured;
        return realDisk ? CCallRecorder::MeasureFreeSpace() : freeSpace;
    }
};

class CallRecorderTest : public ::testing::Test {
protected:
    void SetUp() override {
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
        m_trace = TempPath("orvin-recorder-unit.log");
        DeleteFileA(m_trace.c_str());
        SetTraceKey();
        m_directory = TempPath("orvin-recorder-unit-" + std::to_string(GetCurrentProcessId()));
        DeleteTree(m_directory);
        CreateDirectoryA(m_directory.c_str(), nullptr);
        static int counter = 0;
        m_device = "OrvinRecUnit" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
    }
    void TearDown() override {
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRoot);
        SetCurrentDirectoryA(TempPath("").c_str());
        DeleteTree(m_directory);
        DeleteFileA(m_trace.c_str());
    }
    void SetTraceKey() {
        DWORD type = 3;
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugType", REG_DWORD, &type, sizeof type);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugFile", REG_SZ, m_trace.c_str(),
                        (DWORD)m_trace.size() + 1);
    }
    void SetDword(const char* name, DWORD value) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRecorderKey, name, REG_DWORD, &value, sizeof value),
                  ERROR_SUCCESS);
    }
    void SetString(const char* name, const std::string& value) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRecorderKey, name, REG_SZ, value.c_str(),
                                  (DWORD)value.size() + 1),
                  ERROR_SUCCESS);
    }
    void UseDirectory() { SetString("Directory", m_directory); }
    std::vector<std::string> Trace() { return ReadLines(m_trace); }
    std::string RawTrace() {
        const std::vector<uint8_t> bytes = ReadBytes(m_trace);
        return std::string(bytes.begin(), bytes.end());
    }
    bool Traced(const std::string& text) {
        for (const std::string& line : Trace()) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    size_t TracedCount(const std::string& text) {
        size_t count = 0;
        for (const std::string& line : Trace()) {
            count += line.find(text) != std::string::npos;
        }
        return count;
    }
    std::unique_ptr<TestRecorder> MakeRecorder() {
        auto recorder = std::make_unique<TestRecorder>(kRoot, m_device.c_str());
        TestRecorder* raw = recorder.get();
        recorder->SetAgentStatusNotifier([raw](int info) { raw->notified.push_back(info); });
        return recorder;
    }
    // The header the recorder must write, with `audio` bytes of samples.
    static std::vector<uint8_t> Header(uint32_t audio) {
        const uint8_t fixed[44] = {'R', 'I', 'F', 'F', 0,  0, 0,   0,   'W', 'A',  'V',  'E', 'f', 'm', 't',
                                   ' ', 16,  0,   0,   0,  1, 0,   1,   0,   0x80, 0x25, 0,   0,   0,   0x4B,
                                   0,   0,   2,   0,   16, 0, 'd', 'a', 't', 'a',  0,    0,   0,   0};
        std::vector<uint8_t> header(fixed, fixed + 44);
        const uint32_t riff = audio + 36;
        memcpy(header.data() + 4, &riff, 4);
        memcpy(header.data() + 40, &audio, 4);
        return header;
    }
    std::string File(const std::string& name) { return m_directory + "\\" + name; }

    std::string m_trace;
    std::string m_directory;
    std::string m_device;
};

TEST_F(CallRecorderTest, SettingsTakeTheirDefaultsTheZeroRuleAndTheStopLimit) {
    // Nothing in the registry: the defaults, and the documents folder's Recordings.
    {
        CCallRecorder recorder(kRoot, m_device.c_str());
        EXPECT_EQ(recorder.AutomationMode(), 0u);
        EXPECT_EQ(recorder.DontStartThreshold(), 20000000u);
        EXPECT_EQ(recorder.StopThreshold(), 10000000u);
        EXPECT_EQ(recorder.CheckInterval(), 5000000u);
        char documents[MAX_PATH] = {};
        ASSERT_TRUE(
            SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)));
        std::string expected = documents;
        if (expected.back() != '\\') {
            expected += '\\';
        }
        expected += "Recordings";
        EXPECT_EQ(recorder.RecordingDirectory(), expected);
        const DWORD attributes = GetFileAttributesA(expected.c_str());
        EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
        EXPECT_FALSE(recorder.HasDriver());
    }
    EXPECT_TRUE(Traced("{OrvinAgent} Failed to read settings !"));
    EXPECT_TRUE(Traced("UpdateSettings>>> eRAM - 0"));
    EXPECT_TRUE(Traced("UpdateSettings>>> dwDontStartDiskSpaceThreshold - 20000000"));
    EXPECT_TRUE(Traced("UpdateSettings>>> dwStopDiskSpaceThreshold - 10000000"));

    // Stop above DontStart is lowered to it; the check interval is then the least one.
    UseDirectory();
    SetDword("AutomationMode", 1);
    SetDword("DontStartDiskSpaceThreshold", 10000000);
    SetDword("StopDiskSpaceThreshold", 30000000);
    CCallRecorder recorder(kRoot, m_device.c_str());
    EXPECT_EQ(recorder.RecordingDirectory(), m_directory);
    EXPECT_EQ(recorder.AutomationMode(), 1u);
    EXPECT_EQ(recorder.DontStartThreshold(), 10000000u);
    EXPECT_EQ(recorder.StopThreshold(), 10000000u);
    EXPECT_EQ(recorder.CheckInterval(), 5000000u);
    EXPECT_TRUE(Traced("UpdateSettings>>> szRecordingDirectory - " + m_directory));
    EXPECT_TRUE(Traced("UpdateSettings>>> dwStopDiskSpaceThreshold - 10000000"));

    // Half the distance when that is more than 5000000 bytes.
    SetDword("DontStartDiskSpaceThreshold", 40000000);
    SetDword("StopDiskSpaceThreshold", 12000000);
    recorder.ReadSettings();
    EXPECT_EQ(recorder.CheckInterval(), 14000000u);

    // 0 counts as missing; values of another type too; a removed value goes back to its
    // default at the next update.
    SetDword("DontStartDiskSpaceThreshold", 0);
    SetDword("StopDiskSpaceThreshold", 0);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kRecorderKey, "AutomationMode");
    recorder.ReadSettings();
    EXPECT_EQ(recorder.AutomationMode(), 0u);
    EXPECT_EQ(recorder.DontStartThreshold(), 20000000u);
    EXPECT_EQ(recorder.StopThreshold(), 10000000u);

    SetString("AutomationMode", "1");
    const uint8_t eight[8] = {0x40, 0x4B, 0x4C, 0, 0, 0, 0, 0};
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRecorderKey, "DontStartDiskSpaceThreshold", REG_BINARY,
                              eight, sizeof eight),
              ERROR_SUCCESS);
    const uint64_t wide = 5000000;
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRecorderKey, "StopDiskSpaceThreshold", REG_QWORD, &wide,
                              sizeof wide),
              ERROR_SUCCESS);
    const DWORD number = 7;
    ASSERT_EQ(
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kRecorderKey, "Directory", REG_DWORD, &number, sizeof number),
        ERROR_SUCCESS);
    const size_t failedBefore = TracedCount("Failed to read settings !");
    recorder.ReadSettings();
    EXPECT_EQ(recorder.AutomationMode(), 0u);
    EXPECT_EQ(recorder.DontStartThreshold(), 20000000u);
    EXPECT_EQ(recorder.StopThreshold(), 10000000u);
    EXPECT_NE(recorder.RecordingDirectory(), m_directory);
    EXPECT_EQ(TracedCount("Failed to read settings !"), failedBefore + 1);

    // A folder that does not exist, or a name longer than 260 bytes: the default folder.
    SetString("Directory", m_directory + "\\missing");
    recorder.ReadSettings();
    EXPECT_NE(recorder.RecordingDirectory(), m_directory + "\\missing");
    EXPECT_EQ(TracedCount("Failed to read settings !"), failedBefore + 2);
    SetString("Directory", m_directory + "\\" + std::string(300, 'x'));
    recorder.ReadSettings();
    EXPECT_EQ(TracedCount("Failed to read settings !"), failedBefore + 3);
}

TEST_F(CallRecorderTest, AWholeCallIsRecordedWithTheDriverRequestsInTheirLayout) {
    UseDirectory();
    FakeRecorderDriver driver(m_device.c_str());
    ASSERT_TRUE(driver.Valid());
    auto recorder = MakeRecorder();
    ASSERT_TRUE(recorder->HasDriver());
    EXPECT_EQ(recorder->Registration(), (int32_t)FakeRecorderDriver::kRegistration);

    // Registration: parameter 0 is 0, 148 bytes of 1, 1, 0, 0, "VCLCTRL" in 128 zero-filled
    // bytes, 4 bytes for the answer.
    auto registers = driver.Requests(0xF004);
    ASSERT_EQ(registers.size(), 1u);
    EXPECT_EQ(registers[0].ioctl, 0x222000u);
    EXPECT_EQ(registers[0].length, 148u);
    EXPECT_EQ(registers[0].reserved, 0u);
    EXPECT_EQ(registers[0].status, -1);
    EXPECT_EQ(registers[0].param[0], 0u);
    std::vector<uint8_t> expected(148, 0);
    expected[0] = 1;
    expected[4] = 1;
    memcpy(expected.data() + 16, "VCLCTRL", 7);
    EXPECT_EQ(registers[0].data, expected);

    // The driver's start event, then audio in two reads, then the call's end.
    const std::vector<uint8_t> first = Samples(960, 1), second = Samples(480, 2), third = Samples(1200, 3);
    driver.QueueRead(Join({EventRecord(1), AudioRecord(first)}));
    EXPECT_EQ(recorder->Poll(nullptr, 0), 0);
    ASSERT_TRUE(recorder->IsRecording());
    EXPECT_EQ(recorder->notified, std::vector<int>({8}));
    auto choices = driver.Requests(0xF006);
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0].param[0], FakeRecorderDriver::kRegistration);
    expected.assign(144, 0);
    expected[0] = 1;
    expected[4] = 2;
    memcpy(expected.data() + 16, "VCLCTRL", 7);
    memcpy(expected.data() + 24, "VCLOG", 5);
    EXPECT_EQ(choices[0].data, expected);

    driver.QueueRead(Join({AudioRecord(second), AudioRecord(third)}));
    driver.QueueRead(Join({EventRecord(4)}));
    EXPECT_EQ(recorder->Poll(nullptr, 0), 0);
    EXPECT_TRUE(recorder->IsRecording()) << "a read of at most 16000 bytes ends the poll";
    EXPECT_EQ(recorder->Poll(nullptr, 0), 0);
    EXPECT_FALSE(recorder->IsRecording());
    EXPECT_EQ(recorder->notified, std::vector<int>({8, 9}));
    choices = driver.Requests(0xF006);
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(Word(choices[1].data, 4), 1u);
    expected.assign(144, 0);
    expected[0] = 1;
    expected[4] = 1;
    memcpy(expected.data() + 16, "VCLCTRL", 7);
    EXPECT_EQ(choices[1].data, expected);

    // Reads: parameter 0 the registration, 32000 bytes, parameters 1..3 zero.
    for (const RecorderRequest& read : driver.Requests(0xF003)) {
        EXPECT_EQ(read.param[0], FakeRecorderDriver::kRegistration);
        EXPECT_EQ(read.param[1] | read.param[2] | read.param[3], 0u);
        EXPECT_EQ(read.length, 32000u);
        EXPECT_EQ(read.status, -1);
    }

    const auto files = WavFiles(m_directory);
    ASSERT_EQ(files.size(), 1u);
    std::vector<uint8_t> wanted = Header((uint32_t)(first.size() + second.size() + third.size()));
    wanted.insert(wanted.end(), first.begin(), first.end());
    wanted.insert(wanted.end(), second.begin(), second.end());
    wanted.insert(wanted.end(), third.begin(), third.end());
    EXPECT_EQ(ReadBytes(File(files[0])), wanted);
    EXPECT_TRUE(Traced("{OrvinAgent} CET_START_RECORDING"));
    EXPECT_TRUE(Traced("{OrvinAgent} CET_LOCAL_CALL_ENDED CET_PASS_THROUGH_CALL_ENDED"));

    // The end gives the registration back.
    recorder->Close();
    auto unregisters = driver.Requests(0xF005);
    ASSERT_EQ(unregisters.size(), 1u);
    EXPECT_EQ(unregisters[0].param[0], FakeRecorderDriver::kRegistration);
    EXPECT_EQ(unregisters[0].length, 0u);
    EXPECT_EQ(recorder->Poll(nullptr, 0), 1) << "a closed recorder";
    EXPECT_EQ(recorder->StartRecording(), 0);
}

TEST_F(CallRecorderTest, CallEventsFollowTheAutomationModeAndStopsNeedNoRecording) {
    UseDirectory();
    FakeRecorderDriver driver(m_device.c_str());
    ASSERT_TRUE(driver.Valid());
    auto recorder = MakeRecorder();

    // Automation off: a call's start and end do nothing; the driver's stop without a
    // recording still tells the service 9.
    driver.QueueRead(Join({EventRecord(3), EventRecord(5), EventRecord(4), EventRecord(6)}));
    recorder->Poll(nullptr, 0);
    EXPECT_FALSE(recorder->IsRecording());
    EXPECT_TRUE(recorder->notified.empty());
    driver.QueueRead(EventRecord(2));
    recorder->Poll(nullptr, 0);
    EXPECT_EQ(recorder->notified, std::vector<int>({9}));
    EXPECT_EQ(driver.Count(0xF006), 0u);
    EXPECT_TRUE(WavFiles(m_directory).empty());

    // Records that are no event: a payload of 3 bytes, an invalid record, event 0 and 7.
    recorder->notified.clear();
    driver.QueueRead(Join(
        {EventRecord(1, 3), EventRecord(1, 4, 0), EventRecord(1, 4, 2), EventRecord(0), EventRecord(7)}));
    recorder->Poll(nullptr, 0);
    EXPECT_FALSE(recorder->IsRecording());
    EXPECT_TRUE(recorder->notified.empty());

    // Automation on: a call's start starts it once; a second start during the call
    // changes nothing; the call's end stops it.
    SetDword("AutomationMode", 1);
    recorder->ReadSettings();
    driver.QueueRead(Join({EventRecord(5), EventRecord(3), AudioRecord(Samples(10, 4))}));
    recorder->Poll(nullptr, 0);
    EXPECT_TRUE(recorder->IsRecording());
    EXPECT_TRUE(recorder->IsAutoStarted());
    EXPECT_EQ(recorder->notified, std::vector<int>({8}));
    EXPECT_EQ(driver.Count(0xF006), 1u);
    EXPECT_EQ(WavFiles(m_directory).size(), 1u);
    driver.QueueRead(EventRecord(6));
    recorder->Poll(nullptr, 0);
    EXPECT_FALSE(recorder->IsRecording());
    EXPECT_FALSE(recorder->IsAutoStarted());
    EXPECT_EQ(recorder->notified, std::vector<int>({8, 9}));

    // The interface's requests: a second start while recording is refused; a stop without
    // a recording answers 1 and tells the service.
    EXPECT_EQ(recorder->StartRecording(), 1);
    EXPECT_EQ(recorder->StartRecording(), 0);
    EXPECT_EQ(recorder->StopRecording(), 1);
    EXPECT_EQ(recorder->StopRecording(), 1);
    EXPECT_EQ(recorder->notified, std::vector<int>({8, 9, 8, 9, 9}));
    EXPECT_EQ(TracedCount("{OrvinAgent} CET_LOCAL_CALL_STARTED CET_PASS_THROUGH_CALL_STARTED"), 4u);
}

TEST_F(CallRecorderTest, ReadsRepeatAbove16000BytesAndBadRecordsAreTracedAndPassedOver) {
    UseDirectory();
    FakeRecorderDriver driver(m_device.c_str());
    ASSERT_TRUE(driver.Valid());
    auto recorder = MakeRecorder();

    // Exactly 16000 bytes end the poll; 16001 ask for another read.
    driver.QueueFiller(16000);
    recorder->Poll(nullptr, 0);
    EXPECT_EQ(driver.Count(0xF003), 1u);
    driver.Forget();
    driver.QueueFiller(16001);
    recorder->Poll(nullptr, 0);
    EXPECT_EQ(driver.Count(0xF003), 2u);
    EXPECT_TRUE(Traced("record(s) on unknown channels skipped, the first on 'VCLFILL'"));

    // A driver that always has more lets the poll go after 50 reads.
    driver.Forget();
    driver.SetEndlessReads(32000);
    recorder->Poll(nullptr, 0);
    EXPECT_EQ(driver.Count(0xF003), 50u);
    EXPECT_TRUE(Traced("the driver still has records after 50 reads"));
    driver.SetEndlessReads(0);

    ASSERT_EQ(recorder->StartRecording(), 1);
    const std::vector<uint8_t> good = Samples(100, 5), later = Samples(50, 6);
    // An unknown channel between two audio records: skipped, the next one still taken.
    driver.QueueRead(Join({AudioRecord(good), Record("VCLXYZ", 1, EventRecord(2)), AudioRecord(later)}));
    recorder->Poll(nullptr, 0);
    EXPECT_TRUE(recorder->IsRecording()) << "a stop event on another channel";
    EXPECT_TRUE(Traced("CCallRecorder: 1 record(s) on unknown channels skipped, the first on 'VCLXYZ'"));
    // A record whose payload runs past the data: ignored with all after it.
    std::vector<uint8_t> past = Join({AudioRecord(Samples(20, 7)), Record("VCLOG", 0, Samples(10, 8), 5000)});
    driver.QueueRead(past);
    recorder->Poll(nullptr, 0);
    EXPECT_TRUE(Traced("runs past the data (payload 5000 bytes, 20 left); ignored"));
    // A header cut short at the end.
    std::vector<uint8_t> cut = Join({AudioRecord(Samples(30, 9)), std::vector<uint8_t>(25, 'V')});
    driver.QueueRead(cut);
    recorder->Poll(nullptr, 0);
    EXPECT_TRUE(Traced("25 bytes at the end are no whole record header; ignored"));
    // A read claiming more than the buffer holds: the buffer's records only.
    driver.SetAnswer(FakeRecorderDriver::Answer::LengthBeyondBuffer);
    driver.QueueRead(AudioRecord(Samples(40, 10)));
    recorder->Poll(nullptr, 0);
    // A reply longer than the buffer: dropped, and the next request gets its own reply.
    driver.SetAnswer(FakeRecorderDriver::Answer::TooLong);
    driver.QueueRead(AudioRecord(Samples(60, 11)));
    recorder->Poll(nullptr, 0);
    EXPECT_TRUE(Traced("the driver answered more than the read buffer holds; answer dropped"));
    driver.SetAnswer(FakeRecorderDriver::Answer::Normal);
    driver.QueueRead(AudioRecord(Samples(70, 12)));
    recorder->Poll(nullptr, 0);
    EXPECT_TRUE(recorder->HasDriver()) << "a long answer is no lost driver";
    // A driver that answers nothing, then one that fails: nothing is read.
    driver.SetAnswer(FakeRecorderDriver::Answer::Nothing);
    recorder->Poll(nullptr, 0);
    driver.SetAnswer(FakeRecorderDriver::Answer::Failure);
    recorder->Poll(nullptr, 0);
    EXPECT_TRUE(recorder->HasDriver());
    driver.SetAnswer(FakeRecorderDriver::Answer::Normal);
    recorder->StopRecording();

    // What the file holds: every whole record in order, nothing of the bad ones; the
    // record the long answer carried is lost with it (60 samples).
    std::vector<uint8_t> audio;
    for (const auto& part : {good, later, Samples(20, 7), Samples(30, 9), Samples(40, 10), Samples(70, 12)}) {
        audio.insert(audio.end(), part.begin(), part.end());
    }
    std::vector<uint8_t> wanted = Header((uint32_t)audio.size());
    wanted.insert(wanted.end(), audio.begin(), audio.end());
    const auto files = WavFiles(m_directory);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadBytes(File(files[0])), wanted);
}

TEST_F(CallRecorderTest, ADriverThatRefusesEverythingLeavesTheRecorderInertAndOneThatGoesEndsTheFile) {
    UseDirectory();
    {
        // Every request fails: no registration, so no reads; a start request still makes a
        // file, which is finished at the end.
        FakeRecorderDriver driver(m_device.c_str());
        ASSERT_TRUE(driver.Valid());
        driver.SetAnswer(FakeRecorderDriver::Answer::Failure);
        auto recorder = MakeRecorder();
        EXPECT_EQ(recorder->Registration(), -1);
        EXPECT_TRUE(Traced("CCallRecorder: registration refused (result -1073741823, error 0)"));
        EXPECT_EQ(recorder->Poll(nullptr, 0), 1);
        EXPECT_EQ(driver.Count(0xF003), 0u);
        EXPECT_EQ(recorder->StartRecording(), 1);
        recorder->Close();
        const auto files = WavFiles(m_directory);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(ReadBytes(File(files[0])), Header(0));
        DeleteFileA(File(files[0]).c_str());
    }
    {
        // A driver that answers nothing to the registration: the same.
        FakeRecorderDriver driver(m_device.c_str());
        driver.SetAnswer(FakeRecorderDriver::Answer::Nothing);
        auto recorder = MakeRecorder();
        EXPECT_EQ(recorder->Registration(), -1);
        EXPECT_EQ(recorder->Poll(nullptr, 0), 1);
    }

    // The driver goes in the middle of a call: the file is finished with what came.
    auto driver = std::make_unique<FakeRecorderDriver>(m_device.c_str());
    auto recorder = MakeRecorder();
    ASSERT_NE(recorder->Registration(), -1);
    const std::vector<uint8_t> audio = Samples(800, 13);
    driver->QueueRead(Join({EventRecord(1)}));
    recorder->Poll(nullptr, 0);
    driver->QueueRead(AudioRecord(audio));
    recorder->Poll(nullptr, 0);
    ASSERT_TRUE(recorder->IsRecording());
    // The stand-in ends: it answers the read under way, then lets go of the pipe.
    std::thread closer([&] { driver.reset(); });
    Sleep(200);
    recorder->Poll(nullptr, 0);
    closer.join();
    EXPECT_TRUE(recorder->IsRecording());
    recorder->Poll(nullptr, 0);
    EXPECT_FALSE(recorder->IsRecording());
    EXPECT_FALSE(recorder->HasDriver());
    EXPECT_EQ(recorder->notified, std::vector<int>({8, 9}));
    EXPECT_TRUE(Traced("CCallRecorder: the recorder driver is gone (error "));
    const auto files = WavFiles(m_directory);
    ASSERT_EQ(files.size(), 1u);
    std::vector<uint8_t> wanted = Header((uint32_t)audio.size());
    wanted.insert(wanted.end(), audio.begin(), audio.end());
    EXPECT_EQ(ReadBytes(File(files[0])), wanted);
    EXPECT_EQ(recorder->Poll(nullptr, 0), 1) << "no driver now";
}

TEST_F(CallRecorderTest, FileNamesTheDiskChecksAndTheSizesWhileRecording) {
    UseDirectory();
    SetDword("DontStartDiskSpaceThreshold", 8000);
    SetDword("StopDiskSpaceThreshold", 6000);
    FakeRecorderDriver driver(m_device.c_str());
    ASSERT_TRUE(driver.Valid());
    auto recorder = MakeRecorder();
    ASSERT_EQ(recorder->CheckInterval(), 5000000u);

    // Three recordings in the same second: the second and third are numbered.
    recorder->fixedClock = true;
    recorder->clock = {2006, 5, 0, 7, 9, 5, 3, 0};
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(recorder->StartRecording(), 1);
        recorder->StopRecording();
    }
    EXPECT_EQ(WavFiles(m_directory),
              std::vector<std::string>(
                  {"2006_5_7__09_05_03.wav", "2006_5_7__09_05_03__2.wav", "2006_5_7__09_05_03__3.wav"}));
    recorder->clock = {2011, 12, 0, 31, 23, 59, 58, 0};
    ASSERT_EQ(recorder->StartRecording(), 1);
    recorder->StopRecording();
    EXPECT_EQ(GetFileAttributesA(File("2011_12_31__23_59_58.wav").c_str()) != INVALID_FILE_ATTRIBUTES, true);

    // Below the DontStart threshold, or unknown (0): no recording, nothing told.
    recorder->notified.clear();
    recorder->freeSpace = 7999;
    EXPECT_EQ(recorder->StartRecording(), 0);
    recorder->freeSpace = 0;
    EXPECT_EQ(recorder->StartRecording(), 0);
    EXPECT_TRUE(recorder->notified.empty());
    EXPECT_EQ(TracedCount("{OrvinAgent} There is not enough space on disk. Recording will NOT be started"),
              2u);
    // The text ends with its own line feed, then the trace's, then the file's CR LF.
    EXPECT_NE(RawTrace().find(
                  "{OrvinAgent} There is not enough space on disk. Recording will NOT be started\n\n\r\n"),
              std::string::npos);
    EXPECT_EQ(WavFiles(m_directory).size(), 4u);

    // While recording, the sizes are current after every poll; at 5000000 bytes of audio
    // the free space is measured, and below the Stop threshold the recording ends.
    recorder->freeSpace = 8000;
    recorder->measured = 0;
    recorder->clock = {2012, 1, 0, 2, 3, 4, 5, 0};
    ASSERT_EQ(recorder->StartRecording(), 1);
    EXPECT_EQ(recorder->measured, 1);
    const std::string path = File("2012_1_2__03_04_05.wav");
    const std::vector<uint8_t> chunk = Samples(15980, 14); // 31960 bytes: one record a read
    driver.QueueRead(AudioRecord(chunk));
    recorder->Poll(nullptr, 0);
    std::vector<uint8_t> bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 44u + 31960u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 44), Header(31960));
    recorder->freeSpace = 5999;
    uint32_t written = 31960;
    while (written + 31960 < 5000000) {
        driver.QueueRead(AudioRecord(chunk));
        written += 31960;
    }
    for (int i = 0; i < 4; ++i) { // 50 reads a poll at most
        recorder->Poll(nullptr, 0);
    }
    EXPECT_EQ(recorder->measured, 1) << "no check before 5000000 bytes";
    EXPECT_TRUE(recorder->IsRecording());
    driver.QueueRead(AudioRecord(chunk));
    written += 31960;
    recorder->Poll(nullptr, 0);
    EXPECT_EQ(recorder->measured, 2);
    EXPECT_FALSE(recorder->IsRecording());
    EXPECT_NE(RawTrace().find("{OrvinAgent} There is not enough space on disk. Recording stopped\n\n\r\n"),
              std::string::npos);
    bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), 44u + written);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 44), Header(written));

    // A folder that went away: no file, no report to the service.
    recorder->freeSpace = 0xFFFFFFFF;
    recorder->notified.clear();
    recorder->Close();
    DeleteTree(m_directory);
    auto orphan = MakeRecorder();
    CreateDirectoryA(m_directory.c_str(), nullptr);
    orphan->ReadSettings();
    ASSERT_EQ(orphan->RecordingDirectory(), m_directory);
    SetCurrentDirectoryA(TempPath("").c_str()); // the recorder made it the current one
    ASSERT_TRUE(RemoveDirectoryA(m_directory.c_str()));
    EXPECT_EQ(orphan->StartRecording(), 0);
    EXPECT_TRUE(orphan->notified.empty());
    EXPECT_TRUE(Traced("CCallRecorder: can not create " + m_directory + "\\"));
}

TEST_F(CallRecorderTest, TheRecordingIsFinishedAtTheEndWithOrWithoutADriver) {
    UseDirectory();
    // Without a driver: a start request makes a file that stays without audio; the end
    // finishes it (sizes 0 and 36), and tells the service the recording stopped.
    {
        auto recorder = MakeRecorder();
        EXPECT_FALSE(recorder->HasDriver());
        EXPECT_EQ(recorder->Poll(nullptr, 0), 1);
        ASSERT_EQ(recorder->StartRecording(), 1);
        recorder->Close();
        EXPECT_EQ(recorder->notified, std::vector<int>({8, 9}));
        const auto files = WavFiles(m_directory);
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(ReadBytes(File(files[0])), Header(0));
        DeleteFileA(File(files[0]).c_str());
    }
    // With a driver, ended in the middle of a call: closed (as the main dialog does), then
    // destroyed; the notifier writes into the recorder's own member, so it is closed while
    // that member still lives.
    FakeRecorderDriver driver(m_device.c_str());
    const std::vector<uint8_t> audio = Samples(3000, 15);
    {
        auto recorder = MakeRecorder();
        driver.QueueRead(EventRecord(1));
        recorder->Poll(nullptr, 0);
        driver.QueueRead(AudioRecord(audio));
        recorder->Poll(nullptr, 0);
        ASSERT_TRUE(recorder->IsRecording());
        recorder->Close();
        EXPECT_FALSE(recorder->IsRecording());
        EXPECT_EQ(recorder->notified, std::vector<int>({8, 9}));
    }
    EXPECT_EQ(driver.Count(0xF005), 1u);
    auto files = WavFiles(m_directory);
    ASSERT_EQ(files.size(), 1u);
    std::vector<uint8_t> wanted = Header((uint32_t)audio.size());
    wanted.insert(wanted.end(), audio.begin(), audio.end());
    EXPECT_EQ(ReadBytes(File(files[0])), wanted);
    DeleteFileA(File(files[0]).c_str());

    // Destroyed without a Close: the destructor finishes the file the same way; its
    // notifier writes where the test's own vector lives on.
    std::vector<int> told;
    {
        CCallRecorder recorder(kRoot, m_device.c_str());
        recorder.SetAgentStatusNotifier([&told](int info) { told.push_back(info); });
        driver.QueueRead(Join({EventRecord(1), AudioRecord(audio)}));
        recorder.Poll(nullptr, 0);
        ASSERT_TRUE(recorder.IsRecording());
    }
    EXPECT_EQ(told, std::vector<int>({8, 9}));
    EXPECT_EQ(driver.Count(0xF005), 2u);
    files = WavFiles(m_directory);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadBytes(File(files[0])), wanted);
}

TEST_F(CallRecorderTest, AFailedReadEndsTheDriversUseWhenTheDeviceIsGoneOrKeepsFailing) {
    UseDirectory();
    FakeRecorderDriver driver(m_device.c_str());
    ASSERT_TRUE(driver.Valid());
    auto recorder = MakeRecorder();
    const std::vector<uint8_t> first = Samples(400, 16), second = Samples(300, 17);
    driver.QueueRead(Join({EventRecord(1), AudioRecord(first)}));
    recorder->Poll(nullptr, 0);
    ASSERT_TRUE(recorder->IsRecording());

    // A semaphore time-out (121), then an I/O device error (1117) eight times: nothing read,
    // nothing lost, the registration and the recording kept; one line when the failures
    // begin, one when they end.
    driver.QueueRead(AudioRecord(second));
    driver.FailCalls(121);
    recorder->Poll(nullptr, 0);
    driver.FailCalls(1117);
    for (int poll = 0; poll < 8; ++poll) {
        recorder->Poll(nullptr, 0);
    }
    EXPECT_TRUE(recorder->IsRecording());
    EXPECT_TRUE(recorder->HasDriver());
    EXPECT_EQ(recorder->Registration(), (int32_t)FakeRecorderDriver::kRegistration);
    EXPECT_EQ(recorder->notified, std::vector<int>({8}));
    EXPECT_EQ(
        TracedCount("CCallRecorder::Poll - reading the driver failed (error 121); the recording goes on"),
        1u);
    EXPECT_EQ(TracedCount("reading the driver failed"), 1u);
    driver.FailCalls(0);
    recorder->Poll(nullptr, 0);
    EXPECT_TRUE(Traced("CCallRecorder::Poll - the driver reads again after 9 failed reads"));
    EXPECT_EQ(driver.PendingReads(), 0u);

    // The device removed (1617): the driver is gone, the recording finished with all it got.
    driver.FailCalls(1617);
    recorder->Poll(nullptr, 0);
    EXPECT_FALSE(recorder->IsRecording());
    EXPECT_FALSE(recorder->HasDriver());
    EXPECT_EQ(recorder->notified, std::vector<int>({8, 9}));
    EXPECT_TRUE(Traced("CCallRecorder: the recorder driver is gone (error 1617)"));
    driver.FailCalls(0);
    const auto files = WavFiles(m_directory);
    ASSERT_EQ(files.size(), 1u);
    std::vector<uint8_t> wanted = Header((uint32_t)(first.size() + second.size()));
    wanted.insert(wanted.end(), first.begin(), first.end());
    wanted.insert(wanted.end(), second.begin(), second.end());
    EXPECT_EQ(ReadBytes(File(files[0])), wanted);

    // A removed device's errors end the driver's use at once (access denied on a handle
    // pending deletion, file not found, no such device, general failure); any error ten
    // polls in a row does too. Each recorder registers anew on the driver that stayed.
    recorder.reset();
    for (DWORD error : {5u, 2u, 433u, 31u, 1117u}) {
        auto other = MakeRecorder();
        ASSERT_TRUE(other->HasDriver());
        driver.FailCalls(error);
        int polls = 0;
        while (polls < 20 && other->HasDriver()) {
            other->Poll(nullptr, 0);
            ++polls;
        }
        driver.FailCalls(0);
        EXPECT_EQ(polls, error == 1117u ? 10 : 1) << "polls until error " << error << " counted as gone";
        EXPECT_TRUE(
            Traced("CCallRecorder: the recorder driver is gone (error " + std::to_string(error) + ")"));
    }
    EXPECT_TRUE(Traced("CCallRecorder::Poll - reading the driver failed 10 times in a row"));
}

// The recorder interface's window: what it is told, and what it does when told.
struct InterfaceWindow {
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<InterfaceWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == self->message) {
            self->told.push_back({(int)wParam, (int)lParam});
            if (self->onTold) {
                self->onTold(wParam, lParam);
            }
            return 0;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
    InterfaceWindow() {
        message = RegisterWindowMessageA("ORVIN_RECORDER_INTERFACE_MESSAGE");
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "CallRecorderTestInterface";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, windowClass.lpszClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                 nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~InterfaceWindow() { DestroyWindow(window); }
    HWND window = nullptr;
    UINT message = 0;
    std::vector<std::pair<int, int>> told;
    std::function<void(WPARAM, LPARAM)> onTold;
};

TEST_F(CallRecorderTest, AStopThatComesWhileTheStartIsToldLeavesNoRecordingFlagWithoutAFile) {
    UseDirectory();
    FakeRecorderDriver driver(m_device.c_str());
    ASSERT_TRUE(driver.Valid());
    auto recorder = MakeRecorder();
    InterfaceWindow ui;
    ASSERT_NE(ui.window, nullptr);
    recorder->SetGuiWindow(ui.window, ui.message);
    // The interface answers "started" (8, 1) with a stop, from inside the recorder's send,
    // as the interface's own SendMessage reaches this thread while it waits.
    ui.onTold = [&](WPARAM w, LPARAM l) {
        if (w == 8 && l == 1) {
            recorder->StopRecording();
        }
    };
    EXPECT_EQ(recorder->StartRecording(), 1);
    EXPECT_FALSE(recorder->IsRecording()) << "no recording flag without a file";
    EXPECT_EQ(ui.told, (std::vector<std::pair<int, int>>{{8, 1}, {8, 2}}));
    EXPECT_EQ(recorder->notified, std::vector<int>({8, 9}));
    // The driver is not left handing out audio for a file that is gone: the last choice,
    // if any, is "VCLCTRL" alone.
    auto choices = driver.Requests(0xF006);
    if (!choices.empty()) {
        EXPECT_EQ(Word(choices.back().data, 4), 1u);
    }
    auto files = WavFiles(m_directory);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadBytes(File(files[0])), Header(0));

    // The next start, told without an answer, records as always.
    ui.onTold = nullptr;
    EXPECT_EQ(recorder->StartRecording(), 1);
    EXPECT_TRUE(recorder->IsRecording());
    choices = driver.Requests(0xF006);
    ASSERT_FALSE(choices.empty());
    EXPECT_EQ(Word(choices.back().data, 4), 2u);
    recorder->Close();
}

TEST_F(CallRecorderTest, ARelativeDirectoryIsTakenBelowTheDocumentsFolderOnce) {
    char documents[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents)));
    const std::string name = "OrvinRecUnitRelative" + std::to_string(GetCurrentProcessId());
    std::string absolute = documents;
    if (absolute.back() != '\\') {
        absolute += '\\';
    }
    absolute += name;
    // Folders of the same name where a path resolved against the current directory would
    // land: below the test's current directory, and below the folder itself.
    const std::string besideCurrent = TempPath(name);
    const std::string belowItself = absolute + "\\" + name;
    ASSERT_TRUE(CreateDirectoryA(absolute.c_str(), nullptr));
    CreateDirectoryA(besideCurrent.c_str(), nullptr);
    CreateDirectoryA(belowItself.c_str(), nullptr);
    SetCurrentDirectoryA(TempPath("").c_str());
    SetString("Directory", name);
    {
        auto recorder = MakeRecorder();
        EXPECT_EQ(recorder->RecordingDirectory(), absolute);
        EXPECT_TRUE(Traced("UpdateSettings>>> szRecordingDirectory - " + absolute));
        ASSERT_EQ(recorder->StartRecording(), 1);
        recorder->StopRecording();
        // The recorder's folder is the current directory now: read again, it stays.
        recorder->ReadSettings();
        EXPECT_EQ(recorder->RecordingDirectory(), absolute);
        recorder->fixedClock = true;
        recorder->clock = {2007, 3, 0, 4, 5, 6, 7, 0};
        ASSERT_EQ(recorder->StartRecording(), 1);
        recorder->Close();
    }
    EXPECT_EQ(WavFiles(absolute).size(), 2u);
    EXPECT_TRUE(WavFiles(besideCurrent).empty());
    EXPECT_TRUE(WavFiles(belowItself).empty());
    SetCurrentDirectoryA(TempPath("").c_str());
    DeleteTree(belowItself);
    DeleteTree(absolute);
    DeleteTree(besideCurrent);
}

} // namespace
