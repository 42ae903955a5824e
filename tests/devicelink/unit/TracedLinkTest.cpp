// The device link with its trace lines going to a stand-in debug-output driver: the lines
// the link writes, and a trace sink slow enough to hold a bus delivery at a chosen line.
// Sets the trace key that every test process reads: these run alone.
#include "base/trace/Trace.h"
#include "devicelink/IoManager.h"
#include "devicelink/MessageCatalogue.h"
#include "TestPipeServer.h"
#include "tests/foundation/DriverPipeServer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <vector>

using namespace orvin;

namespace {

const char* const kTraceKey = "Software\\Velcora\\Quendo";

// Declared right after the stand-in driver: ends the trace's connection to it before the
// driver goes, whatever way the test ends (its destructor waits for its client to leave).
struct TraceStoppedFirst {
    ~TraceStoppedFirst() { TraceStop(); }
};

std::string LineOf(const DriverRequestSeen& request) {
    if (request.buffer.size() <= 32) {
        return "";
    }
    return std::string(reinterpret_cast<const char*>(request.buffer.data() + 32));
}

class TracedLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        DWORD type = 1; // the debug-output driver
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugType", REG_DWORD, &type, sizeof type),
                  ERROR_SUCCESS);
        TraceStop(); // the next line reads the key again
    }
    void TearDown() override {
        TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
    }
    static bool Traced(DriverPipeServer& driver, const std::string& text) {
        for (const auto& request : driver.Requests()) {
            if (LineOf(request).find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(TracedLinkTest, EdgeCaseLines) {
    DriverPipeServer driver("WINDDX0");
    TraceStoppedFirst traceStoppedFirst;
    ASSERT_TRUE(driver.Valid());

    iBusImplementation direct{};
    direct.Init = [](void*, iBusStartRecord*) { return 1; };
    direct.DirectPostMessage = [](void*, iBusMessageRecord*, void*) { return 1; };
    iBus* bus = iBusCreate(&direct);
    ASSERT_NE(bus, nullptr);
    iBusDestroy(bus);

    CIoManager manager;
    ASSERT_EQ(manager.Open([](const IMM*, uint32_t, void*) {}, 0, nullptr), 1);
    // No service yet: requests wait for it and follow the greeting, in order.
    IMM event = {};
    event.Type = MSG_TYPE_AGENT_EVENT;
    event.Code = NotifyAgentStatus;
    manager.SendEvent(0, 3, nullptr);
    manager.SendEvent(0, 1, &event);
    Sleep(200);

    TestPipeServer ioman("VCORE\\IOMAN");
    ASSERT_TRUE(ioman.Accept());
    EXPECT_EQ(ioman.Read(4), (std::vector<uint8_t>{0, 0, 0, 0}));
    auto first = ioman.Read(28);
    auto second = ioman.Read(32);
    ASSERT_EQ(first.size(), 28u);
    ASSERT_EQ(second.size(), 32u);
    EXPECT_EQ(first[8], 2) << "the registration (kind 2) first";
    EXPECT_EQ(second[8], 3) << "then the announcement (kind 3)";
    ASSERT_TRUE(WaitUntil([&] { return manager.Phase() == 3; }));
    manager.SendEvent(0, 7, nullptr);
    manager.Close();
    TraceStop();

    EXPECT_TRUE(Traced(driver, "IBUS: Create: Implementation supports DirectPostMessage! No Message Queue!"));
    EXPECT_TRUE(Traced(driver, "IOMAN: WARNING: Can not translate Internal Code (7) to IOCTL"));
    EXPECT_TRUE(Traced(driver, "IOMAN: Phase: 2 => 3"));
    EXPECT_TRUE(Traced(driver, "IOMAN: Thread Proc Exited"));
}

// The owner's callback comes with the owner's user data, even for an event whose delivery
// was under way when the owner began to close the manager.
TEST_F(TracedLinkTest, AnEventDeliveredDuringCloseComesWithItsUserData) {
    HANDLE lineSeen = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE lineRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Holds the trace line about the event until the test lets it go.
    DriverPipeServer driver("WINDDX0", [&](const DriverRequestSeen& request) {
        if (LineOf(request).find("Event from Adapter") != std::string::npos) {
            SetEvent(lineSeen);
            WaitForSingleObject(lineRelease, 10000);
        }
        return request.buffer;
    });
    TraceStoppedFirst traceStoppedFirst;
    ASSERT_TRUE(driver.Valid());

    static std::atomic<int> calls, callsWithOtherData;
    static int owner;
    calls = 0;
    callsWithOtherData = 0;
    TestPipeServer ioman("VCORE\\IOMAN");
    CIoManager manager;
    ASSERT_EQ(manager.Open(
                  [](const IMM*, uint32_t, void* data) {
                      // A real owner reaches itself through its data: a null would crash it.
                      ++calls;
                      if (data != &owner) {
                          ++callsWithOtherData;
                      }
                  },
                  0, &owner),
              1);
    ASSERT_TRUE(ioman.Accept());
    ASSERT_TRUE(WaitUntil([&] { return manager.Phase() == 3; }));

    iBusMessage header = {};
    header.Size = 28;
    header.Id = IoManFromServiceId(0);
    header.Kind = VCORE_IBUS_ID_IMM_MESSAGE;
    header.Param[0] = MSG_TYPE_HW_EVENT;
    header.Param[1] = NOTIFY_OPEN_DEVICE;
    ASSERT_TRUE(ioman.Write(&header, sizeof header));
    ASSERT_EQ(WaitForSingleObject(lineSeen, 5000), WAIT_OBJECT_0) << "the delivery reached its trace line";

    auto closing = std::async(std::launch::async, [&] { manager.Close(); });
    Sleep(300); // Close has cleared the callback and the user data by now
    SetEvent(lineRelease);
    closing.get();
    TraceStop();

    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(callsWithOtherData.load(), 0) << "the owner got an event without its user data";
    CloseHandle(lineSeen);
    CloseHandle(lineRelease);
}

// Bytes left in the OUT FIFO when the pipe broke never precede the next greeting, even
// when the manager is slow to reach its greeting phase (here: a slow trace line).
TEST_F(TracedLinkTest, StaleOutgoingBytesNeverPrecedeTheGreeting) {
    static std::atomic<bool> slowGreeting;
    slowGreeting = false;
    DriverPipeServer driver("WINDDX0", [](const DriverRequestSeen& request) {
        if (slowGreeting && LineOf(request).find("IOMAN: Phase: 1 => 2") != std::string::npos) {
            Sleep(300);
        }
        return request.buffer;
    });
    TraceStoppedFirst traceStoppedFirst;
    ASSERT_TRUE(driver.Valid());

    TestPipeServer ioman("VCORE\\IOMAN");
    CIoManager manager;
    ASSERT_EQ(manager.Open([](const IMM*, uint32_t, void*) {}, 0, nullptr), 1);
    ASSERT_TRUE(ioman.Accept());
    ASSERT_EQ(ioman.Read(4), (std::vector<uint8_t>{0, 0, 0, 0}));
    ASSERT_TRUE(WaitUntil([&] { return manager.Phase() == 3; }));

    // The service stops reading: the pipe fills, then the OUT FIFO behind it.
    IMM event = {};
    event.Type = MSG_TYPE_CALL_EVENT;
    event.Code = CALL_STATUS_RINGING;
    memset(event.Payload, 'P', sizeof event.Payload);
    for (int i = 0; i < 200; ++i) {
        manager.SendEvent(0, 1, &event);
    }
    Sleep(1000);

    slowGreeting = true;
    ioman.Break();
    ASSERT_TRUE(ioman.Accept());
    EXPECT_EQ(ioman.Read(4), (std::vector<uint8_t>{0, 0, 0, 0})) << "the adapter index comes first";
    // The OUT FIFO was full when the pipe broke: what it held is said to be lost.
    EXPECT_TRUE(Traced(driver, " bytes for the Service lost with the connection"));
    manager.Close();
}

TEST_F(TracedLinkTest, CloseFromTheOwnerCallbackIsTracedAsRefused) {
    DriverPipeServer driver("WINDDX0");
    TraceStoppedFirst traceStoppedFirst;
    ASSERT_TRUE(driver.Valid());
    TestPipeServer ioman("VCORE\\IOMAN");
    static CIoManager* manager;
    static std::atomic<bool> closeReturned;
    closeReturned = false;
    CIoManager instance;
    manager = &instance;
    ASSERT_EQ(instance.Open(
                  [](const IMM*, uint32_t, void*) {
                      manager->Close();
                      closeReturned = true;
                  },
                  0, nullptr),
              1);
    ASSERT_TRUE(ioman.Accept());
    ASSERT_TRUE(WaitUntil([&] { return instance.Phase() == 3; }));
    iBusMessage header = {};
    header.Size = 28;
    header.Id = 0x3E8;
    header.Kind = 3;
    ASSERT_TRUE(ioman.Write(&header, sizeof header));
    if (!WaitUntil([&] { return closeReturned.load(); }, 10000)) {
        ADD_FAILURE() << "Close called on the delivery thread never returned";
        TerminateProcess(GetCurrentProcess(), 1);
    }
    instance.Close();
    TraceStop();
    EXPECT_TRUE(Traced(driver, "IOMAN: ERROR: Close called from the owner callback! Refused"));
}

} // namespace

// At most 64 requests wait for a service that is not there; the oldest go, said so.
TEST_F(TracedLinkTest, RequestsBeyondTheWaitingLimitDropTheOldestTraced) {
    DriverPipeServer driver("WINDDX0");
    TraceStoppedFirst traceStoppedFirst;
    ASSERT_TRUE(driver.Valid());
    CIoManager manager;
    ASSERT_EQ(manager.Open([](const IMM*, uint32_t, void*) {}, 0, nullptr), 1);
    for (uint32_t value = 0; value < 70; ++value) {
        manager.SendEvent(value, 3, nullptr);
    }
    TestPipeServer ioman("VCORE\\IOMAN");
    ASSERT_TRUE(ioman.Accept());
    EXPECT_EQ(ioman.Read(4), (std::vector<uint8_t>{0, 0, 0, 0}));
    for (uint32_t value = 6; value < 70; ++value) {
        auto message = ioman.Read(28);
        ASSERT_EQ(message.size(), 28u);
        uint32_t got;
        memcpy(&got, message.data() + 16, 4); // Param 1: the request's value
        ASSERT_EQ(got, value) << "the 64 newest, in order";
    }
    EXPECT_TRUE(ioman.Quiet(100));
    manager.Close();
    TraceStop();
    int dropped = 0;
    for (const auto& request : driver.Requests()) {
        dropped +=
            LineOf(request).find("IOMAN: WARNING: No connection to Service: the oldest waiting request "
                                 "dropped") != std::string::npos;
    }
    EXPECT_EQ(dropped, 6);
}

namespace {

// The PipeThread keeps a read waiting before the service writes, and that read completes
// with whatever the service's write brought: a message comes off the pipe in one piece,
// and one written in pieces still arrives whole, with no short-read warning.
TEST_F(TracedLinkTest, MessagesWrittenWholeOrInPiecesArriveWholeWithoutReadWarnings) {
    DriverPipeServer driver("WINDDX0");
    TraceStoppedFirst traceStoppedFirst;
    ASSERT_TRUE(driver.Valid());

    static std::atomic<int> arrived;
    static std::atomic<uint32_t> lastInfo;
    arrived = 0;
    TestPipeServer ioman("VCORE\\IOMAN");
    CIoManager manager;
    ASSERT_EQ(manager.Open(
                  [](const IMM* message, uint32_t, void*) {
                      lastInfo = message->Info;
                      ++arrived;
                  },
                  0, nullptr),
              1);
    ASSERT_TRUE(ioman.Accept());
    ASSERT_TRUE(WaitUntil([&] { return manager.Phase() == 3; }));

    // A call event (28 bytes: no buffers), then a key with its payload (28 + 512 bytes).
    uint8_t message[28 + 512] = {};
    iBusMessage header = {};
    header.Size = 28;
    header.Id = 0x3E8;
    header.Kind = 3;
    header.Param[0] = 0;    // MSG_TYPE_CALL_EVENT
    header.Param[1] = 5;    // CALL_STATUS_INPROGRESS
    header.Param[2] = 1001; // Info
    ASSERT_TRUE(ioman.Write(&header, 28));
    ASSERT_TRUE(WaitUntil([&] { return arrived == 1; }));
    EXPECT_EQ(lastInfo.load(), 1001u);

    header.Size = 28 + 512;
    header.Param[0] = 1; // MSG_TYPE_HW_EVENT
    header.Param[1] = 1; // NOTIFY_DTMF_KEY
    header.Param[2] = '5';
    header.Param[3] = 0x08; // the payload
    memcpy(message, &header, 28);
    memset(message + 28, 'p', 512);
    for (size_t at = 0; at < sizeof message; at += 100) {
        ASSERT_TRUE(ioman.Write(message + at, sizeof message - at < 100 ? sizeof message - at : 100));
        Sleep(20);
    }
    ASSERT_TRUE(WaitUntil([&] { return arrived == 2; }));
    EXPECT_EQ(lastInfo.load(), (uint32_t)'5');
    manager.Close();
    TraceStop();
    EXPECT_TRUE(Traced(driver, "IOMAN: 0: Event from Adapter: "));
    EXPECT_FALSE(Traced(driver, "PipeThread: WARNING: Read")) << "a read made ahead takes what comes";
}

} // namespace
