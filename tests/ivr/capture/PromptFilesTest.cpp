// Prompt files the stream must not play: at another rate, in stereo, 8-bit, not PCM,
// empty, cut short or not a WAV file at all. Only a file in the stream's own format (8000
// Hz 16-bit mono PCM) reaches the playback buffer; the others count as files that cannot be
// opened, and the buffer keeps silence.
#include "audio/PlaylistSound.h"
#include "tests/audio/capture/AudioTestFiles.h"
#include "tests/audio/capture/FakeAudioBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The data bytes every test file holds: a pattern silence never has.
std::vector<BYTE> Pattern() {
    return std::vector<BYTE>(3200, 0x5A);
}

std::vector<BYTE> WaveFile(WORD tag, WORD channels, DWORD rate, WORD bits, const std::vector<BYTE>& data) {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = tag;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = rate;
    wfx.wBitsPerSample = bits;
    wfx.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    wfx.nAvgBytesPerSec = rate * wfx.nBlockAlign;
    RiffBuilder riff;
    riff.Chunk("fmt ", FmtBytes(wfx, 16)).Chunk("data", data);
    return riff.Riff();
}

TEST(PromptFiles, OnlyFilesInTheStreamsFormatArePlayed) {
    TempFolder folder;
    const std::vector<std::pair<std::string, std::vector<BYTE>>> files = {
        {"good.wav", WaveFile(WAVE_FORMAT_PCM, 1, 8000, 16, Pattern())},
        {"rate.wav", WaveFile(WAVE_FORMAT_PCM, 1, 16000, 16, Pattern())},
        {"stereo.wav", WaveFile(WAVE_FORMAT_PCM, 2, 8000, 16, Pattern())},
        {"8bit.wav", WaveFile(WAVE_FORMAT_PCM, 1, 8000, 8, Pattern())},
        {"alaw.wav", WaveFile(6, 1, 8000, 8, Pattern())},
        {"empty.wav", WaveFile(WAVE_FORMAT_PCM, 1, 8000, 16, {})},
        {"cut.wav", WaveFile(WAVE_FORMAT_PCM, 1, 8000, 16, Pattern())}, // cut below
        {"text.wav", std::vector<BYTE>(100, 'x')},
    };
    for (const auto& [name, bytes] : files)
        WriteAll(folder.File(name), name == "cut.wav" ? std::vector<BYTE>(bytes.begin(), bytes.begin() + 30) : bytes);

    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    auto ring = std::make_shared<FakeRingState>(CPlaylistSound::kBufferBytes, TelephonePcmFormat());
    CPlaylistSound sound(std::make_unique<FakeRing>(ring), event);
    ASSERT_EQ(S_OK, sound.Initialize());
    auto played = [&](const std::string& name) {
        std::fill(ring->memory.begin(), ring->memory.end(), 0);
        sound.PlayFile(folder.File(name).c_str());
        return std::count(ring->memory.begin(), ring->memory.end(), 0x5A) > 0 || sound.GetTotal() != 0;
    };
    EXPECT_TRUE(played("good.wav"));
    for (const char* name : {"rate.wav", "stereo.wav", "8bit.wav", "alaw.wav", "empty.wav", "cut.wav", "text.wav"})
        EXPECT_FALSE(played(name)) << name;

    // In a prompt, such a file ends the list: what follows it is not played either.
    std::vector<std::string> list = {folder.File("rate.wav"), folder.File("good.wav")};
    std::fill(ring->memory.begin(), ring->memory.end(), 0);
    sound.PlayList(&list);
    EXPECT_EQ(0, std::count(ring->memory.begin(), ring->memory.end(), 0x5A));
    CloseHandle(event);
}

} // namespace
