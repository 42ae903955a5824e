// CCapture as the IVR state machine's thread uses it: one dispatch per tenth of a second
// taken, the keys of a take handed out with that take only. The test writes "captured"
// samples into a hand-driven ring and calls RecordCapturedData as the thread would after
// a notification, or after a wake-up that came late.
#include "audio/Capture.h"

#include "tests/audio/capture/AudioTestFiles.h"
#include "tests/audio/capture/FakeAudioBuffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

constexpr DWORD kRing = 32000; // 2 s
constexpr DWORD kTenth = 1600; // bytes of 100 ms
constexpr DWORD kMarker = 0xdeadbeef;

class IvrCapture : public ::testing::Test {
protected:
    void SetUp() override {
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        record = std::make_shared<FakeCaptureDevice::Record>();
        ASSERT_EQ(0, capture.Initialize(std::make_unique<FakeCaptureDevice>(record), event, 0x80000));
        ASSERT_EQ(S_OK, capture.StartOrStopRecord(true));
    }
    void TearDown() override { CloseHandle(event); }

    // Writes the samples into the ring after what was captured so far and moves the
    // capture and read positions behind them.
    void Capture(const std::vector<int16_t>& samples) {
        FakeRingState& ring = *record->buffers.back();
        for (int16_t s : samples) {
            std::memcpy(ring.memory.data() + ring.dwSecondary, &s, 2);
            ring.dwSecondary = (ring.dwSecondary + 2) % kRing;
        }
        ring.dwPrimary = ring.dwSecondary;
    }
    // One take; its result, and in `tenths` what the out-parameter said.
    long Take() {
        tenths = kMarker;
        return capture.RecordCapturedData(&tenths);
    }

    HANDLE event = nullptr;
    std::shared_ptr<FakeCaptureDevice::Record> record;
    CCapture capture;
    DWORD tenths = 0;
};

TEST_F(IvrCapture, EveryTakeTellsHowManyTenthsItTook) {
    // Not yet a whole tenth: nothing taken, and the count says so.
    Capture(Silence(50));
    EXPECT_EQ(1, Take());
    EXPECT_EQ(0u, tenths);

    // One notification's worth (with the 50 ms from before: 150 ms, one whole tenth).
    Capture(Silence(100));
    EXPECT_EQ(0, Take());
    EXPECT_EQ(1u, tenths);
    EXPECT_EQ(kTenth, capture.GetNextReadOffset());

    // A thread that woke 1.7 s late takes 17 tenths at once (the 50 ms left over stay),
    // and a key pressed in them comes with that take.
    std::vector<int16_t> late = Silence(1400);
    late += KeyTone('5', 80);
    late += Silence(220);
    Capture(late);
    EXPECT_EQ(0, Take());
    EXPECT_EQ(17u, tenths);
    EXPECT_EQ("5", capture.GetDigits());
    EXPECT_EQ(1u, capture.GetDigitCount());

    // A take across the end of the ring counts both of its parts: 3200 bytes before the
    // end, 3200 after it.
    ASSERT_EQ(28800u, capture.GetNextReadOffset());
    Capture(Silence(400));
    EXPECT_EQ(0, Take());
    EXPECT_EQ(4u, tenths);
    EXPECT_EQ(6400u, record->buffers.back()->dwLastLockBytes);
    EXPECT_EQ(3200u, capture.GetNextReadOffset());

    // Without the out-parameter the call works as before.
    Capture(Silence(100));
    EXPECT_EQ(0, capture.RecordCapturedData());

    // Taken one tenth at a time: the oldest first, the rest left for the next calls, and
    // the key with the tenth in which the detector saw it end.
    std::vector<int16_t> three = Silence(100);
    three += KeyTone('7', 80);
    three += Silence(120);
    Capture(three);
    std::string keys;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(0, capture.RecordCapturedData(&tenths, 1));
        EXPECT_EQ(1u, tenths);
        keys += capture.GetDigits().empty() ? "." : capture.GetDigits();
    }
    EXPECT_EQ(1, capture.RecordCapturedData(&tenths, 1));
    EXPECT_EQ("..7", keys);
}

TEST_F(IvrCapture, ACaptureWithoutBufferTakesNoTenths) {
    CCapture broken;
    auto rec = std::make_shared<FakeCaptureDevice::Record>();
    rec->hrCreate = DSERR_ALLOCATED;
    ASSERT_EQ(DSERR_ALLOCATED, broken.Initialize(std::make_unique<FakeCaptureDevice>(rec), event, 0x80000));
    DWORD none = kMarker;
    EXPECT_EQ(1, broken.RecordCapturedData(&none));
    EXPECT_EQ(0u, none);
    EXPECT_EQ("", broken.GetDigits());
}

TEST_F(IvrCapture, AKeyIsHandedOutWithItsTakeOnly) {
    std::vector<int16_t> audio = KeyTone('7', 80);
    audio += Silence(120);
    Capture(audio);
    ASSERT_EQ(0, Take());
    const std::string first = capture.GetDigits();
    EXPECT_EQ("7", first);

    // The thread wakes again before a whole tenth is there: nothing is taken, and the key
    // of the take before is not handed out a second time.
    Capture(Silence(60));
    EXPECT_EQ(1, Take());
    EXPECT_EQ("", capture.GetDigits());
    EXPECT_EQ(0u, capture.GetDigitCount());

    // The next take has its own keys only.
    audio = Silence(40);
    audio += KeyTone('8', 80);
    audio += Silence(80);
    Capture(audio);
    ASSERT_EQ(0, Take());
    EXPECT_EQ(2u, tenths);
    EXPECT_EQ("8", capture.GetDigits());
    // What a reader got earlier is its own copy: later takes do not change it.
    EXPECT_EQ("7", first);

    Capture(Silence(100));
    ASSERT_EQ(0, Take());
    EXPECT_EQ("", capture.GetDigits());
}

// Digits read on another thread than the one taking the audio, as the IVR may: every read
// is the whole result of one take, never a mix of two.
TEST_F(IvrCapture, DigitsReadFromAnotherThreadAreWholeTakes) {
    std::vector<int16_t> keys = KeyTone('1', 60);
    keys += Silence(20);
    keys += KeyTone('2', 60);
    keys += Silence(20);
    keys += KeyTone('3', 60);
    keys += Silence(80); // 300 ms: "123" in three tenths
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!done) {
            const std::string d = capture.GetDigits();
            if (d != "" && d != "123")
                ++torn;
            ++reads;
        }
    });
    // The reader is under way before the takes begin, however busy the machine is.
    while (reads == 0)
        Sleep(1);
    for (int i = 0; i < 200; ++i) {
        Capture(keys);
        ASSERT_EQ(0, Take());
        ASSERT_EQ("123", capture.GetDigits());
        Capture(Silence(100));
        ASSERT_EQ(0, Take());
    }
    done = true;
    reader.join();
    EXPECT_EQ(0, torn.load());
    EXPECT_GT(reads.load(), 0);
}

// Listening ahead, as the dialogue does: every 10 ms block of the tenth being captured is
// heard at once, a key goes out 20 ms after its end, and the take of its tenth neither hands
// it out again nor hears its audio twice.
TEST_F(IvrCapture, AKeyHeardAheadGoesOutOnceBeforeItsTenthIsComplete) {
    CCapture ahead;
    auto rec = std::make_shared<FakeCaptureDevice::Record>();
    ahead.SetListenAhead(true);
    ASSERT_EQ(0, ahead.Initialize(std::make_unique<FakeCaptureDevice>(rec), event, 0x80000));
    ASSERT_EQ(S_OK, ahead.StartOrStopRecord(true));
    FakeRingState& ring = *rec->buffers.back();
    ASSERT_EQ(200u, ring.notifications.size());
    EXPECT_EQ(159u, ring.notifications[0].dwOffset);
    EXPECT_EQ(event, ring.notifications[199].hEventNotify);
    auto put = [&](const std::vector<int16_t>& samples) {
        for (int16_t s : samples) {
            std::memcpy(ring.memory.data() + ring.dwSecondary, &s, 2);
            ring.dwSecondary = (ring.dwSecondary + 2) % kRing;
        }
        ring.dwPrimary = ring.dwSecondary;
    };
    std::string heard = "unset";
    DWORD n = kMarker;

    // 60 ms of '7' and 20 ms of silence: reported at the second silent block, the tenth
    // not complete yet.
    std::vector<int16_t> audio = KeyTone('7', 60);
    audio += Silence(20);
    put(audio);
    EXPECT_EQ(0, ahead.ListenAhead(&heard));
    EXPECT_EQ("7", heard);
    EXPECT_EQ(1, ahead.ListenAhead(&heard)); // nothing new
    EXPECT_EQ("", heard);
    EXPECT_EQ(1, ahead.RecordCapturedData(&n));

    // The tenth completes: its take has no digit of its own, and counts the early one.
    put(Silence(20));
    ASSERT_EQ(0, ahead.RecordCapturedData(&n));
    EXPECT_EQ(1u, n);
    EXPECT_EQ("", ahead.GetDigits());
    EXPECT_EQ(1u, ahead.GetEarlyDigitCount());

    // A key whose tenth was partly heard ahead and which ends after that is found by the
    // take, once: what was heard ahead is not heard again.
    audio = Silence(30);
    audio += KeyTone('4', 50);
    put(audio);
    EXPECT_EQ(0, ahead.ListenAhead(&heard));
    EXPECT_EQ("", heard);
    audio = Silence(20);
    audio += Silence(100);
    put(audio);
    ASSERT_EQ(0, ahead.RecordCapturedData(&n, 1));
    EXPECT_EQ("4", ahead.GetDigits());
    EXPECT_EQ(0u, ahead.GetEarlyDigitCount());
    ASSERT_EQ(0, ahead.RecordCapturedData(&n, 1));
    EXPECT_EQ("", ahead.GetDigits());

    // Without listening ahead nothing is heard early.
    EXPECT_EQ(1, capture.ListenAhead(&heard));
}

} // namespace
