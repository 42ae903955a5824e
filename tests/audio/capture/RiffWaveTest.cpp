// CRiffWave: the exact layout of the files the agent writes, and what it accepts when it
// reads files made by others.
#include "audio/RiffWave.h"

#include "AudioTestFiles.h"

#include <gtest/gtest.h>

namespace {

// --- Writing ---------------------------------------------------------------------------

TEST(RiffWaveWrite, EmptyFileHasTheFourChunksWithFinalSizes) {
    TempFolder dir;
    const std::string path = dir.File("empty.wav");
    CRiffWave w;
    WAVEFORMATEX wfx = Pcm8k16Mono();
    ASSERT_EQ(S_OK, w.Open(path.c_str(), &wfx, CRiffWave::kModeWrite));
    ASSERT_EQ(S_OK, w.Close());

    const std::vector<BYTE> b = ReadAll(path);
    ASSERT_EQ(56u, b.size());
    EXPECT_EQ("RIFF", Tag(b, 0));
    EXPECT_EQ(48u, Le32(b, 4));
    EXPECT_EQ("WAVE", Tag(b, 8));
    EXPECT_EQ("fmt ", Tag(b, 12));
    EXPECT_EQ(16u, Le32(b, 16));
    EXPECT_EQ(0, std::memcmp(b.data() + 20, &wfx, 16));
    EXPECT_EQ("fact", Tag(b, 36));
    EXPECT_EQ(4u, Le32(b, 40));
    EXPECT_EQ(0u, Le32(b, 44));
    EXPECT_EQ("data", Tag(b, 48));
    EXPECT_EQ(0u, Le32(b, 52));
}

TEST(RiffWaveWrite, SamplesWrittenInPiecesReadBackUnchanged) {
    TempFolder dir;
    const std::string path = dir.File("round.wav");
    // More than one I/O buffer's worth, in pieces of uneven size.
    std::vector<BYTE> samples(50000);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<BYTE>(i * 7 + i / 251);
    {
        CRiffWave w;
        WAVEFORMATEX wfx = Pcm8k16Mono();
        ASSERT_EQ(S_OK, w.Open(path.c_str(), &wfx, CRiffWave::kModeWrite));
        size_t at = 0;
        for (UINT piece : {1u, 1599u, 8192u, 3u, 40205u}) {
            UINT written = 0xdeadbeef;
            ASSERT_EQ(S_OK, w.Write(piece, samples.data() + at, &written));
            EXPECT_EQ(piece, written);
            at += piece;
        }
        ASSERT_EQ(samples.size(), at);
        // Destruction closes the file properly.
    }

    const std::vector<BYTE> b = ReadAll(path);
    ASSERT_EQ(56 + samples.size(), b.size());
    EXPECT_EQ(48 + samples.size(), Le32(b, 4));
    EXPECT_EQ(0u, Le32(b, 44));
    EXPECT_EQ(samples.size(), Le32(b, 52));
    EXPECT_EQ(0, std::memcmp(b.data() + 56, samples.data(), samples.size()));

    CRiffWave r;
    ASSERT_EQ(S_OK, r.Open(path.c_str(), nullptr, CRiffWave::kModeRead));
    EXPECT_EQ(samples.size(), r.GetSize());
    ASSERT_NE(nullptr, r.GetFormat());
    EXPECT_EQ(8000u, r.GetFormat()->nSamplesPerSec);
    EXPECT_EQ(16, r.GetFormat()->wBitsPerSample);
    EXPECT_EQ(0, r.GetFormat()->cbSize);

    std::vector<BYTE> back(samples.size() + 100, 0);
    DWORD got = 0xdeadbeef;
    ASSERT_EQ(S_OK, r.Read(back.data(), 30000, &got));
    EXPECT_EQ(30000u, got);
    ASSERT_EQ(S_OK, r.Read(back.data() + 30000, 30000, &got));
    EXPECT_EQ(samples.size() - 30000, got);
    back.resize(samples.size());
    EXPECT_EQ(samples, back);

    // At the end: no bytes, and no error.
    got = 0xdeadbeef;
    EXPECT_EQ(S_OK, r.Read(back.data(), 100, &got));
    EXPECT_EQ(0u, got);

    // ResetFile starts the samples afresh.
    ASSERT_EQ(S_OK, r.ResetFile());
    BYTE first[4];
    ASSERT_EQ(S_OK, r.Read(first, sizeof first, &got));
    EXPECT_EQ(4u, got);
    EXPECT_EQ(0, std::memcmp(first, samples.data(), 4));
}

TEST(RiffWaveWrite, NonPcmFormatCarriesItsExtraBytes) {
    TempFolder dir;
    const std::string path = dir.File("adpcm.wav");
    struct {
        WAVEFORMATEX wfx;
        WORD samplesPerBlock;
    } ima{};
    ima.wfx.wFormatTag = 0x11; // IMA ADPCM
    ima.wfx.nChannels = 1;
    ima.wfx.nSamplesPerSec = 8000;
    ima.wfx.nAvgBytesPerSec = 4055;
    ima.wfx.nBlockAlign = 256;
    ima.wfx.wBitsPerSample = 4;
    ima.wfx.cbSize = 2;
    ima.samplesPerBlock = 505;
    {
        CRiffWave w;
        ASSERT_EQ(S_OK, w.Open(path.c_str(), &ima.wfx, CRiffWave::kModeWrite));
        const BYTE block[6] = {1, 2, 3, 4, 5, 6};
        ASSERT_EQ(S_OK, w.Write(sizeof block, block, nullptr));
        ASSERT_EQ(S_OK, w.Close());
    }
    const std::vector<BYTE> b = ReadAll(path);
    ASSERT_EQ(66u, b.size());
    EXPECT_EQ(20u, Le32(b, 16));        // 18 + 2 extra bytes
    EXPECT_EQ(505, b[38] | b[39] << 8); // the extra bytes themselves
    EXPECT_EQ("fact", Tag(b, 40));
    EXPECT_EQ(0u, Le32(b, 48));
    EXPECT_EQ("data", Tag(b, 52));
    EXPECT_EQ(6u, Le32(b, 56));
    EXPECT_EQ(58u, Le32(b, 4));

    CRiffWave r;
    ASSERT_EQ(S_OK, r.Open(path.c_str(), nullptr, CRiffWave::kModeRead));
    ASSERT_NE(nullptr, r.GetFormat());
    EXPECT_EQ(0x11, r.GetFormat()->wFormatTag);
    ASSERT_EQ(2, r.GetFormat()->cbSize);
    WORD extra = 0;
    std::memcpy(&extra, reinterpret_cast<const BYTE*>(r.GetFormat()) + sizeof(WAVEFORMATEX), 2);
    EXPECT_EQ(505, extra);
    EXPECT_EQ(6u, r.GetSize());
}

TEST(RiffWaveWrite, CallsWithoutAnOpenFileOrArgumentsAreRefused) {
    CRiffWave w;
    BYTE b[4] = {};
    DWORD got = 0;
    EXPECT_EQ(CO_E_NOTINITIALIZED, w.Write(sizeof b, b, nullptr));
    EXPECT_EQ(CO_E_NOTINITIALIZED, w.Read(b, sizeof b, &got));
    EXPECT_EQ(CO_E_NOTINITIALIZED, w.ResetFile());
    EXPECT_EQ(S_OK, w.Close());
    EXPECT_EQ(E_INVALIDARG, w.Open(nullptr, nullptr, CRiffWave::kModeRead));
    TempFolder dir;
    EXPECT_EQ(E_INVALIDARG, w.Open(dir.File("x.wav").c_str(), nullptr, CRiffWave::kModeWrite));
    EXPECT_FALSE(FileExists(dir.File("x.wav")));
    EXPECT_EQ(E_FAIL, w.Open(dir.File("missing.wav").c_str(), nullptr, CRiffWave::kModeRead));
    EXPECT_FALSE(w.IsOpen());
    WAVEFORMATEX wfx = Pcm8k16Mono();
    EXPECT_EQ(E_FAIL, w.Open(dir.File("no-such-folder\\x.wav").c_str(), &wfx, CRiffWave::kModeWrite));

    ASSERT_TRUE(WriteWav(dir.File("one.wav"), {1, 2, 3, 4}));
    ASSERT_EQ(S_OK, w.Open(dir.File("one.wav").c_str(), nullptr, CRiffWave::kModeRead));
    EXPECT_EQ(E_INVALIDARG, w.Read(nullptr, 4, &got));
    EXPECT_EQ(E_INVALIDARG, w.Read(b, 0, &got));
}

// --- Reading files made elsewhere ---------------------------------------------------------

class RiffWaveRead : public ::testing::Test {
protected:
    HRESULT OpenBytes(const std::vector<BYTE>& bytes) {
        path = dir.File("in.wav");
        WriteAll(path, bytes);
        return wave.Open(path.c_str(), nullptr, CRiffWave::kModeRead);
    }
    std::vector<BYTE> ReadRest() {
        std::vector<BYTE> out(wave.GetSize() + 16);
        DWORD got = 0;
        EXPECT_EQ(S_OK, wave.Read(out.data(), static_cast<DWORD>(out.size()), &got));
        out.resize(got);
        return out;
    }

    TempFolder dir;
    std::string path;
    CRiffWave wave;
    const std::vector<BYTE> samples{10, 0, 20, 0, 30, 0, 40, 0};
};

TEST_F(RiffWaveRead, FmtShorterThanSixteenBytesIsRefused) {
    RiffBuilder b;
    b.Chunk("fmt ", FmtBytes(Pcm8k16Mono(), 14)).Chunk("data", samples);
    EXPECT_EQ(E_FAIL, OpenBytes(b.Riff()));
    EXPECT_FALSE(wave.IsOpen());
}

TEST_F(RiffWaveRead, FormOtherThanWaveOrNoRiffIsRefused) {
    RiffBuilder b;
    b.Chunk("fmt ", FmtBytes(Pcm8k16Mono(), 16)).Chunk("data", samples);
    EXPECT_EQ(E_FAIL, OpenBytes(b.Riff("AVI ")));
    std::vector<BYTE> rifx = b.Riff();
    std::memcpy(rifx.data(), "RIFX", 4);
    EXPECT_EQ(E_FAIL, OpenBytes(rifx));
    EXPECT_FALSE(wave.IsOpen());
}

TEST_F(RiffWaveRead, FileWithoutDataChunkIsRefused) {
    RiffBuilder b;
    b.Chunk("fmt ", FmtBytes(Pcm8k16Mono(), 16));
    EXPECT_EQ(E_FAIL, OpenBytes(b.Riff()));
}

TEST_F(RiffWaveRead, ChunksAroundFmtAndDataAreSkipped) {
    // An odd-sized LIST chunk (with its pad byte) between "fmt " and "data", and a chunk
    // before "fmt ".
    RiffBuilder b;
    b.Chunk("JUNK", std::vector<BYTE>(12, 0xEE))
        .Chunk("fmt ", FmtBytes(Pcm8k16Mono(), 16))
        .Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 3, 0, 0, 0, 'a', 'b', 'c'})
        .Chunk("data", samples);
    ASSERT_EQ(S_OK, OpenBytes(b.Riff()));
    EXPECT_EQ(samples.size(), wave.GetSize());
    EXPECT_EQ(8000u, wave.GetFormat()->nSamplesPerSec);
    EXPECT_EQ(samples, ReadRest());
}

TEST_F(RiffWaveRead, PcmFmtOfEighteenBytesHasNoExtraBytes) {
    WAVEFORMATEX wfx = Pcm8k16Mono();
    wfx.cbSize = 0x5555; // ignored for PCM
    RiffBuilder b;
    b.Chunk("fmt ", FmtBytes(wfx, 18)).Chunk("data", samples);
    ASSERT_EQ(S_OK, OpenBytes(b.Riff()));
    EXPECT_EQ(0, wave.GetFormat()->cbSize);
    EXPECT_EQ(samples, ReadRest());
}

TEST_F(RiffWaveRead, NonPcmFmtOfSixteenBytesHasNoExtraSize) {
    // A float file with the short "fmt ": the bytes after it are the next chunk's name.
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = 3;
    wfx.nChannels = 1;
    wfx.nSamplesPerSec = 8000;
    wfx.wBitsPerSample = 32;
    wfx.nBlockAlign = 4;
    wfx.nAvgBytesPerSec = 32000;
    RiffBuilder b;
    b.Chunk("fmt ", FmtBytes(wfx, 16)).Chunk("data", samples);
    ASSERT_EQ(S_OK, OpenBytes(b.Riff()));
    EXPECT_EQ(3, wave.GetFormat()->wFormatTag);
    EXPECT_EQ(0, wave.GetFormat()->cbSize);
    EXPECT_EQ(samples, ReadRest());
}

TEST_F(RiffWaveRead, NonPcmExtraSizeBeyondFmtIsRefused) {
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = 0x11;
    wfx.nChannels = 1;
    wfx.nSamplesPerSec = 8000;
    wfx.cbSize = 40; // but the chunk holds only 2 extra bytes
    std::vector<BYTE> fmt = FmtBytes(wfx, 20);
    RiffBuilder b;
    b.Chunk("fmt ", fmt).Chunk("data", std::vector<BYTE>(64, 1));
    EXPECT_EQ(E_FAIL, OpenBytes(b.Riff()));
}

TEST_F(RiffWaveRead, DataSizeBeyondTheFileEndsWithTheFile) {
    // A recording cut off before its sizes were written.
    RiffBuilder b;
    b.Chunk("fmt ", FmtBytes(Pcm8k16Mono(), 16)).Id("data").U32(100000).Raw(samples.data(), samples.size());
    ASSERT_EQ(S_OK, OpenBytes(b.Riff()));
    EXPECT_EQ(samples, ReadRest());
    DWORD got = 0xdeadbeef;
    BYTE more[8];
    EXPECT_EQ(S_OK, wave.Read(more, sizeof more, &got));
    EXPECT_EQ(0u, got);
}

} // namespace
