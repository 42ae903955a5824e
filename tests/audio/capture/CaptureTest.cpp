// CCapture on a hand-driven capture buffer: the test writes "captured" samples into the
// ring, moves the read position and calls RecordCapturedData as the capture thread would.
#include "audio/Capture.h"

#include "AudioTestFiles.h"
#include "FakeAudioBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

constexpr DWORD kRing = 32000;
constexpr DWORD kTenth = 1600;

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        record = std::make_shared<FakeCaptureDevice::Record>();
        ASSERT_EQ(0, capture.Initialize(std::make_unique<FakeCaptureDevice>(record), event, 0x80000));
        ASSERT_EQ(S_OK, capture.StartOrStopRecord(true));
    }
    void TearDown() override { CloseHandle(event); }

    FakeRingState& Ring() { return *record->buffers.back(); }

    // "Captures" samples: writes them into the ring after what was captured so far and
    // moves the read position behind them.
    void CaptureSamples(const std::vector<int16_t>& samples) {
        FakeRingState& ring = Ring();
        for (int16_t s : samples) {
            std::memcpy(ring.memory.data() + ring.dwSecondary, &s, 2);
            ring.dwSecondary = (ring.dwSecondary + 2) % kRing;
        }
        ring.dwPrimary = ring.dwSecondary;
    }
    // Numbered samples, so that every one can be found again in a file.
    std::vector<int16_t> Numbered(DWORD bytes) {
        std::vector<int16_t> s(bytes / 2);
        for (auto& v : s)
            v = static_cast<int16_t>(next++);
        return s;
    }
    static std::vector<BYTE> NumberedBytes(int from, DWORD bytes) {
        std::vector<int16_t> s(bytes / 2);
        for (auto& v : s)
            v = static_cast<int16_t>(from++);
        return AsBytes(s);
    }
    std::string Digits() const { return capture.GetDigits(); }

    HANDLE event = nullptr;
    std::shared_ptr<FakeCaptureDevice::Record> record;
    CCapture capture;
    TempFolder dir;
    int next = 0;
};

TEST_F(CaptureTest, EveryStartMakesAFreshLoopingBufferWithTwentyNotifications) {
    ASSERT_EQ(2u, record->buffers.size()); // one from Initialize, one from the start
    EXPECT_TRUE(record->buffers[0]->bReleased);
    FakeRingState& ring = Ring();
    EXPECT_FALSE(ring.bReleased);
    EXPECT_TRUE(ring.bRunning);
    EXPECT_EQ(kRing, ring.memory.size());
    EXPECT_EQ(kRing, capture.GetBufferSize());
    EXPECT_EQ(kTenth, capture.GetNotifySize());
    EXPECT_EQ(16000u, ring.wfx.nAvgBytesPerSec);
    EXPECT_EQ(1, ring.wfx.nChannels);
    EXPECT_FALSE(record->pre8.back());
    ASSERT_EQ(20u, ring.notifications.size());
    for (DWORD k = 0; k < 20; ++k) {
        EXPECT_EQ((k + 1) * kTenth - 1, ring.notifications[k].dwOffset);
        EXPECT_EQ(event, ring.notifications[k].hEventNotify);
    }

    // A start after some capture begins at offset 0 of its new buffer.
    CaptureSamples(Numbered(3 * kTenth));
    ASSERT_EQ(0, capture.RecordCapturedData());
    EXPECT_EQ(3 * kTenth, capture.GetNextReadOffset());
    ASSERT_EQ(S_OK, capture.StartOrStopRecord(true));
    EXPECT_EQ(3u, record->buffers.size());
    EXPECT_EQ(0u, capture.GetNextReadOffset());
}

TEST_F(CaptureTest, OldDirectXGetsTheShortBufferDescription) {
    CCapture old;
    auto rec = std::make_shared<FakeCaptureDevice::Record>();
    ASSERT_EQ(0, old.Initialize(std::make_unique<FakeCaptureDevice>(rec), event, 0x70000));
    EXPECT_TRUE(rec->pre8.back());
}

TEST_F(CaptureTest, FailingBufferCreationFailsInitialize) {
    CCapture broken;
    auto rec = std::make_shared<FakeCaptureDevice::Record>();
    rec->hrCreate = DSERR_ALLOCATED;
    EXPECT_EQ(DSERR_ALLOCATED, broken.Initialize(std::make_unique<FakeCaptureDevice>(rec), event, 0x80000));
    EXPECT_EQ(1, broken.RecordCapturedData()); // no buffer: nothing to take
}

TEST_F(CaptureTest, LessThanATenthOfASecondTakesNothing) {
    CaptureSamples(Numbered(800));
    EXPECT_EQ(1, capture.RecordCapturedData());
    EXPECT_EQ(0, Ring().nLocks);
    EXPECT_EQ(0u, capture.GetNextReadOffset());

    // Once a whole tenth is there it is taken, and only whole tenths are.
    CaptureSamples(Numbered(kTenth));
    EXPECT_EQ(0, capture.RecordCapturedData());
    EXPECT_EQ(kTenth, Ring().dwLastLockBytes);
    EXPECT_EQ(kTenth, capture.GetNextReadOffset());
    EXPECT_FALSE(Ring().bLocked);
}

TEST_F(CaptureTest, WrappingReadWritesBothPartsInOrder) {
    const std::string path = dir.File("wrap.wav");
    ASSERT_EQ(S_OK, capture.StartRecordingToFile(path.c_str()));
    EXPECT_TRUE(capture.IsRecordingToFile());

    CaptureSamples(Numbered(30400));
    ASSERT_EQ(0, capture.RecordCapturedData());
    EXPECT_EQ(30400u, capture.GetNextReadOffset());

    // Past the end of the ring to 4000: 1600 bytes at the end, then 3200 from the start;
    // the 800 bytes of an unfinished tenth stay for later.
    CaptureSamples(Numbered(5600));
    ASSERT_EQ(4000u, Ring().dwSecondary);
    ASSERT_EQ(0, capture.RecordCapturedData());
    EXPECT_EQ(30400u, Ring().dwLastLockOffset);
    EXPECT_EQ(4800u, Ring().dwLastLockBytes);
    EXPECT_EQ(3200u, capture.GetNextReadOffset());
    EXPECT_EQ(1, capture.RecordCapturedData());

    capture.StopRecordingToFile();
    EXPECT_FALSE(capture.IsRecordingToFile());
    EXPECT_EQ(NumberedBytes(0, 30400 + 4800), ReadWavData(path));
}

TEST_F(CaptureTest, SecondRecordingLeavesTheFirstFileUntouched) {
    const std::string first = dir.File("first.wav");
    const std::string second = dir.File("second.wav");
    ASSERT_EQ(S_OK, capture.StartRecordingToFile(first.c_str()));
    CaptureSamples(Numbered(2 * kTenth));
    ASSERT_EQ(0, capture.RecordCapturedData());

    EXPECT_EQ(CCapture::kAlreadyRecording, capture.StartRecordingToFile(second.c_str()));
    EXPECT_FALSE(FileExists(second));
    EXPECT_TRUE(capture.IsRecordingToFile());

    CaptureSamples(Numbered(kTenth));
    ASSERT_EQ(0, capture.RecordCapturedData());
    capture.StopRecordingToFile();
    EXPECT_EQ(NumberedBytes(0, 3 * kTenth), ReadWavData(first));
    EXPECT_FALSE(FileExists(second));
}

TEST_F(CaptureTest, FailedRecordingStartDoesNotBlockTheNextOne) {
    EXPECT_TRUE(FAILED(capture.StartRecordingToFile(dir.File("no-such-folder\\m.wav").c_str())));
    EXPECT_FALSE(capture.IsRecordingToFile());
    const std::string path = dir.File("m.wav");
    ASSERT_EQ(S_OK, capture.StartRecordingToFile(path.c_str()));
    CaptureSamples(Numbered(kTenth));
    ASSERT_EQ(0, capture.RecordCapturedData());
    capture.StopRecordingToFile();
    EXPECT_EQ(NumberedBytes(0, kTenth), ReadWavData(path));
}

TEST_F(CaptureTest, StoppingFlushesTheLastWholeTenthsAndClosesTheFile) {
    const std::string path = dir.File("stop.wav");
    ASSERT_EQ(S_OK, capture.StartRecordingToFile(path.c_str()));
    CaptureSamples(Numbered(2 * kTenth));
    ASSERT_EQ(0, capture.RecordCapturedData());
    // Three more tenths and a piece the thread has not taken yet.
    CaptureSamples(Numbered(3 * kTenth + 1000));

    EXPECT_EQ(S_OK, capture.StopCapture());
    EXPECT_FALSE(Ring().bRunning);
    EXPECT_FALSE(capture.IsRecordingToFile());
    // The file is closed properly: final sizes and "fact" 0.
    const std::vector<BYTE> b = ReadAll(path);
    ASSERT_EQ(56u + 5 * kTenth, b.size());
    EXPECT_EQ(0u, Le32(b, 44));
    EXPECT_EQ(5 * kTenth, Le32(b, 52));
    EXPECT_EQ(NumberedBytes(0, 5 * kTenth), ReadWavData(path));
}

TEST_F(CaptureTest, RestartTakesWhatTheOldBufferHeldAndKeepsTheFileGoing) {
    const std::string path = dir.File("restart.wav");
    ASSERT_EQ(S_OK, capture.StartRecordingToFile(path.c_str()));
    CaptureSamples(Numbered(2 * kTenth + 500));
    FakeRingState& old = Ring();
    ASSERT_EQ(S_OK, capture.RestartCapture());
    EXPECT_FALSE(old.bRunning);
    EXPECT_TRUE(old.bReleased);
    ASSERT_EQ(3u, record->buffers.size());
    EXPECT_TRUE(Ring().bRunning);
    EXPECT_EQ(20u, Ring().notifications.size());
    EXPECT_EQ(0u, capture.GetNextReadOffset());
    EXPECT_TRUE(capture.IsRecordingToFile());
    // The piece short of a tenth (samples 1600 to 1849) goes with the old buffer; the file
    // goes on with the new one.
    CaptureSamples(Numbered(kTenth));
    ASSERT_EQ(0, capture.RecordCapturedData());
    capture.StopRecordingToFile();
    std::vector<BYTE> expected = NumberedBytes(0, 2 * kTenth);
    const std::vector<BYTE> after = NumberedBytes(1850, kTenth);
    expected.insert(expected.end(), after.begin(), after.end());
    EXPECT_EQ(expected, ReadWavData(path));
}

// --- Key tones ------------------------------------------------------------------------

TEST_F(CaptureTest, KeyTonesInBothPartsOfAWrappedLockAreKeptInOrder) {
    CaptureSamples(Silence(1800)); // 28800 bytes
    ASSERT_EQ(0, capture.RecordCapturedData());
    ASSERT_EQ(28800u, capture.GetNextReadOffset());

    // 200 ms before the end of the ring with '1', 200 ms after it with '2'.
    std::vector<int16_t> audio = KeyTone('1', 80);
    audio += Silence(120);
    audio += KeyTone('2', 80);
    audio += Silence(120);
    CaptureSamples(audio);
    ASSERT_EQ(3200u, Ring().dwSecondary);
    ASSERT_EQ(0, capture.RecordCapturedData());
    EXPECT_EQ(6400u, Ring().dwLastLockBytes);
    EXPECT_EQ("12", Digits());
}

TEST_F(CaptureTest, KeyToneAcrossTheRingEndIsHeardOnce) {
    CaptureSamples(Silence(1950)); // 31200 bytes
    ASSERT_EQ(0, capture.RecordCapturedData());
    ASSERT_EQ(30400u, capture.GetNextReadOffset());

    std::vector<int16_t> audio = KeyTone('5', 100); // 50 ms before the end, 50 after
    audio += Silence(250);
    CaptureSamples(audio);
    ASSERT_EQ(0, capture.RecordCapturedData());
    EXPECT_EQ("5", Digits());

    // The next take has no digit of its own.
    CaptureSamples(Silence(100));
    ASSERT_EQ(0, capture.RecordCapturedData());
    EXPECT_EQ("", Digits());
}

TEST_F(CaptureTest, QuietTonesAreNotDigits) {
    std::vector<int16_t> audio = KeyTone('7', 100, 300);
    audio += Silence(100);
    CaptureSamples(audio);
    ASSERT_EQ(0, capture.RecordCapturedData());
    EXPECT_EQ("", Digits());
}

// --- The capture thread ---------------------------------------------------------------

// What the IVR engine's thread does: wait for a notification, take the captured data.
class ThreadedCapture : public CCapture {
public:
    ~ThreadedCapture() override {
        StopCapture();
        WaitForThreadDone();
    }
    void WaitForThreadDoneForTest() { WaitForThreadDone(); }
    std::atomic<int> runs{0};
    std::atomic<int> waits{0};     // waits begun
    std::atomic<int> signalled{0}; // waits ended by the event
    // Waits that sat out their time-out although the stop had been asked for meanwhile.
    std::atomic<int> stopSleptThrough{0};

protected:
    void ThreadBody() override {
        ++runs;
        while (!IsStopRequested()) {
            ++waits;
            const DWORD result = WaitForSingleObject(GetNotificationEvent(), 5000);
            if (result == WAIT_OBJECT_0) {
                ++signalled;
            } else if (IsStopRequested()) {
                ++stopSleptThrough;
            }
            RecordCapturedData();
        }
    }
};

// Polls for `condition` up to 500 times 10 ms (longer on a busy machine).
template <typename Condition> bool Eventually(Condition condition) {
    for (int i = 0; i < 500 && !condition(); ++i) {
        Sleep(10);
    }
    return condition();
}

TEST(CaptureThread, StopEndsTheThreadAndAStartRunsItAgain) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    auto record = std::make_shared<FakeCaptureDevice::Record>();
    {
        ThreadedCapture capture;
        ASSERT_EQ(0, capture.Initialize(std::make_unique<FakeCaptureDevice>(record), event, 0x80000));
        ASSERT_EQ(S_OK, capture.StartCapture());
        EXPECT_TRUE(record->buffers.back()->bRunning);
        // The thread is in (or about to enter) its wait for a notification.
        ASSERT_TRUE(Eventually([&] { return capture.waits.load() > 0; }));
        ASSERT_EQ(S_OK, capture.StopCapture());
        EXPECT_FALSE(record->buffers.back()->bRunning);
        // The stop request wakes the waiting thread through its event: the wait does not
        // sit out its time-out, however long the machine takes to run the thread.
        capture.WaitForThreadDoneForTest();
        EXPECT_EQ(0, capture.stopSleptThrough.load());
        EXPECT_EQ(1, capture.runs.load());

        ASSERT_EQ(S_OK, capture.StartCapture());
        capture.StopCapture();
        capture.WaitForThreadDoneForTest();
        EXPECT_EQ(2, capture.runs.load());
    }
    CloseHandle(event);
}

// A thread that takes a while to wind down after the stop request, as one still busy with
// its last piece of work would.
class SlowToStopCapture : public ThreadedCapture {
protected:
    void ThreadBody() override {
        ThreadedCapture::ThreadBody();
        Sleep(300);
    }
};

TEST(CaptureThread, StartRightAfterStopStillGetsARunningThread) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    auto record = std::make_shared<FakeCaptureDevice::Record>();
    {
        SlowToStopCapture capture;
        ASSERT_EQ(0, capture.Initialize(std::make_unique<FakeCaptureDevice>(record), event, 0x80000));
        ASSERT_EQ(S_OK, capture.StartCapture());
        ASSERT_EQ(S_OK, capture.StopCapture());
        // The first thread has not ended yet: the start must not rely on it.
        ASSERT_EQ(S_OK, capture.StartCapture());
        EXPECT_TRUE(Eventually([&] { return capture.runs.load() == 2; }));
        // The thread of the new start is there and still answers notifications: a wait ends
        // by the event, not by its time-out.
        const int signalled = capture.signalled.load();
        SetEvent(event);
        EXPECT_TRUE(Eventually([&] { return capture.signalled.load() > signalled; }));
    }
    CloseHandle(event);
}

} // namespace
