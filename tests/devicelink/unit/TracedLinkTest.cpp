// The device link with its trace lines going to a stand-in debug-output driver.
// Sets the trace key that every test process reads: these run alone.
#include "DriverPipeServer.h"
#include "IoManager.h"
#include "MessageCatalogue.h"
#include "TestPipeServer.h"
#include "Trace.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
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
        DWORD type = kTraceDebugDriver;
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

    TestPipeServer ioman("VCORE\\IOMAN");
    CIoManager manager;
    ASSERT_EQ(manager.Open([](const IMM*, uint32_t, void*) {}, 0, nullptr), 1);
    ASSERT_TRUE(ioman.Accept());
    ASSERT_TRUE(WaitUntil([&] { return manager.Phase() == 3; }));
    manager.SendEvent(0, 7, nullptr);
    manager.Close();
    TraceStop();

    EXPECT_TRUE(Traced(driver, "IBUS: Create: Implementation supports DirectPostMessage! No Message Queue!"));
    EXPECT_TRUE(Traced(driver, "IOMAN: WARNING: Can not translate Internal Code (7) to IOCTL"));
    EXPECT_TRUE(Traced(driver, "IOMAN: Phase: 2 => 3"));
    EXPECT_TRUE(Traced(driver, "IOMAN: Thread Proc Exited"));
}

} // namespace
