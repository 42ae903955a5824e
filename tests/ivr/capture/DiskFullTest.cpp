// A recording on a disk that fills. disk_full_test.sh runs this program with a file size
// limit (ORVIN_FILE_LIMIT bytes, 64 KiB): a write past it reaches the disk only up to the
// limit, and every later one fails, as on a full disk. Without the variable the cases skip.
//
// What must hold: the WAV file is closed valid with the samples that reached the disk, the
// capture engine ends the recording with a trace and goes on capturing, and every tenth of
// a second reaches the key detector once. The trace lines of the capture engine and of the
// prompts are checked here too (this program runs alone, so it may turn the trace on).
#include "audio/Capture.h"
#include "audio/Prompt.h"
#include "base/trace/Trace.h"

#include "tests/audio/capture/AudioTestFiles.h"
#include "tests/audio/capture/FakeAudioBuffer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr DWORD kRing = 32000;
constexpr DWORD kTenth = 1600;
// With the 56 bytes of header, the samples that fit under a 64 KiB limit.
constexpr DWORD kDataThatFits = 65536 - 56;
const char* const kTraceKey = "Software\\Velcora\\Quendo";

bool LimitInForce() {
    const char* limit = std::getenv("ORVIN_FILE_LIMIT");
    return limit != nullptr && std::string(limit) == "65536";
}

// The header of a written file as the agent writes it, checked field by field.
void ExpectWholeFile(const std::string& path, DWORD dwData) {
    const std::vector<BYTE> b = ReadAll(path);
    ASSERT_EQ(56u + dwData, b.size());
    EXPECT_EQ("RIFF", Tag(b, 0));
    EXPECT_EQ(48u + dwData, Le32(b, 4));
    EXPECT_EQ("fact", Tag(b, 36));
    EXPECT_EQ(0u, Le32(b, 44)); // closed: the count is 0, not 0xFFFFFFFF
    EXPECT_EQ("data", Tag(b, 48));
    EXPECT_EQ(dwData, Le32(b, 52));
}

// The first `bytes` of a stream of 16-bit samples counting up from 0.
std::vector<BYTE> Counting(DWORD bytes) {
    std::vector<int16_t> s(bytes / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(i);
    return AsBytes(s);
}

class DiskFull : public ::testing::Test {
protected:
    void SetUp() override {
        if (!LimitInForce())
            GTEST_SKIP() << "needs the file size limit of disk_full_test.sh";
    }
};

TEST_F(DiskFull, WavFileKeepsWhatReachedTheDisk) {
    TempFolder dir;
    const std::vector<BYTE> stream = Counting(100000);

    // Writes in pieces of 1000 bytes: the one that crosses the limit fails, and so does
    // every one after it; Close says data were lost and makes the file whole.
    const std::string full = dir.File("full.wav");
    {
        CRiffWave w;
        WAVEFORMATEX wfx = Pcm8k16Mono();
        ASSERT_EQ(S_OK, w.Open(full.c_str(), &wfx, CRiffWave::kModeWrite));
        int failed = 0, failedFirstAt = -1;
        for (DWORD at = 0; at < stream.size(); at += 1000) {
            UINT written = 0;
            const HRESULT hr = w.Write(1000, stream.data() + at, &written);
            if (FAILED(hr)) {
                EXPECT_EQ(E_FAIL, hr);
                if (failed++ == 0)
                    failedFirstAt = static_cast<int>(at);
            } else {
                EXPECT_EQ(0, failed) << "a write succeeded after one had failed, at " << at;
            }
        }
        EXPECT_GT(failed, 0);
        EXPECT_GE(failedFirstAt, 57000); // not before the disk was full
        EXPECT_EQ(static_cast<HRESULT>(0x80070070), w.Close());
    }
    ExpectWholeFile(full, kDataThatFits);
    EXPECT_EQ(std::vector<BYTE>(stream.begin(), stream.begin() + kDataThatFits), ReadWavData(full));

    // One sample more than fits: the write stays in the I/O buffer, and the flush that
    // Close makes does not reach the disk. Close notices it all the same.
    const std::string lastFlush = dir.File("last-flush.wav");
    {
        CRiffWave w;
        WAVEFORMATEX wfx = Pcm8k16Mono();
        ASSERT_EQ(S_OK, w.Open(lastFlush.c_str(), &wfx, CRiffWave::kModeWrite));
        UINT written = 0;
        ASSERT_EQ(S_OK, w.Write(kDataThatFits + 2, stream.data(), &written));
        EXPECT_EQ(static_cast<HRESULT>(0x80070070), w.Close());
    }
    ExpectWholeFile(lastFlush, kDataThatFits);
    EXPECT_EQ(std::vector<BYTE>(stream.begin(), stream.begin() + kDataThatFits), ReadWavData(lastFlush));

    // Exactly what fits: nothing is lost.
    const std::string exact = dir.File("exact.wav");
    ASSERT_TRUE(WriteWav(exact, std::vector<BYTE>(stream.begin(), stream.begin() + kDataThatFits)));
    ExpectWholeFile(exact, kDataThatFits);
}

class TraceLog {
public:
    TraceLog() {
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        m_file = std::string(dir) + "orvin-disk-full-" + std::to_string(GetCurrentProcessId()) + ".log";
        orvin::TraceStop();
        DWORD type = 3;
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugType", REG_DWORD, &type, sizeof type);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugFile", REG_SZ, m_file.c_str(),
                        static_cast<DWORD>(m_file.size() + 1));
        orvin::TraceStart();
    }
    ~TraceLog() {
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
        DeleteFileA(m_file.c_str());
    }
    bool On() const { return orvin::TraceGetSinkType() == 3; }
    std::string Text() const {
        std::ifstream in(m_file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The trace holds this line whole: from the line before, the tag, the text, one line
    // feed from the trace entry and the file's line end.
    bool HasLine(const std::string& text) const {
        return Text().find("\n{OrvinAgent} " + text + "\n\r\n") != std::string::npos;
    }

private:
    std::string m_file;
};

TEST_F(DiskFull, CaptureEndsTheRecordingAndGoesOn) {
    TraceLog trace;
    ASSERT_TRUE(trace.On());
    TempFolder dir;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    auto record = std::make_shared<FakeCaptureDevice::Record>();
    CCapture capture;
    ASSERT_EQ(0, capture.Initialize(std::make_unique<FakeCaptureDevice>(record), event, 0x80000));
    ASSERT_EQ(S_OK, capture.StartOrStopRecord(true));
    const std::string path = dir.File("vm200682811332.wav");
    ASSERT_EQ(S_OK, capture.StartRecordingToFile(path.c_str()));

    std::vector<BYTE> heard; // everything the capture was given, in order
    auto captureAudio = [&](const std::vector<int16_t>& samples) {
        FakeRingState& ring = *record->buffers.back();
        for (int16_t s : samples) {
            std::memcpy(ring.memory.data() + ring.dwSecondary, &s, 2);
            ring.dwSecondary = (ring.dwSecondary + 2) % kRing;
        }
        ring.dwPrimary = ring.dwSecondary;
        const std::vector<BYTE> bytes = AsBytes(samples);
        heard.insert(heard.end(), bytes.begin(), bytes.end());
    };

    // Four seconds fit (64000 bytes), one take of a second each.
    for (int second = 0; second < 4; ++second) {
        std::vector<int16_t> audio = KeyTone(static_cast<char>('1' + second), 80);
        audio += Silence(920);
        captureAudio(audio);
        DWORD tenths = 0;
        ASSERT_EQ(0, capture.RecordCapturedData(&tenths));
        EXPECT_EQ(10u, tenths);
        EXPECT_EQ(std::string(1, static_cast<char>('1' + second)), capture.GetDigits());
        ASSERT_TRUE(capture.IsRecordingToFile());
    }

    // The fifth does not: the write fails, the recording ends, the take counts, and the
    // key in it is heard.
    std::vector<int16_t> audio = Silence(500);
    audio += KeyTone('#', 80);
    audio += Silence(420);
    captureAudio(audio);
    DWORD tenths = 0;
    EXPECT_EQ(0, capture.RecordCapturedData(&tenths));
    EXPECT_EQ(10u, tenths);
    EXPECT_EQ("#", capture.GetDigits());
    EXPECT_FALSE(capture.IsRecordingToFile());
    EXPECT_EQ(16000u, capture.GetNextReadOffset()); // 5 s into a ring of 2 s

    // The capture goes on: the same audio is not taken again, new keys are heard once.
    captureAudio(Silence(100));
    ASSERT_EQ(0, capture.RecordCapturedData(&tenths));
    EXPECT_EQ(1u, tenths);
    EXPECT_EQ("", capture.GetDigits());
    audio = KeyTone('9', 80);
    audio += Silence(120);
    captureAudio(audio);
    ASSERT_EQ(0, capture.RecordCapturedData(&tenths));
    EXPECT_EQ(2u, tenths);
    EXPECT_EQ("9", capture.GetDigits());
    EXPECT_EQ(16000u + 3 * kTenth, capture.GetNextReadOffset());

    // The file holds what reached the disk, whole.
    ExpectWholeFile(path, kDataThatFits);
    EXPECT_EQ(std::vector<BYTE>(heard.begin(), heard.begin() + kDataThatFits), ReadWavData(path));

    // A recording into a new file works again.
    const std::string next = dir.File("next.wav");
    ASSERT_EQ(S_OK, capture.StartRecordingToFile(next.c_str()));
    captureAudio(Silence(200));
    ASSERT_EQ(0, capture.RecordCapturedData(&tenths));
    EXPECT_EQ(S_OK, capture.StopCapture());
    ExpectWholeFile(next, 2 * kTenth);

    EXPECT_TRUE(trace.HasLine("CCapture::StartRecordingToFile " + path));
    EXPECT_TRUE(trace.HasLine("CCapture::RecordCapturedData: pWaveFile->Write failed err = 0x80004005"));
    EXPECT_TRUE(
        trace.HasLine("CCapture::RecordCapturedData: recording stopped, the file keeps what was written"));
    EXPECT_EQ(1u, [&] {
        const std::string t = trace.Text();
        size_t n = 0;
        for (size_t at = t.find("pWaveFile->Write failed"); at != std::string::npos;
             at = t.find("pWaveFile->Write failed", at + 1))
            ++n;
        return n;
    }()) << "the failed recording is reported once";
    CloseHandle(event);
}

// Every trace line of the capture engine and of the prompts ends with one line feed, as
// the trace entry writes every line.
TEST_F(DiskFull, CaptureAndPromptTraceLinesEndWithOneLineFeed) {
    TraceLog trace;
    ASSERT_TRUE(trace.On());
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    {
        CCapture capture;
        ASSERT_EQ(0, capture.Initialize(
                         std::make_unique<FakeCaptureDevice>(std::make_shared<FakeCaptureDevice::Record>()),
                         event, 0x80000));
        ASSERT_EQ(S_OK, capture.StartOrStopRecord(true));
        ASSERT_EQ(S_OK, capture.StartOrStopRecord(false));
        CCapture broken;
        auto rec = std::make_shared<FakeCaptureDevice::Record>();
        rec->hrCreate = DSERR_ALLOCATED;
        broken.Initialize(std::make_unique<FakeCaptureDevice>(rec), event, 0x80000);
        CPrompt prompt(nullptr, nullptr);
        prompt.StartPlayback();
    }
    CloseHandle(event);
    for (const char* line :
         {"CCapture::Initialize", "CCapture::StartOrStopRecord Start", "CCapture::StartOrStopRecord Stop",
          "pDSCapture->CreateCaptureBuffer failed err = 0x8878000a",
          "CCapture::Initialize: CreateCaptureBuffer failed err = 0x8878000a", "CPrompt::StartPlayback"}) {
        EXPECT_TRUE(trace.HasLine(line)) << line << "\nin:\n" << trace.Text();
    }
}

} // namespace
