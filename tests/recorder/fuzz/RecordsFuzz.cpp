// The recorder driver's records fuzzed: random channel names, lengths, validity words and
// payloads, records that run past the data, bytes that are no whole header. Handed to the
// recorder directly, ending where a no-access page begins, and through its poll against a
// stand-in driver that also answers badly now and then (nothing, a failure, more than the
// buffer, a length beyond it). A model of the documented rules follows every record: the
// recording state, the agent statuses told, the audio of every recording file (checked
// when the file is finished) and the channel choices sent to the driver.
#include "recorder/CallRecorder.h"
#include "tests/lib/fuzz/Fuzz.h"
#include "tests/lib/fuzz/GuardedPage.h"
#include "tests/recorder/unit/FakeRecorderDriver.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPlenty = 0xFFFFFFFF;

// The recorder with a disk whose free space the fuzzer chooses.
class FuzzRecorder : public CCallRecorder {
public:
    using CCallRecorder::CCallRecorder;
    using CCallRecorder::HandleRecords;
    DWORD freeSpace = kPlenty;
    std::vector<int> told;                  // NotifyAgentStatus infos
    std::vector<std::string> finishedFiles; // as each stop began
    // What the API client is told; at a stop, also which file it ends.
    void Listen() {
        SetAgentStatusNotifier([this](int info) {
            told.push_back(info);
            if (info == 9 && IsRecording()) {
                finishedFiles.push_back(CurrentFile());
            }
        });
    }

protected:
    DWORD MeasureFreeSpace() override { return freeSpace; }
};

uint32_t U32(const uint8_t* bytes) {
    uint32_t value;
    memcpy(&value, bytes, 4);
    return value;
}

// The documented rules, with the same disk.
class RecorderModel {
public:
    RecorderModel(DWORD dontStart, DWORD stop, DWORD automation)
        : m_dontStart(dontStart), m_stop(stop), m_automation(automation) {}

    void Records(const uint8_t* data, uint32_t length, DWORD freeSpace) {
        m_free = freeSpace;
        uint32_t at = 0;
        while (length - at >= 40) {
            const uint32_t payload = U32(data + at + 20);
            if (payload > length - at - 40) {
                break; // this one and whatever follows
            }
            const uint8_t* record = data + at;
            if (memcmp(record, "VCLCTRL\0", 8) == 0) {
                Event(U32(record + 8), record + 40, payload);
            } else if (memcmp(record, "VCLOG\0\0\0", 8) == 0) {
                Audio(record + 40, payload);
            }
            at += 40 + payload;
        }
    }
    void Start() {
        if (recording) {
            return;
        }
        if (m_free < m_dontStart) {
            autoStarted = false;
            ++refusedStarts;
            return;
        }
        recording = true;
        told.push_back(8);
        audio.clear();
        m_sinceCheck = 0;
        ++starts;
    }
    void Stop() {
        told.push_back(9);
        if (!recording) {
            return;
        }
        recording = false;
        autoStarted = false;
        finished.push_back(audio);
        ++stops;
    }

    bool recording = false;
    bool autoStarted = false;
    std::vector<int> told;
    std::vector<uint8_t> audio;
    std::vector<std::vector<uint8_t>> finished; // the audio of each file finished, in order
    size_t starts = 0, stops = 0, refusedStarts = 0, lowDiskStops = 0;

private:
    void Event(uint32_t valid, const uint8_t* payload, uint32_t length) {
        if (valid != 1 || length <= 3) {
            return;
        }
        switch (U32(payload)) {
        case 1:
            Start();
            break;
        case 2:
            Stop();
            break;
        case 3:
        case 5:
            if (!recording && m_automation == 1) {
                autoStarted = true;
                Start();
            }
            break;
        case 4:
        case 6:
            if (recording) {
                Stop();
            }
            break;
        default:
            break;
        }
    }
    void Audio(const uint8_t* payload, uint32_t length) {
        if (!recording || length == 0) {
            return;
        }
        audio.insert(audio.end(), payload, payload + length);
        m_sinceCheck += length;
        const DWORD interval = (m_dontStart - m_stop) / 2 > 5000000 ? (m_dontStart - m_stop) / 2 : 5000000;
        if (m_sinceCheck >= interval) {
            m_sinceCheck = 0;
            if (m_free < m_stop) {
                ++lowDiskStops;
                Stop();
            }
        }
    }

    DWORD m_dontStart, m_stop, m_automation;
    DWORD m_free = kPlenty;
    uint64_t m_sinceCheck = 0;
};

// One read's worth of records.
std::vector<uint8_t> RandomRead(FuzzRandom& r, bool bulkAudio) {
    static const char* const kChannels[] = {"VCLCTRL", "VCLOG",   "VCLCTRL", "VCLOG",  "VCLCTRLX",
                                            "VCLO",    "vclctrl", "",        "VCLFILL"};
    std::vector<uint8_t> data;
    const uint32_t records = bulkAudio ? r.Range(1, 4) : r.Range(0, 6);
    for (uint32_t i = 0; i < records; ++i) {
        std::vector<uint8_t> header(40, 0);
        if (bulkAudio) {
            memcpy(header.data(), "VCLOG", 5);
        } else if (r.Percent(95)) {
            const char* name = r.Pick(kChannels);
            memcpy(header.data(), name, strlen(name) < 8 ? strlen(name) : 8);
        } else {
            r.Fill(header.data(), 8);
        }
        if (r.Percent(10)) {
            r.Fill(header.data() + 8, 32); // every field, the unused ones too
        }
        const uint32_t valid = r.Percent(80) ? 1 : r.Percent(50) ? 0 : r.U32();
        memcpy(header.data() + 8, &valid, 4);
        uint32_t length = bulkAudio ? r.Range(4000, 7900) : r.Percent(60) ? r.Range(0, 8) : r.Range(8, 3000);
        std::vector<uint8_t> payload = r.Bytes(length);
        if (length >= 4 && r.Percent(70)) {
            const uint32_t event = r.Percent(90) ? r.Range(0, 7) : r.U32();
            memcpy(payload.data(), &event, 4);
        }
        // The length field may say more than follows, a little or absurdly.
        uint32_t claimed = length;
        if (r.Percent(4)) {
            static const uint32_t kAbsurd[] = {0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 32000, 31961};
            claimed = r.Percent(50) ? length + r.Range(1, 64) : r.Pick(kAbsurd);
        }
        memcpy(header.data() + 20, &claimed, 4);
        data.insert(data.end(), header.begin(), header.end());
        data.insert(data.end(), payload.begin(), payload.end());
    }
    if (r.Percent(10)) { // less than a header at the end
        const std::vector<uint8_t> tail = r.Bytes(r.Range(1, 39));
        data.insert(data.end(), tail.begin(), tail.end());
    }
    if (r.Percent(5) && !data.empty()) { // cut anywhere
        data.resize(r.Below((uint32_t)data.size()));
    }
    if (data.size() > CCallRecorder::kReadBufferSize) {
        data.resize(CCallRecorder::kReadBufferSize);
    }
    return data;
}

DWORD RandomFreeSpace(FuzzRandom& r) {
    const uint32_t roll = r.Below(100);
    return roll < 85 ? kPlenty : roll < 92 ? 15000000 : roll < 97 ? 5000000 : 0;
}

std::string TempPath(const std::string& name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void RemoveFolder(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((folder + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

// A registry root of the run's own with its Recorder settings, and the recording folder.
class RecorderPlace {
public:
    explicit RecorderPlace(const char* tag, DWORD automation) {
        const std::string id = std::string(tag) + std::to_string(GetCurrentProcessId());
        root = "SOFTWARE\\OrvinTest\\" + id;
        folder = TempPath("orvin-" + id);
        RemoveFolder(folder);
        CreateDirectoryA(folder.c_str(), nullptr);
        const std::string key = root + "\\Recorder";
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "Directory", REG_SZ, folder.c_str(),
                        (DWORD)folder.size() + 1);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, key.c_str(), "AutomationMode", REG_DWORD, &automation, 4);
        device = "OrvinRecFuzz" + id;
    }
    ~RecorderPlace() {
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, root.c_str());
        // The recorder made the folder its current directory.
        SetCurrentDirectoryA(TempPath("").c_str());
        RemoveFolder(folder);
    }
    std::string root, folder, device;
};

struct RecordsRun {
    size_t reads = 0, bytes = 0, files = 0, audioBytes = 0, badAnswers = 0, refusedStarts = 0,
           lowDiskStops = 0;
};

// After each read: the state and what was told match the model; each file finished holds
// exactly the model's audio behind a header with its sizes.
void Compare(FuzzRecorder& recorder, RecorderModel& model, RecordsRun& run) {
    EXPECT_EQ(recorder.IsRecording(), model.recording) << "recording";
    EXPECT_EQ(recorder.IsAutoStarted(), model.autoStarted) << "started by a call";
    EXPECT_EQ(recorder.told, model.told) << "NotifyAgentStatus infos";
    if (model.recording) {
        EXPECT_EQ(recorder.AudioBytes(), model.audio.size()) << "audio bytes of the recording";
    }
    ASSERT_EQ(recorder.finishedFiles.size(), model.finished.size()) << "recordings finished";
    for (size_t i = 0; i < model.finished.size(); ++i) {
        const std::vector<uint8_t>& audio = model.finished[i];
        const std::string& path = recorder.finishedFiles[i];
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        ASSERT_EQ(bytes.size(), 44 + audio.size()) << path;
        EXPECT_EQ(U32(bytes.data() + 4), (uint32_t)audio.size() + 36) << "RIFF size of " << path;
        EXPECT_EQ(U32(bytes.data() + 40), (uint32_t)audio.size()) << "data size of " << path;
        EXPECT_TRUE(std::equal(audio.begin(), audio.end(), bytes.begin() + 44)) << "the audio of " << path;
        DeleteFileA(path.c_str());
        ++run.files;
        run.audioBytes += audio.size();
    }
    recorder.told.clear();
    model.told.clear();
    recorder.finishedFiles.clear();
    model.finished.clear();
}

TEST(RecorderFuzz, RecordsHandedInDirectly) {
    FuzzRandom r = FuzzStream("recorder records");
    FuzzBudget budget(20000);
    const DWORD automation = r.Percent(70) ? 1 : 0;
    RecorderPlace place("RecordsFuzz", automation);
    GuardedPage page(CCallRecorder::kReadBufferSize);
    ASSERT_TRUE(page.Valid());
    FuzzWatchdog watchdog;
    RecordsRun run;
    {
        FuzzRecorder recorder(place.root, place.device.c_str()); // no driver: records come from here
        recorder.Listen();
        RecorderModel model(recorder.DontStartThreshold(), recorder.StopThreshold(), automation);
        bool bulk = false;
        while (budget.More() && !::testing::Test::HasFailure()) {
            const size_t index = budget.Done() - 1;
            // Long stretches of audio alone reach the disk checks (every 5000000 bytes).
            bulk = bulk ? r.Below(1000) >= 3 : r.Percent(1);
            const std::vector<uint8_t> data = RandomRead(r, bulk);
            recorder.freeSpace = RandomFreeSpace(r);
            const std::string described =
                "read " + std::to_string(index) + " of seed " + std::to_string(FuzzSeed()) + ", free space " +
                std::to_string(recorder.freeSpace) + ": " + HexDump(data.data(), data.size(), 96);
            SCOPED_TRACE(described);
            FuzzSetCurrentCase("recorder " + described);
            const uint8_t* at = page.Place(data.data(), data.size());
            watchdog.Arm(20000, described);
            recorder.HandleRecords(at, (uint32_t)data.size());
            watchdog.Disarm();
            model.Records(data.data(), (uint32_t)data.size(), recorder.freeSpace);
            ++run.reads;
            run.bytes += data.size();
            Compare(recorder, model, run);
        }
        run.refusedStarts = model.refusedStarts;
        run.lowDiskStops = model.lowDiskStops;
        recorder.Close();
    }
    FuzzReport("recorder records", budget.Done(), budget.Seconds(),
               std::to_string(run.bytes) + " bytes of records, " + std::to_string(run.files) +
                   " recordings checked (" + std::to_string(run.audioBytes) + " bytes of audio), " +
                   std::to_string(run.refusedStarts) + " starts refused and " +
                   std::to_string(run.lowDiskStops) + " recordings stopped for want of disk space");
}

TEST(RecorderFuzz, RecordsThroughThePoll) {
    FuzzRandom r = FuzzStream("recorder poll");
    FuzzBudget budget(3000);
    const DWORD automation = r.Percent(70) ? 1 : 0;
    RecorderPlace place("RecordsPollFuzz", automation);
    FuzzWatchdog watchdog;
    RecordsRun run;
    {
        FakeRecorderDriver driver(place.device.c_str());
        ASSERT_TRUE(driver.Valid());
        FuzzRecorder recorder(place.root, place.device.c_str());
        ASSERT_TRUE(recorder.HasDriver());
        ASSERT_EQ(recorder.Registration(), (int32_t)FakeRecorderDriver::kRegistration);
        recorder.Listen();
        RecorderModel model(recorder.DontStartThreshold(), recorder.StopThreshold(), automation);
        size_t choices = 0;
        bool bulk = false;
        driver.Forget();
        while (budget.More() && !::testing::Test::HasFailure()) {
            const size_t index = budget.Done() - 1;
            bulk = bulk ? r.Below(1000) >= 3 : r.Percent(1);
            std::vector<uint8_t> data = RandomRead(r, bulk);
            recorder.freeSpace = RandomFreeSpace(r);
            const uint32_t roll = r.Below(100);
            using Answer = FakeRecorderDriver::Answer;
            const Answer answer = roll < 88   ? Answer::Normal
                                  : roll < 91 ? Answer::Nothing
                                  : roll < 94 ? Answer::Failure
                                  : roll < 97 ? Answer::TooLong
                                              : Answer::LengthBeyondBuffer;
            const char* const kAnswerNames[] = {"normal", "nothing", "failure", "too long", "length beyond"};
            // A bad answer that leaves the read in the driver's queue gets no read to leave.
            if (answer == Answer::Nothing || answer == Answer::Failure) {
                data.clear();
            }
            const std::string described =
                "poll " + std::to_string(index) + " of seed " + std::to_string(FuzzSeed()) + ", answer " +
                kAnswerNames[(int)answer] + ": " + HexDump(data.data(), data.size(), 96);
            SCOPED_TRACE(described);
            FuzzSetCurrentCase("recorder " + described);
            driver.SetAnswer(answer);
            if (answer != Answer::Nothing && answer != Answer::Failure) {
                driver.QueueRead(data);
            }
            watchdog.Arm(20000, described);
            EXPECT_EQ(recorder.Poll(nullptr, 0), 0);
            watchdog.Disarm();
            driver.SetAnswer(Answer::Normal);
            EXPECT_EQ(driver.PendingReads(), 0u) << "a read was left in the driver";
            if (answer == Answer::Normal) {
                model.Records(data.data(), (uint32_t)data.size(), recorder.freeSpace);
            } else if (answer == Answer::LengthBeyondBuffer && !data.empty()) {
                // The driver says it returned the whole buffer: the rest of it is zeros.
                data.resize(CCallRecorder::kReadBufferSize, 0);
                model.Records(data.data(), (uint32_t)data.size(), recorder.freeSpace);
            } else {
                ++run.badAnswers;
            }
            ++run.reads;
            run.bytes += data.size();
            Compare(recorder, model, run);
            // Each start and each finished file chose the driver's channels once.
            choices += driver.Count(CCallRecorder::kCmdChooseChannels);
            driver.Forget();
            EXPECT_EQ(choices, model.starts + model.stops) << "channel choices";
            EXPECT_EQ(recorder.Registration(), (int32_t)FakeRecorderDriver::kRegistration)
                << "the registration was dropped";
        }
        run.refusedStarts = model.refusedStarts;
        run.lowDiskStops = model.lowDiskStops;
        recorder.Close();
        EXPECT_EQ(driver.Count(CCallRecorder::kCmdUnregister), 1u) << "unregistered at the close";
    }
    FuzzReport("recorder poll", budget.Done(), budget.Seconds(),
               std::to_string(run.bytes) + " bytes of records, " + std::to_string(run.badAnswers) +
                   " bad answers, " + std::to_string(run.files) + " recordings checked (" +
                   std::to_string(run.audioBytes) + " bytes of audio), " + std::to_string(run.refusedStarts) +
                   " starts refused and " + std::to_string(run.lowDiskStops) +
                   " recordings stopped for want of disk space");
}

} // namespace
