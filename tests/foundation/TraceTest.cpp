// The trace log against the real registry, files and (stand-in) driver devices. The settings,
// sink numbers, commands and control code are the interface's own, written out here as the
// numbers and names the installation and the drivers use, never taken from the code under test.
#include "base/trace/DriverChannel.h"
#include "base/trace/Trace.h"
#include "DriverPipeServer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace orvin;

namespace {

const char* const kKey = "Software\\Velcora\\Quendo";
const std::string kTag = "{OrvinAgent} ";

// DebugType as the installation writes it.
constexpr DWORD kNone = 0, kDebugDriver = 1, kDebugger = 2, kFile = 3, kWdmHelper = 4;

std::string TempPath(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    return std::string(dir) + name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
        m_file = TempPath("orvin-trace-test.log");
        DeleteFileA(m_file.c_str());
    }
    void TearDown() override {
        TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
        DeleteFileA(m_file.c_str());
    }
    void SetDword(const char* name, DWORD value) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, name, REG_DWORD, &value, sizeof value),
                  ERROR_SUCCESS);
    }
    void SetString(const char* name, const std::string& value) {
        ASSERT_EQ(
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, name, REG_SZ, value.c_str(), (DWORD)value.size() + 1),
            ERROR_SUCCESS);
    }
    void UseFile() {
        SetDword("DebugType", kFile);
        SetString("DebugFile", m_file);
    }
    std::string m_file;
};

TEST_F(TraceTest, FileBeginsWithTheTaggedStartLineAndIsRewrittenAtEveryStart) {
    UseFile();
    TRACE("first run %d", 1);
    EXPECT_EQ(TraceGetSinkType(), kFile);
    const std::string started = kTag + "Log Started Succesfully!\r\n";
    EXPECT_EQ(ReadFile(m_file), started + kTag + "first run 1\n\r\n");

    TraceStop();
    TraceStart();
    EXPECT_EQ(ReadFile(m_file), started);
}

TEST_F(TraceTest, EveryLayerAddsItsOwnLineEnd) {
    UseFile();
    TRACE("Open ROOT %d\n", 0);
    TraceWrite("raw %s", "writer");
    EXPECT_EQ(ReadFile(m_file),
              kTag + "Log Started Succesfully!\r\n" + kTag + "Open ROOT 0\n\n\r\n" + kTag + "raw writer\r\n");
}

TEST_F(TraceTest, LongMessagesAreCutNeverOverflow) {
    UseFile();
    TraceStart();
    const std::string started = kTag + "Log Started Succesfully!\r\n";
    for (size_t length : {600u, 1039u, 1040u, 5000u}) {
        std::string message(length, 'x');
        TraceStop();
        TraceStart();
        TRACE("%s", message.c_str());
        EXPECT_EQ(ReadFile(m_file), started + kTag + std::string(511, 'x') + "\r\n") << length;
    }
}

TEST_F(TraceTest, FileNameMayTakeAllOf260Bytes) {
    // 259 characters and the terminator: the longest path there is.
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    const std::string path = std::string(dir) + std::string(259 - strlen(dir) - 4, 'p') + ".log";
    ASSERT_EQ(path.size(), 259u);
    SetDword("DebugType", kFile);
    SetString("DebugFile", path);
    TRACE("long name");
    TraceStop();
    EXPECT_EQ(ReadFile(path), kTag + "Log Started Succesfully!\r\n" + kTag + "long name\n\r\n");
    DeleteFileA(path.c_str());
}

TEST_F(TraceTest, LinesAboveLevelZeroAreNeverWritten) {
    UseFile();
    TRACE_LEVEL(2, "hidden %d", 2);
    TRACE_LEVEL(1, "hidden %d", 1);
    TRACE_LEVEL(0, "shown");
    EXPECT_EQ(ReadFile(m_file), kTag + "Log Started Succesfully!\r\n" + kTag + "shown\n\r\n");
}

TEST_F(TraceTest, SettingsThatWriteNothing) {
    // A sink type above 4 means none.
    for (DWORD type : {5u, 7u, 0xFFFFFFFFu}) {
        TraceStop();
        SetDword("DebugType", type);
        SetString("DebugFile", m_file);
        TRACE("nothing");
        EXPECT_EQ(TraceGetSinkType(), kNone) << type;
        EXPECT_EQ(GetFileAttributesA(m_file.c_str()), INVALID_FILE_ATTRIBUTES) << type;
    }

    // None, and the debugger, which is no file either.
    for (DWORD type : {kNone, kDebugger}) {
        TraceStop();
        SetDword("DebugType", type);
        TRACE("not to the file");
        EXPECT_EQ(TraceGetSinkType(), type);
        EXPECT_EQ(GetFileAttributesA(m_file.c_str()), INVALID_FILE_ATTRIBUTES) << type;
    }

    // The file sink without a file name.
    TraceStop();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    SetDword("DebugType", kFile);
    TRACE("nothing");
    EXPECT_EQ(TraceGetSinkType(), kNone);

    // A file name, but only the file sink reads it.
    TraceStop();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    SetDword("DebugType", kDebugDriver);
    SetString("DebugFile", m_file);
    TRACE("to a driver that is not there");
    EXPECT_EQ(TraceGetSinkType(), kDebugDriver);
    EXPECT_EQ(GetFileAttributesA(m_file.c_str()), INVALID_FILE_ATTRIBUTES);

    // No key at all.
    TraceStop();
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_EQ(TraceGetSinkType(), kNone);
    EXPECT_EQ(TraceGetDebugLevel(), 0u);
}

TEST_F(TraceTest, UnwritablePathWritesNothingAndIsNotRetried) {
    char dir[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    const std::string folder = std::string(dir) + "orvin-missing-folder";
    const std::string path = folder + "\\trace.log";
    RemoveDirectoryA(folder.c_str());
    SetDword("DebugType", kFile);
    SetString("DebugFile", path);
    TRACE("lost");
    EXPECT_EQ(TraceGetSinkType(), kNone);

    // The folder appears later: lines still do not open the file.
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    TRACE("still lost");
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    TraceStop();
    RemoveDirectoryA(folder.c_str());
}

TEST_F(TraceTest, DebugLevelIsReadButFiltersNothing) {
    UseFile();
    SetDword("DebugLevel", 5);
    EXPECT_EQ(TraceGetDebugLevel(), 5u);
    EXPECT_EQ(TraceGetLevel(), 0);
    TRACE("written");
    EXPECT_NE(ReadFile(m_file).find("written"), std::string::npos);
}

int ThreadsOfThisProcess() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    int count = 0;
    THREADENTRY32 entry = {sizeof entry};
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
    return count;
}

// The disk flush runs beside the writers; a line is in the file when TRACE returns, and
// the flush's thread ends with the sink, however often it starts again.
TEST_F(TraceTest, FileSinkLinesAreInTheFileAtOnceAndItsFlushThreadEndsWithIt) {
    UseFile();
    const int before = ThreadsOfThisProcess();
    for (int round = 0; round < 3; ++round) {
        TraceStart();
        TRACE("round %d", round);
        EXPECT_EQ(ReadFile(m_file),
                  kTag + "Log Started Succesfully!\r\n" + kTag + "round " + std::to_string(round) + "\n\r\n");
        EXPECT_LE(ThreadsOfThisProcess(), before + 1);
        TraceStop();
        EXPECT_EQ(ThreadsOfThisProcess(), before) << "round " << round;
    }
}

TEST_F(TraceTest, LinesFromManyThreadsArriveWhole) {
    UseFile();
    TraceStart();
    constexpr int kThreads = 4, kLines = 1000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                TRACE("thread %d line %04d of a trace line long enough to take its time %s", t, i,
                      "........................................");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    TraceStop();

    std::istringstream lines(ReadFile(m_file));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, kTag + "Log Started Succesfully!\r");
    std::map<int, int> nextLine;
    int count = 0;
    while (std::getline(lines, line)) {
        // Each trace line is "text\n\r\n": the text, then an empty line ending in \r.
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(line.c_str(), "{OrvinAgent} thread %d line %d of a trace line", &t, &i), 2) << line;
        ASSERT_EQ(
            line,
            kTag + "thread " + std::to_string(t) + " line " +
                (std::string(4 - std::to_string(i).size(), '0') + std::to_string(i)) +
                " of a trace line long enough to take its time ........................................");
        EXPECT_EQ(i, nextLine[t]++) << "thread " << t;
        ASSERT_TRUE(std::getline(lines, line));
        ASSERT_EQ(line, "\r");
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

// Requests as a device would see them: 32-byte header, then the data.
struct Seen {
    uint32_t command, length, zero;
    int32_t status;
    std::string data;
};

Seen Parse(const DriverRequestSeen& request) {
    Seen seen{};
    EXPECT_EQ(request.ioctl, 0x222000u);
    EXPECT_GE(request.buffer.size(), 32u);
    memcpy(&seen.command, &request.buffer[0], 4);
    memcpy(&seen.length, &request.buffer[4], 4);
    memcpy(&seen.zero, &request.buffer[8], 4);
    memcpy(&seen.status, &request.buffer[12], 4);
    seen.data.assign(request.buffer.begin() + 32, request.buffer.end());
    return seen;
}

TEST_F(TraceTest, DebugDriverSinkSendsCommand12WithTheTerminatedLine) {
    DriverPipeServer driver("WINDDX0");
    ASSERT_TRUE(driver.Valid());
    SetDword("DebugType", kDebugDriver);
    TRACE("to the driver %d", 42);
    ASSERT_TRUE(driver.WaitFor(2));
    EXPECT_EQ(TraceGetSinkType(), kDebugDriver);
    TraceStop();

    auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 2u);
    Seen first = Parse(requests[0]), second = Parse(requests[1]);
    EXPECT_EQ(first.command, 12u);
    EXPECT_EQ(second.command, 12u);
    EXPECT_EQ(first.data, kTag + "Log Started Succesfully!" + std::string(1, '\0'));
    EXPECT_EQ(first.length, first.data.size());
    EXPECT_EQ(first.zero, 0u);
    EXPECT_EQ(first.status, -1);
    EXPECT_EQ(second.data, kTag + "to the driver 42\n" + std::string(1, '\0'));
    EXPECT_EQ(second.length, second.data.size());
}

TEST_F(TraceTest, WdmHelperSinkSendsCommandF007) {
    DriverPipeServer driver("ZUWDMHLP");
    ASSERT_TRUE(driver.Valid());
    SetDword("DebugType", kWdmHelper);
    TRACE("helper line");
    ASSERT_TRUE(driver.WaitFor(2));
    EXPECT_EQ(TraceGetSinkType(), kWdmHelper);
    TraceStop();

    auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 2u);
    Seen first = Parse(requests[0]), second = Parse(requests[1]);
    EXPECT_EQ(first.command, 0xF007u);
    EXPECT_EQ(first.data, kTag + "Log Started Succesfully!" + std::string(1, '\0'));
    EXPECT_EQ(second.command, 0xF007u);
    EXPECT_EQ(second.data, kTag + "helper line\n" + std::string(1, '\0'));
    EXPECT_EQ(second.length, second.data.size());
    EXPECT_EQ(second.zero, 0u);
    EXPECT_EQ(second.status, -1);
}

TEST_F(TraceTest, WdmHelperSinkWithoutItsDeviceStartsWithTheFirstLineAfterItAppears) {
    SetDword("DebugType", kWdmHelper);
    TRACE("nowhere");
    EXPECT_EQ(TraceGetSinkType(), kWdmHelper) << "the sink stays chosen, its lines go nowhere";

    // The helper comes up later: the next line starts the facility and reaches it.
    DriverPipeServer driver("ZUWDMHLP");
    ASSERT_TRUE(driver.Valid());
    TRACE("now there");
    ASSERT_TRUE(driver.WaitFor(2));
    TraceStop();
    auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(Parse(requests[0]).data, kTag + "Log Started Succesfully!" + std::string(1, '\0'));
    EXPECT_EQ(Parse(requests[1]).data, kTag + "now there\n" + std::string(1, '\0'));
}

TEST(DriverChannelTest, ReturnedDataAndStatusAreCopiedBack) {
    // The device answers with status 7 and 3 bytes of data in place of the 8 sent.
    DriverPipeServer driver("OrvinTestDevice", [](const DriverRequestSeen& request) {
        std::vector<uint8_t> reply = request.buffer;
        uint32_t length = 3;
        int32_t status = 7;
        memcpy(&reply[4], &length, 4);
        memcpy(&reply[12], &status, 4);
        memcpy(&reply[32], "abc", 3);
        return reply;
    });
    ASSERT_TRUE(driver.Valid());
    DriverChannel channel("OrvinTestDevice");
    const uint32_t params[4] = {1, 2, 3, 4};
    char data[8] = "1234567";
    void* buffer = data;
    uint32_t length = sizeof data;
    EXPECT_EQ(channel.Request(0xF003, params, 4, &buffer, &length), 7);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::string(data, 3), "abc");
    EXPECT_FALSE(channel.IsOpen()) << "a channel opened for one request closes again";

    auto requests = driver.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].ioctl, 0x222000u);
    uint32_t sent[8];
    memcpy(sent, requests[0].buffer.data(), 32);
    EXPECT_EQ(sent[0], 0xF003u);
    EXPECT_EQ(sent[1], 8u);
    EXPECT_EQ(sent[3], 0xFFFFFFFFu);
    EXPECT_EQ(sent[4], 1u);
    EXPECT_EQ(sent[7], 4u);

    // No buffer of the caller's: one is allocated for the returned data.
    ASSERT_TRUE(channel.Open());
    void* allocated = nullptr;
    length = 8;
    EXPECT_EQ(channel.Request(0xF004, nullptr, 0, &allocated, &length), 7);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::string((char*)allocated, 3), "abc");
    free(allocated);
    channel.Close();
}

TEST(DriverChannelTest, ShortReplyFailsAndMissingDeviceGivesMinusOne) {
    DriverPipeServer driver("OrvinShortDevice",
                            [](const DriverRequestSeen&) { return std::vector<uint8_t>(16); });
    ASSERT_TRUE(driver.Valid());
    DriverChannel channel("OrvinShortDevice");
    uint32_t length = 0;
    EXPECT_EQ(channel.Request(1, nullptr, 0, nullptr, &length), -1);

    DriverChannel missing("OrvinNoSuchDevice");
    EXPECT_FALSE(missing.Open());
    EXPECT_EQ(missing.Request(1, nullptr, 0, nullptr, &length), -1);
}

// The channel with the handles it opens recorded: the path and the CreateFile flags.
class RecordingChannel : public DriverChannel {
public:
    using DriverChannel::DriverChannel;
    struct Opened {
        std::string path;
        DWORD access, share, flags;
    };
    std::vector<Opened> opened;

protected:
    HANDLE OpenHandle(const char* path, DWORD access, DWORD share, DWORD flags) override {
        opened.push_back({path, access, share, flags});
        return DriverChannel::OpenHandle(path, access, share, flags);
    }
};

const char* const kPipeSwitchKey = "SOFTWARE\\OrvinTest\\DriverPipes";

TEST(DriverChannelTest, ThePipeStandInNeedsItsSwitchAndLetsItsServerOnlyIdentifyUs) {
    // Served, but not switched on: an installation's agent never talks to such a pipe.
    const char* const name = "OrvinSwitchDevice";
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kPipeSwitchKey, name);
    DriverPipeServer driver(name, nullptr, DriverPipeServer::Switch::Off);
    ASSERT_TRUE(driver.Valid());
    uint32_t length = 0;
    {
        RecordingChannel channel(name);
        EXPECT_FALSE(channel.Open());
        EXPECT_EQ(channel.Request(1, nullptr, 0, nullptr, &length), -1);
        ASSERT_FALSE(channel.opened.empty());
        for (const auto& opened : channel.opened) {
            EXPECT_EQ(opened.path, "\\\\.\\OrvinSwitchDevice") << "only the device itself is tried";
        }
    }
    // A value of 0, or of another type, is no switch.
    const DWORD zero = 0;
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kPipeSwitchKey, name, REG_DWORD, &zero, 4), ERROR_SUCCESS);
    EXPECT_FALSE(DriverChannel(name).Open());
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kPipeSwitchKey, name, REG_SZ, "1", 2), ERROR_SUCCESS);
    EXPECT_FALSE(DriverChannel(name).Open());
    EXPECT_TRUE(driver.Requests().empty());

    // Switched on: the pipe, opened with identification-level quality of service
    // (SECURITY_SQOS_PRESENT 0x00100000 | SECURITY_IDENTIFICATION 0x00010000, and neither
    // context tracking nor effective-only).
    const DWORD one = 1;
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kPipeSwitchKey, name, REG_DWORD, &one, 4), ERROR_SUCCESS);
    {
        RecordingChannel channel(name);
        ASSERT_TRUE(channel.Open());
        EXPECT_TRUE(channel.IsPipe());
        ASSERT_EQ(channel.opened.size(), 2u);
        EXPECT_EQ(channel.opened[0].path, "\\\\.\\OrvinSwitchDevice");
        EXPECT_EQ(channel.opened[1].path, "\\\\.\\pipe\\OrvinSwitchDevice");
        EXPECT_EQ(channel.opened[1].flags & 0x001F0000u, 0x00110000u) << std::hex << channel.opened[1].flags;
        EXPECT_EQ(channel.Request(1, nullptr, 0, nullptr, &length), -1) << "the echo's status";
        EXPECT_TRUE(channel.LastRequestComplete());
        channel.Close();
    }
    EXPECT_EQ(driver.Requests().size(), 1u);
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kPipeSwitchKey, name);
}

TEST(DriverChannelTest, AFailedDeviceCallCarriesItsErrorAndOnlyADeadHandleCountsAsGone) {
    DriverPipeServer driver("OrvinFailingDevice");
    ASSERT_TRUE(driver.Valid());
    DriverChannel channel("OrvinFailingDevice");
    ASSERT_TRUE(channel.Open());
    // Invalid handle, not ready, device no longer there, broken pipe, pipe being closed,
    // pipe not connected, device not connected, device removed.
    for (DWORD error : {6u, 21u, 55u, 109u, 232u, 233u, 1167u, 1617u}) {
        driver.FailWith(error);
        uint32_t length = 4;
        void* data = nullptr;
        EXPECT_EQ(channel.Request(0xF003, nullptr, 0, &data, &length), -1);
        EXPECT_EQ(data, nullptr);
        EXPECT_FALSE(channel.LastRequestComplete());
        EXPECT_EQ(channel.LastTransferError(), error);
        EXPECT_TRUE(channel.LastRequestLostDevice()) << error;
    }
    // General failure, I/O device error, time-out, aborted, no resources, bad length:
    // the handle lives on.
    for (DWORD error : {31u, 1117u, 121u, 995u, 1450u, 24u}) {
        driver.FailWith(error);
        uint32_t length = 4;
        EXPECT_EQ(channel.Request(0xF003, nullptr, 0, nullptr, &length), -1);
        EXPECT_EQ(channel.LastTransferError(), error);
        EXPECT_FALSE(channel.LastRequestLostDevice()) << error;
    }
    // The same handle serves the next request.
    driver.FailWith(0);
    uint32_t length = 0;
    channel.Request(0xF003, nullptr, 0, nullptr, &length);
    EXPECT_TRUE(channel.LastRequestComplete());
    EXPECT_FALSE(channel.LastRequestLostDevice());
    channel.Close();
}

TEST_F(TraceTest, TheDebugDriversPipeIsTakenOnlyWithItsSwitch) {
    {
        DriverPipeServer driver("WINDDX0", nullptr, DriverPipeServer::Switch::Off);
        ASSERT_TRUE(driver.Valid());
        SetDword("DebugType", kDebugDriver);
        TRACE("not for a pipe anybody may serve");
        TraceStop();
        EXPECT_TRUE(driver.Requests().empty());
    }
    DriverPipeServer driver("WINDDX0");
    TRACE("for the test's own stand-in");
    ASSERT_TRUE(driver.WaitFor(2));
    TraceStop();
    EXPECT_EQ(Parse(driver.Requests()[1]).data,
              kTag + "for the test's own stand-in\n" + std::string(1, '\0'));
}

} // namespace
