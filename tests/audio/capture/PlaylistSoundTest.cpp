// CPlaylistSound and CPrompt on a hand-driven playback buffer. "Playing" a segment means:
// what the buffer holds there is heard, the play cursor moves past its last byte and the
// notification there refills it, as DirectSound and the IVR thread would.
#include "audio/PlaylistSound.h"
#include "audio/Prompt.h"

#include "AudioTestFiles.h"
#include "FakeAudioBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr DWORD kSeg = CPlaylistSound::kSegmentBytes;
constexpr DWORD kRing = CPlaylistSound::kBufferBytes;

// Samples that tell which file they come from (tag) and are never silence.
std::vector<BYTE> Tagged(int tag, DWORD bytes) {
    std::vector<int16_t> s(bytes / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(tag << 12 | (i & 0xFFF));
    return AsBytes(s);
}

std::vector<BYTE> Zeros(DWORD bytes) {
    return std::vector<BYTE>(bytes, 0);
}

std::vector<BYTE> Concat(std::initializer_list<std::vector<BYTE>> parts) {
    std::vector<BYTE> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

class PlaylistTest : public ::testing::Test {
protected:
    void SetUp() override { Make(TelephoneFormat()); }
    void TearDown() override {
        sound.reset();
        if (event)
            CloseHandle(event);
    }
    void Make(const WAVEFORMATEX& wfx) {
        state = std::make_shared<FakeRingState>(kRing, wfx);
        if (!event)
            event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        sound = std::make_unique<CPlaylistSound>(std::make_unique<FakeRing>(state), event);
        ASSERT_EQ(S_OK, sound->Initialize());
    }
    std::string Wav(const std::string& name, const std::vector<BYTE>& data) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteWav(path, data));
        return path;
    }
    // The stream was (re)started: the cursor stands at 0 and nothing was heard yet.
    void Started() {
        segment = 0;
        heard.clear();
        ASSERT_TRUE(state->bRunning);
        ASSERT_EQ(0u, state->dwPrimary);
    }
    void PlaySegment() {
        const BYTE* p = state->memory.data() + segment * kSeg;
        heard.insert(heard.end(), p, p + kSeg);
        segment = (segment + 1) % CPlaylistSound::kSegmentCount;
        state->dwPrimary = segment * kSeg;
        ASSERT_EQ(S_OK, sound->HandleNotification());
    }
    void PlaySegments(int n) {
        for (int i = 0; i < n; ++i)
            PlaySegment();
    }

    TempFolder dir;
    HANDLE event = nullptr;
    std::shared_ptr<FakeRingState> state;
    std::unique_ptr<CPlaylistSound> sound;
    DWORD segment = 0;
    std::vector<BYTE> heard;
};

TEST_F(PlaylistTest, EverySegmentEndSignalsThePlaybackEvent) {
    ASSERT_EQ(20u, state->notifications.size());
    for (DWORD k = 0; k < 20; ++k) {
        EXPECT_EQ((k + 1) * kSeg - 1, state->notifications[k].dwOffset);
        EXPECT_EQ(event, state->notifications[k].hEventNotify);
    }
    EXPECT_TRUE(sound->IsFinished()); // nothing given, nothing playing
}

TEST_F(PlaylistTest, FilesFollowOneAnotherAtSegmentBoundaries) {
    const std::vector<std::string> list = {Wav("a.wav", Tagged(1, 1000)), Wav("b.wav", Tagged(2, 2000)),
                                           Wav("c.wav", Tagged(3, 5000))};
    ASSERT_EQ(S_OK, sound->PlayList(&list));
    Started();
    EXPECT_FALSE(sound->IsFinished());
    const std::vector<BYTE> expected = Concat({Tagged(1, 1000), Zeros(600), Tagged(2, 2000), Zeros(1200),
                                               Tagged(3, 5000), Zeros(2 * kRing - 9800)});

    // Finished exactly at the notification after the last byte of c.wav was played.
    for (int i = 0; i < 40; ++i) {
        PlaySegment();
        EXPECT_EQ(heard.size() >= 9800, sound->IsFinished()) << "after " << heard.size() << " bytes";
    }
    EXPECT_EQ(expected, heard);
}

TEST_F(PlaylistTest, FileLongerThanTheBufferStreamsThroughTheWrap) {
    const std::vector<BYTE> data = Tagged(5, 48000); // 3 s
    const std::vector<std::string> list = {Wav("long.wav", data)};
    ASSERT_EQ(S_OK, sound->PlayList(&list));
    Started();
    // Written ahead: 700 ms from the start; the rest of the ring is silent.
    const DWORD lead = CPlaylistSound::kAheadSegments * kSeg;
    EXPECT_EQ(0, std::memcmp(state->memory.data(), data.data(), lead));
    EXPECT_EQ(Zeros(kRing - lead), std::vector<BYTE>(state->memory.begin() + lead, state->memory.end()));
    for (int i = 0; i < 45; ++i) {
        PlaySegment();
        EXPECT_EQ(heard.size() >= data.size(), sound->IsFinished()) << "after " << heard.size() << " bytes";
    }
    EXPECT_EQ(Concat({data, Zeros(45 * kSeg - 48000)}), heard);
}

TEST_F(PlaylistTest, MissingSecondFileEndsTheList) {
    const std::vector<std::string> list = {Wav("a.wav", Tagged(1, 3000)), dir.File("missing.wav"),
                                           Wav("c.wav", Tagged(3, 1000))};
    ASSERT_EQ(S_OK, sound->PlayList(&list));
    Started();
    PlaySegments(30);
    EXPECT_EQ(Concat({Tagged(1, 3000), Zeros(30 * kSeg - 3000)}), heard);
    EXPECT_TRUE(sound->IsFinished());
}

TEST_F(PlaylistTest, MissingFirstFileEndsTheListToo) {
    const std::vector<std::string> list = {dir.File("missing.wav"), Wav("b.wav", Tagged(2, 1000))};
    ASSERT_EQ(S_OK, sound->PlayList(&list));
    Started();
    PlaySegment();
    EXPECT_TRUE(sound->IsFinished());
    PlaySegments(20);
    EXPECT_EQ(Zeros(21 * kSeg), heard);
}

TEST_F(PlaylistTest, EmptyListIsSilentAndFinishedAtTheFirstNotification) {
    // Something else was playing before: none of it may be heard again.
    ASSERT_EQ(S_OK, sound->PlayFile(Wav("before.wav", Tagged(4, 48000)).c_str()));
    Started();
    PlaySegments(3);

    const std::vector<std::string> empty;
    ASSERT_EQ(S_OK, sound->PlayList(&empty));
    Started();
    EXPECT_EQ(Zeros(kRing), state->memory);
    EXPECT_FALSE(sound->IsFinished());
    PlaySegment();
    EXPECT_TRUE(sound->IsFinished());
    PlaySegments(25);
    EXPECT_EQ(Zeros(26 * kSeg), heard);
}

TEST_F(PlaylistTest, EightBitBufferIsSilentAt128) {
    Make(TelephoneFormat(8));
    const std::vector<std::string> empty;
    ASSERT_EQ(S_OK, sound->PlayList(&empty));
    EXPECT_EQ(std::vector<BYTE>(kRing, 128), state->memory);
}

TEST_F(PlaylistTest, PlayFileAndBackground) {
    ASSERT_EQ(S_OK, sound->PlayFile(dir.File("missing.wav").c_str()));
    Started();
    EXPECT_EQ(Zeros(kRing), state->memory);
    PlaySegment();
    EXPECT_TRUE(sound->IsFinished());

    sound->SetBackgroundFile(Wav("background.wav", Tagged(6, 4000)));
    ASSERT_EQ(S_OK, sound->PlayBackground());
    Started();
    PlaySegments(2);
    EXPECT_FALSE(sound->IsFinished());
    PlaySegment();
    EXPECT_TRUE(sound->IsFinished());
    PlaySegments(20);
    EXPECT_EQ(Concat({Tagged(6, 4000), Zeros(23 * kSeg - 4000)}), heard);
}

TEST_F(PlaylistTest, LostBufferIsRestoredAndRefilledFromTheStartOfTheCurrentFile) {
    const std::vector<BYTE> first = Tagged(1, 2000);
    const std::vector<BYTE> data = Tagged(7, 48000);
    const std::vector<std::string> list = {Wav("first.wav", first), Wav("long.wav", data)};
    ASSERT_EQ(S_OK, sound->PlayList(&list));
    Started();
    PlaySegments(25);

    state->bLost = true;
    state->nRestoresNeeded = 3; // the first two attempts fail
    const int starts = state->nStartCalls;
    ASSERT_EQ(S_OK, sound->HandleNotification());
    EXPECT_EQ(3, state->nRestoreCalls);
    EXPECT_FALSE(state->bLost);
    EXPECT_EQ(starts + 1, state->nStartCalls);
    EXPECT_EQ(0u, state->setPositions.back());
    // Written ahead: 700 ms from the start; the rest of the ring is silent.
    const DWORD lead = CPlaylistSound::kAheadSegments * kSeg;
    EXPECT_EQ(0, std::memcmp(state->memory.data(), data.data(), lead));
    EXPECT_EQ(Zeros(kRing - lead), std::vector<BYTE>(state->memory.begin() + lead, state->memory.end()));

    // It goes on from there and still finishes only after the whole file was heard.
    Started();
    for (int i = 0; i < 35; ++i) {
        PlaySegment();
        EXPECT_EQ(heard.size() >= data.size(), sound->IsFinished()) << "after " << heard.size() << " bytes";
    }
    EXPECT_EQ(Concat({data, Zeros(35 * kSeg - 48000)}), heard);
}

TEST_F(PlaylistTest, BufferThatStaysLostIsReportedNotWaitedForForever) {
    const std::vector<std::string> list = {Wav("a.wav", Tagged(1, 48000))};
    ASSERT_EQ(S_OK, sound->PlayList(&list));
    state->bLost = true;
    state->nRestoresNeeded = 1000000;
    EXPECT_EQ(DSERR_BUFFERLOST, sound->HandleNotification());
    EXPECT_EQ(static_cast<int>(CPlaylistSound::kRestoreAttempts), state->nRestoreCalls);
}

TEST(PlaylistWithoutBuffer, CallsAreRefused) {
    CPlaylistSound sound(nullptr, nullptr);
    EXPECT_EQ(CO_E_NOTINITIALIZED, sound.Initialize());
    EXPECT_EQ(CO_E_NOTINITIALIZED, sound.PlayFile("x.wav"));
    EXPECT_EQ(CO_E_NOTINITIALIZED, sound.HandleNotification());
    EXPECT_EQ(CO_E_NOTINITIALIZED, sound.Stop());
}

// --- CPrompt ------------------------------------------------------------------------------

TEST_F(PlaylistTest, PromptPlaysItsListAndStopSwitchesToTheBackground) {
    CPrompt prompt(sound.get(), event);
    EXPECT_FALSE(prompt.AddFileToPlayAtBack(""));
    ASSERT_TRUE(prompt.AddFileToPlayAtBack(Wav("one.wav", Tagged(1, 1600))));
    ASSERT_TRUE(prompt.AddFileToPlayAtBack(Wav("two.wav", Tagged(2, 1600))));
    sound->SetBackgroundFile(Wav("background.wav", Tagged(6, 3200)));

    EXPECT_FALSE(prompt.IsPlaying());
    ASSERT_EQ(S_OK, prompt.StartPlayback());
    Started();
    EXPECT_TRUE(prompt.IsPlaying());
    // Files of exactly one segment follow each other with one silent segment between.
    PlaySegments(2);
    EXPECT_TRUE(prompt.IsPlaying());
    PlaySegment();
    EXPECT_FALSE(prompt.IsPlaying());
    EXPECT_EQ(Concat({Tagged(1, 1600), Zeros(kSeg), Tagged(2, 1600)}), heard);

    ASSERT_EQ(S_OK, prompt.StartPlayback());
    Started();
    PlaySegment();
    ASSERT_EQ(S_OK, prompt.Stop());
    Started();
    PlaySegments(2);
    EXPECT_EQ(Tagged(6, 3200), heard);
}

// The writer goes by the play position: signals that came together (a thread held up) are
// caught up, and a writer later than its lead leaves the cursor in silence, never in old
// audio; the file then goes on where it was, and the stream ends that much later.
TEST_F(PlaylistTest, SignalsThatCameTogetherAreCaughtUpAndALateWriterLeavesSilence) {
    const std::vector<BYTE> data = Tagged(6, 64000); // 4 s
    const std::vector<std::string> list = {Wav("long.wav", data)};
    ASSERT_EQ(S_OK, sound->PlayList(&list));
    Started();
    auto play = [&](int segments) { // heard, then one signal
        for (int i = 0; i < segments; ++i) {
            const BYTE* p = state->memory.data() + segment * kSeg;
            heard.insert(heard.end(), p, p + kSeg);
            segment = (segment + 1) % CPlaylistSound::kSegmentCount;
        }
        state->dwPrimary = segment * kSeg;
        ASSERT_EQ(S_OK, sound->HandleNotification());
    };
    play(3);
    play(2);
    play(10);                   // a second late: the 700 ms written, then silence
    const DWORD gap = 4 * kSeg; // three segments heard silent, and the one playing
    while (heard.size() < data.size() + gap + 3 * kSeg) {
        EXPECT_EQ(heard.size() >= data.size() + gap, sound->IsFinished())
            << "after " << heard.size() << " bytes";
        play(1);
    }
    EXPECT_TRUE(sound->IsFinished());
    const std::vector<BYTE> first(data.begin(), data.begin() + 12 * kSeg);
    const std::vector<BYTE> rest(data.begin() + 12 * kSeg, data.end());
    EXPECT_EQ(Concat({first, Zeros(gap), rest, Zeros(heard.size() - data.size() - gap)}), heard);
}

} // namespace
