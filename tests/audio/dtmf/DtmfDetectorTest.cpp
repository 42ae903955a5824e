// The DTMF detector against generated key tones: timing of whole key presses, the level
// and balance a block needs, every key, and the independence of results from how the
// audio is cut into chunks.
#include "audio/DTMFDetectorEnvelope.h"
#include "base/trace/Trace.h"
#include "DtmfSignal.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <random>
#include <sstream>

using namespace dtmftest;

namespace {

const char* const kTraceKey = "Software\\Velcora\\Quendo";

struct Report {
    char digit;
    size_t from, to; // samples [from, to) of the call that reported it
};

// Feeds the signal in calls of the given sizes (repeated), with a digit buffer of the
// capture's size, and keeps every report with the span of its call.
std::vector<Report> Feed(DTMFDetectorEnvelope& det, const Signal& s, std::vector<uint32_t> sizes = {kBlock},
                         uint32_t capacity = 5) {
    std::vector<Report> reports;
    size_t at = 0, turn = 0;
    while (at < s.size()) {
        const uint32_t n = (uint32_t)std::min<size_t>(sizes[turn++ % sizes.size()], s.size() - at);
        char digits[16];
        const uint32_t got = det.DetectDigits(s.data() + at, n, digits, capacity);
        EXPECT_LE(got, capacity);
        for (uint32_t i = 0; i < got; ++i) {
            reports.push_back({digits[i], at, at + n});
        }
        at += n;
    }
    return reports;
}

std::string Digits(const std::vector<Report>& reports) {
    std::string s;
    for (const Report& r : reports) {
        s += r.digit;
    }
    return s;
}

// The block whose end made a report, when the signal was fed block by block.
size_t Block(const Report& r) {
    return r.to / kBlock - 1;
}

std::string Detect(const Signal& s, uint32_t minMs = 40) {
    DTMFDetectorEnvelope det(minMs, kRate);
    return Digits(Feed(det, s));
}

// Every test starts with tracing off; TraceToFile turns it on for the test.
class Dtmf : public ::testing::Test {
protected:
    void SetUp() override {
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        m_traceFile = std::string(dir) + "orvin-dtmf-" + std::to_string(GetCurrentProcessId()) + ".log";
    }
    void TearDown() override {
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
        DeleteFileA(m_traceFile.c_str());
    }
    void TraceToFile() {
        DWORD type = 3; // the file sink
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugType", REG_DWORD, &type, sizeof type),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugFile", REG_SZ, m_traceFile.c_str(),
                                  (DWORD)m_traceFile.size() + 1),
                  ERROR_SUCCESS);
        orvin::TraceStart();
        ASSERT_EQ(orvin::TraceGetSinkType(), 3u);
    }
    std::string Traced() {
        std::ifstream in(m_traceFile, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // A line as the file holds it: the text as traced (with its own line feed, if any),
    // the trace entry's line feed and the file's line end.
    static std::string Line(const std::string& text) { return "{OrvinAgent} " + text + "\n\r\n"; }
    // The lines appear in the trace in this order (others may come between).
    void ExpectInOrder(const std::vector<std::string>& texts) {
        const std::string all = Traced();
        size_t at = 0;
        for (const std::string& text : texts) {
            const size_t found = all.find(Line(text), at);
            ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ": " << text << "\nin:\n"
                                                << all;
            at = found + 1;
        }
    }
    std::string m_traceFile;
};

// --- Whole key presses, fed block by block -----------------------------------------------

TEST_F(Dtmf, KeyOf100msIsReportedOnceAtTheSecondSilentBlock) {
    Signal s;
    AppendKey(s, '1', 100); // blocks 0..9
    AppendSilence(s, 200);
    DTMFDetectorEnvelope det(40, kRate);
    const auto reports = Feed(det, s);
    ASSERT_EQ(Digits(reports), "1");
    EXPECT_EQ(Block(reports[0]), 11u);
    EXPECT_EQ(det.GetCurrentDigit(), 0);
}

TEST_F(Dtmf, KeyNeedsFourBlocks) {
    TraceToFile();
    Signal shortKey, justEnough;
    AppendKey(shortKey, '1', 30);
    AppendSilence(shortKey, 100);
    AppendKey(justEnough, '1', 40);
    AppendSilence(justEnough, 100);
    EXPECT_EQ(Detect(shortKey), "");
    ExpectInOrder({"Too few detections (3 < 4). DTMF 1 will be considered UNDETECTED\n"});
    EXPECT_EQ(Detect(justEnough), "1");
}

TEST_F(Dtmf, OneDroppedBlockIsBridgedTwoSplitTheKey) {
    Signal bridged, split, splitShortTail;
    AppendKey(bridged, '1', 100);
    AppendSilence(bridged, 100);
    split = splitShortTail = bridged;
    DropBlocks(bridged, 5, 1);
    DropBlocks(split, 4, 2);          // 4 blocks, gap, 4 blocks: two presses
    DropBlocks(splitShortTail, 5, 2); // 5 blocks, gap, 3 blocks: the tail is too short
    EXPECT_EQ(Detect(bridged), "1");
    EXPECT_EQ(Detect(split), "11");
    EXPECT_EQ(Detect(splitShortTail), "1");
}

TEST_F(Dtmf, KeyWithTooMuchMissingInsideIsDropped) {
    TraceToFile();
    // Two blocks, a gap, two blocks: a third of the span is missing.
    Signal gappy;
    AppendKey(gappy, '7', 50);
    AppendSilence(gappy, 100);
    DropBlocks(gappy, 2, 1);
    EXPECT_EQ(Detect(gappy), "");
    ExpectInOrder(
        {"Percantage of non-detections is too high (33 > 30). DTMF 7 will be considered UNDETECTED\n"});
    // Three blocks, a gap, two blocks: a quarter.
    Signal fine;
    AppendKey(fine, '7', 60);
    AppendSilence(fine, 100);
    DropBlocks(fine, 3, 1);
    EXPECT_EQ(Detect(fine), "7");
}

TEST_F(Dtmf, NextKeyWithoutPauseEndsTheFirstAtOnce) {
    Signal s;
    AppendKey(s, '5', 100); // blocks 0..9
    AppendKey(s, '6', 100); // blocks 10..19
    AppendSilence(s, 100);
    DTMFDetectorEnvelope det(40, kRate);
    const auto reports = Feed(det, s);
    ASSERT_EQ(Digits(reports), "56");
    EXPECT_EQ(Block(reports[0]), 10u);
    EXPECT_EQ(Block(reports[1]), 21u);
}

// The minimum tone time where the next key ends a key at once, at its limits: 40 ms (four
// blocks) is a press, reported at the first block of the next key; 30 ms (three) is none.
// Fed block by block and in the capture's tenths of a second alike.
TEST_F(Dtmf, NextKeyWithoutPauseEndsAKeyOfFortyButNotOfThirtyMs) {
    TraceToFile();
    for (uint32_t chunk : {kBlock, 10 * kBlock}) {
        Signal forty, thirty;
        AppendKey(forty, '5', 40); // blocks 0..3
        AppendKey(forty, '6', 100);
        AppendSilence(forty, 100);
        AppendKey(thirty, '5', 30); // blocks 0..2
        AppendKey(thirty, '6', 100);
        AppendSilence(thirty, 100);
        DTMFDetectorEnvelope det(40, kRate);
        const auto reports = Feed(det, forty, {chunk});
        ASSERT_EQ(Digits(reports), "56") << "in calls of " << chunk << " samples";
        if (chunk == kBlock) {
            EXPECT_EQ(Block(reports[0]), 4u);
        }
        DTMFDetectorEnvelope other(40, kRate);
        EXPECT_EQ(Digits(Feed(other, thirty, {chunk})), "6") << "in calls of " << chunk << " samples";
    }
    ExpectInOrder(
        {"Full DTMF detected: 5, based on 4 blocks\n", "Full DTMF detected: 6, based on 10 blocks\n"});
}

TEST_F(Dtmf, HeldKeyIsOnePressAndAPauseMakesTwo) {
    Signal held, twice;
    AppendKey(held, '0', 2000);
    AppendSilence(held, 100);
    EXPECT_EQ(Detect(held), "0");
    AppendKey(twice, '9', 60);
    AppendSilence(twice, 30);
    AppendKey(twice, '9', 60);
    AppendSilence(twice, 100);
    EXPECT_EQ(Detect(twice), "99");
}

TEST_F(Dtmf, PressTraceLines) {
    TraceToFile();
    Signal s;
    AppendKey(s, '#', 50);
    AppendSilence(s, 100);
    EXPECT_EQ(Detect(s), "#");
    ExpectInOrder({"GoerztelDtmfDetector : Sample Rate 9600", "DTMF detected in the current block: #\n",
                   "DTMF detected in the current block: #\n", "DTMF detected in the current block: #\n",
                   "DTMF detected in the current block: #\n", "DTMF detected in the current block: #\n",
                   "No DTMF in the current block. Non-detections still within allowed range (1 <= 1)\n",
                   "Full DTMF detected: #, based on 5 blocks\n"});
}

// --- What a block needs to count ------------------------------------------------------------

TEST_F(Dtmf, LevelFloorLiesBetween400And600) {
    Signal quiet, heard;
    AppendKey(quiet, '1', 200, 400);
    AppendSilence(quiet, 100);
    AppendKey(heard, '1', 200, 600);
    AppendSilence(heard, 100);
    EXPECT_EQ(Detect(quiet), "");
    EXPECT_EQ(Detect(heard), "1");

    // It is the energy floor that keeps the quiet key out.
    DTMFDetectorEnvelope det(40, kRate);
    EXPECT_EQ(det.GetMinEnergy(), 250000.0f);
    det.SetDTMFMinEnergy(100000.0f);
    EXPECT_EQ(Digits(Feed(det, quiet)), "1");
}

TEST_F(Dtmf, LoudKeysAreHeardUpToFullScale) {
    for (double amplitude : {1000.0, 8000.0, 16000.0}) {
        Signal s;
        AppendKey(s, 'D', 100, amplitude);
        AppendSilence(s, 100);
        EXPECT_EQ(Detect(s), "D") << amplitude;
    }
}

TEST_F(Dtmf, SingleToneIsNoKey) {
    for (double hz : {697, 770, 852, 941, 1209, 1336, 1477, 1633}) {
        Signal s;
        AppendTones(s, 300, hz, 6000);
        AppendSilence(s, 100);
        EXPECT_EQ(Detect(s), "") << hz << " Hz";
    }
}

TEST_F(Dtmf, StrongestRowMustLeadTheNextByMoreThanAQuarter) {
    Signal equal, equalColumns, closeBehind, weaker;
    AppendTones(equal, 200, 697, 3000, 941, 3000, 1209, 3000);
    AppendTones(equalColumns, 200, 697, 3000, 1209, 3000, 1633, 3000);
    AppendTones(closeBehind, 200, 697, 3000, 941, 2700, 1209, 3000); // 697 Hz leads by 1.23 times
    AppendTones(weaker, 200, 697, 3000, 941, 2000, 1209, 3000);      // 697 Hz leads by 2.25 times
    for (Signal* s : {&equal, &equalColumns, &closeBehind, &weaker}) {
        AppendSilence(*s, 100);
    }
    EXPECT_EQ(Detect(equal), "");
    EXPECT_EQ(Detect(equalColumns), "");
    EXPECT_EQ(Detect(closeBehind), "");
    EXPECT_EQ(Detect(weaker), "1");
}

TEST_F(Dtmf, ExactlyEqualRowPowersFailTheRatioTest) {
    // At 1793 samples/s, 852 and 941 Hz mirror each other about half the rate: their two
    // resonators get the same coefficient and end every block with exactly the same power.
    // So the strongest row leads the next by 1.0 and keys of those rows are never heard,
    // while keys of the other rows are, in every block.
    constexpr uint32_t kTieRate = 1793;
    for (const char* k = kKeys; *k; ++k) {
        Signal s;
        AppendKey(s, *k, 200, 3000, kTieRate);
        GoerztelDtmfDetector det(10, kTieRate);
        const uint32_t n = det.GetBlockLength();
        const bool tiedRow = (k - kKeys) / 4 >= 2;
        for (size_t at = 0; at + n <= s.size(); at += n) {
            EXPECT_EQ(tiedRow ? 0 : *k, det.ProcessSamples(s.data() + at, n))
                << "key " << *k << ", sample " << at;
        }
    }
}

TEST_F(Dtmf, EachToneNeedsItsShareOfThePower) {
    // No twist test of its own: a tone 6 dB down still counts, 9.5 dB down does not.
    Signal lowColumn, weakColumn, lowRow, weakRow;
    AppendTones(lowColumn, 200, 852, 3000, 1477, 1500);
    AppendTones(weakColumn, 200, 852, 3000, 1477, 1000);
    AppendTones(lowRow, 200, 852, 1500, 1477, 3000);
    AppendTones(weakRow, 200, 852, 1000, 1477, 3000);
    for (Signal* s : {&lowColumn, &weakColumn, &lowRow, &weakRow}) {
        AppendSilence(*s, 100);
    }
    EXPECT_EQ(Detect(lowColumn), "9");
    EXPECT_EQ(Detect(lowRow), "9");
    EXPECT_EQ(Detect(weakColumn), "");
    EXPECT_EQ(Detect(weakRow), "");
}

TEST_F(Dtmf, NoiseIsNoKey) {
    std::mt19937 random(4711);
    std::normal_distribution<double> gauss(0, 3000);
    Signal s;
    for (int i = 0; i < 5 * (int)kRate; ++i) {
        s.push_back(Clip(gauss(random)));
    }
    EXPECT_EQ(Detect(s), "");
}

TEST_F(Dtmf, CallerIdModeHearsLowerAndLessBalancedKeys) {
    TraceToFile();
    Signal unbalanced, quiet;
    AppendTones(unbalanced, 200, 697, 3000, 1209, 800);
    AppendSilence(unbalanced, 100);
    AppendKey(quiet, '1', 200, 300);
    AppendSilence(quiet, 100);

    DTMFDetectorEnvelope det(40, kRate);
    EXPECT_EQ(Digits(Feed(det, unbalanced)), "");
    EXPECT_EQ(Digits(Feed(det, quiet)), "");
    det.SetCallerId2Mode(true);
    EXPECT_EQ(det.GetMinEnergy(), 50000.0f);
    EXPECT_EQ(Digits(Feed(det, unbalanced)), "1");
    EXPECT_EQ(Digits(Feed(det, quiet)), "1");
    det.SetCallerId2Mode(false);
    EXPECT_EQ(Digits(Feed(det, unbalanced)), "");
    ExpectInOrder({"GoerDtmfDet Set CallerId2 Mode is ON !!!", "GoerDtmfDet Set CallerId2 Mode is OFF !!!"});
}

TEST_F(Dtmf, LowImpedanceLowersTheFloorAndKeepsTheStrictRules) {
    TraceToFile();
    Signal faint, unbalanced;
    AppendKey(faint, '1', 200, 150);
    AppendSilence(faint, 100);
    AppendTones(unbalanced, 200, 697, 3000, 1209, 800);
    AppendSilence(unbalanced, 100);

    DTMFDetectorEnvelope det(40, kRate);
    det.SetHighImpedanceAlgorithm(false);
    EXPECT_EQ(det.GetMinEnergy(), 8000.0f);
    EXPECT_EQ(Digits(Feed(det, faint)), "1");
    // Caller-ID mode does not raise the floor of a low-impedance line...
    det.SetCallerId2Mode(true);
    EXPECT_EQ(det.GetMinEnergy(), 8000.0f);
    // ...and back on a high-impedance line it keeps its own.
    det.SetHighImpedanceAlgorithm(true);
    EXPECT_EQ(det.GetMinEnergy(), 50000.0f);
    det.SetCallerId2Mode(false);
    EXPECT_EQ(Digits(Feed(det, faint)), "");
    EXPECT_EQ(Digits(Feed(det, unbalanced)), "");
    ExpectInOrder({"GoerDtmfDet_SetHighImpedanceAlgorithm"});
}

TEST_F(Dtmf, MinimumEnergyTraceShowsSignAndSixDecimals) {
    TraceToFile();
    DTMFDetectorEnvelope det(40, kRate);
    det.SetDTMFMinEnergy(1234.5f);
    det.SetDTMFMinEnergy(-2.25f);
    det.SetDTMFMinEnergy(0.0f);
    ExpectInOrder({"SetDTMFMinEnergy -> Set Threshold to  = +1234.500000\r\n",
                   "SetDTMFMinEnergy -> Set Threshold to  = -2.250000\r\n",
                   "SetDTMFMinEnergy -> Set Threshold to  = -0.000000\r\n"});
}

// --- Every key, every chunking ----------------------------------------------------------------

Signal AllKeys(uint32_t rate = kRate) {
    Signal s;
    for (const char* k = kKeys; *k; ++k) {
        AppendKey(s, *k, 60, 3000, rate);
        AppendSilence(s, 60, rate);
    }
    return s;
}

TEST_F(Dtmf, AllSixteenKeysInCaptureChunks) {
    DTMFDetectorEnvelope det(40, kRate);
    EXPECT_EQ(Digits(Feed(det, AllKeys(), {800})), kKeys);
}

TEST_F(Dtmf, AllSixteenKeysAt16000Hz) {
    TraceToFile();
    DTMFDetectorEnvelope det(40, 16000);
    EXPECT_EQ(det.GetBlockLength(), 160u);
    EXPECT_EQ(Digits(Feed(det, AllKeys(16000), {1600})), kKeys);
    ExpectInOrder({"GoerztelDtmfDetector : Sample Rate 16000"});
}

TEST_F(Dtmf, SmallAndOddChunksReportTheSameDigitsAtTheSameBlocks) {
    const Signal s = AllKeys();
    DTMFDetectorEnvelope reference(40, kRate);
    const auto expected = Feed(reference, s);
    ASSERT_EQ(Digits(expected), kKeys);

    std::mt19937 random(99);
    std::vector<uint32_t> randomSizes;
    for (int i = 0; i < 200; ++i) {
        randomSizes.push_back(1 + random() % 300);
    }
    for (const auto& sizes : std::vector<std::vector<uint32_t>>{
             {1}, {7}, {79}, {81}, {160}, {333}, {800}, {1, 799}, {13, 2, 400}, randomSizes}) {
        DTMFDetectorEnvelope det(40, kRate);
        const auto got = Feed(det, s, sizes);
        ASSERT_EQ(Digits(got), kKeys) << "first chunk size " << sizes[0];
        for (size_t i = 0; i < got.size(); ++i) {
            // The call that reported it holds the end of the same block.
            const size_t blockEnd = (Block(expected[i]) + 1) * kBlock;
            EXPECT_LT(got[i].from, blockEnd) << "digit " << i << ", first chunk size " << sizes[0];
            EXPECT_GE(got[i].to, blockEnd) << "digit " << i << ", first chunk size " << sizes[0];
        }
    }
}

// Random stretches of keys, near-floor and unbalanced tone pairs, single tones, noise and
// dropouts, in every mode.
Signal Mixture(std::mt19937& random) {
    std::uniform_real_distribution<double> unit(0, 1);
    const double noise = unit(random) < 0.5 ? 0 : 1500 * unit(random);
    std::normal_distribution<double> gauss(0, noise + 1e-9);
    Signal s;
    const int pieces = 5 + random() % 20;
    for (int p = 0; p < pieces; ++p) {
        const uint32_t ms = 5 + random() % 150;
        const double rowHz = kRowHz[random() % 4] * (0.98 + 0.04 * unit(random));
        const double colHz = kColHz[random() % 4] * (0.98 + 0.04 * unit(random));
        const double level = 6000 * unit(random);
        switch (random() % 4) {
        case 0:
        case 1:
            AppendTones(s, ms, rowHz, level, colHz, level * (0.3 + 1.2 * unit(random)));
            break;
        case 2:
            AppendTones(s, ms, unit(random) < 0.5 ? rowHz : colHz, level);
            break;
        default:
            AppendSilence(s, ms);
        }
    }
    for (int16_t& v : s) {
        v = Clip(v + gauss(random));
    }
    if (random() % 3 == 0) {
        const size_t at = random() % s.size();
        std::fill(s.begin() + at, s.begin() + std::min(s.size(), at + random() % 300), 0);
    }
    return s;
}

TEST_F(Dtmf, SilentStretchesRunSideBySideWithTheSameAnswers) {
    // Calls of two blocks or more let the detector run the blocks after a reset side by
    // side; calls below two blocks never do. Both must give the same reports.
    std::mt19937 random(2718);
    int reported = 0;
    for (int run = 0; run < 300; ++run) {
        const Signal s = Mixture(random);
        DTMFDetectorEnvelope oneByOne(40, kRate), sideBySide(40, kRate);
        if (run % 5 == 1) {
            oneByOne.SetHighImpedanceAlgorithm(false);
            sideBySide.SetHighImpedanceAlgorithm(false);
        } else if (run % 5 == 2) {
            oneByOne.SetCallerId2Mode(true);
            sideBySide.SetCallerId2Mode(true);
        }
        const auto expected = Feed(oneByOne, s, {kBlock});
        const auto got = Feed(sideBySide, s, {800, 2000, 160, 37, 1203}, 16);
        ASSERT_EQ(Digits(got), Digits(expected)) << "run " << run;
        for (size_t i = 0; i < got.size(); ++i) {
            const size_t blockEnd = (Block(expected[i]) + 1) * kBlock;
            ASSERT_LT(got[i].from, blockEnd) << "run " << run << ", digit " << i;
            ASSERT_GE(got[i].to, blockEnd) << "run " << run << ", digit " << i;
        }
        EXPECT_EQ(sideBySide.GetCurrentDigit(), oneByOne.GetCurrentDigit()) << "run " << run;
        reported += (int)got.size();
    }
    EXPECT_GT(reported, 300); // the mixture does hold keys
}

TEST_F(Dtmf, BlocksFromResetAnswerAsResetBeforeEachBlock) {
    std::mt19937 random(31415);
    for (int run = 0; run < 100; ++run) {
        const Signal s = Mixture(random);
        const uint32_t blocks = (uint32_t)(s.size() / kBlock);
        GoerztelDtmfDetector side(10, kRate), one(10, kRate);
        for (uint32_t first = 0; first + 1 < blocks;) {
            ASSERT_TRUE(side.IsFresh());
            char digit = 'x';
            const uint32_t used =
                side.ProcessBlocksFromReset(s.data() + first * kBlock, blocks - first, digit);
            ASSERT_GE(used, 1u);
            ASSERT_LE(used, blocks - first);
            for (uint32_t b = first; b < first + used; ++b) {
                one.Reset();
                const char want = one.ProcessSamples(s.data() + b * kBlock, kBlock);
                ASSERT_EQ(b + 1 < first + used ? 0 : digit, want) << "run " << run << ", block " << b;
            }
            ASSERT_TRUE(digit != 0 || first + used == blocks) << "stopped without a digit";
            // Both go on from the state the last block left.
            first += used;
            if (first < blocks) {
                ASSERT_EQ(side.ProcessSamples(s.data() + first * kBlock, kBlock),
                          one.ProcessSamples(s.data() + first * kBlock, kBlock))
                    << "run " << run << ", block " << first;
                ++first;
            }
            side.Reset();
        }
    }
}

TEST_F(Dtmf, OneCallReportsEveryKeyInOrder) {
    const Signal s = AllKeys();
    DTMFDetectorEnvelope det(40, kRate);
    char digits[17] = {};
    EXPECT_EQ(det.DetectDigits(s.data(), (uint32_t)s.size(), digits, 16), 16u);
    EXPECT_STREQ(digits, kKeys);
}

TEST_F(Dtmf, FullDigitBufferEndsTheCall) {
    Signal s;
    AppendKey(s, '1', 60);
    AppendSilence(s, 60);
    AppendKey(s, '2', 60);
    AppendSilence(s, 60);
    DTMFDetectorEnvelope det(40, kRate);
    char digits[3] = {'x', 'x', 'x'};
    EXPECT_EQ(det.DetectDigits(s.data(), (uint32_t)s.size(), digits, 0), 0u);
    EXPECT_EQ(digits[0], 'x');
    EXPECT_EQ(det.GetSamplesInBlock(), 0u); // nothing was taken in

    EXPECT_EQ(det.DetectDigits(s.data(), (uint32_t)s.size(), digits, 1), 1u);
    EXPECT_EQ(digits[0], '1');
    EXPECT_EQ(digits[1], 'x');
    EXPECT_EQ(det.DetectDigits(s.data(), 0, digits, 3), 0u);
}

TEST_F(Dtmf, ResetForgetsTheKeyInProgress) {
    Signal first, rest;
    AppendKey(first, '3', 80);
    AppendSilence(rest, 100);
    DTMFDetectorEnvelope det(40, kRate);
    EXPECT_EQ(Digits(Feed(det, first)), "");
    EXPECT_EQ(det.GetCurrentDigit(), '3');
    det.Reset();
    EXPECT_EQ(det.GetCurrentDigit(), 0);
    EXPECT_EQ(Digits(Feed(det, rest)), "");
}

TEST_F(Dtmf, BlockDetectorAnswersWhenABlockCompletes) {
    Signal s;
    AppendKey(s, '4', 10);
    AppendKey(s, '8', 10);
    AppendSilence(s, 10);
    GoerztelDtmfDetector det(10, kRate);
    EXPECT_EQ(det.ProcessSamples(s.data(), 79), 0);
    EXPECT_EQ(det.GetSamplesInBlock(), 79u);
    EXPECT_EQ(det.ProcessSamples(s.data() + 79, 1), '4');
    EXPECT_EQ(det.GetSamplesInBlock(), 0u);
    // Several blocks in one call: the last digit found, which a silent block does not undo.
    det.Reset();
    EXPECT_EQ(det.ProcessSamples(s.data(), 160), '8');
    det.Reset();
    EXPECT_EQ(det.ProcessSamples(s.data() + 80, 160), '8');
}

// --- Other settings ---------------------------------------------------------------------------

TEST_F(Dtmf, NecessaryDetectionsFollowTheMinimumDuration) {
    TraceToFile();
    Signal fifty, sixty;
    AppendKey(fifty, '2', 50);
    AppendSilence(fifty, 100);
    AppendKey(sixty, '2', 60);
    AppendSilence(sixty, 100);
    DTMFDetectorEnvelope det(40, kRate);
    det.SetNecessaryDetections(60);
    EXPECT_EQ(det.GetNecessaryDetections(), 6u);
    EXPECT_EQ(Digits(Feed(det, fifty)), "");
    EXPECT_EQ(Digits(Feed(det, sixty)), "2");
    ExpectInOrder({"DTMFDetectorEnvelope: uNumberOfNecessaryConsecutiveDetections=6"});

    EXPECT_EQ(DTMFDetectorEnvelope(5, kRate).GetNecessaryDetections(), 1u);
    det.SetNecessaryDetections(5);
    EXPECT_EQ(det.GetNecessaryDetections(), 1u);
}

TEST_F(Dtmf, ShortMinimumDurationsJudgeTwoBlockKeys) {
    // Two detections closed by two empty blocks leave no span to take a percentage of.
    Signal s;
    AppendKey(s, '6', 20);
    AppendSilence(s, 100);
    EXPECT_EQ(Detect(s, 20), "6");
    EXPECT_EQ(Detect(s, 10), "6");
}

TEST_F(Dtmf, RateTooLowForABlockStillEndsEveryCall) {
    // 10 ms at 50 samples/s is less than one sample: every sample is a block of its own.
    DTMFDetectorEnvelope det(40, 50);
    EXPECT_EQ(det.GetBlockLength(), 1u);
    Signal s(100, 1000);
    char digits[5];
    EXPECT_EQ(det.DetectDigits(s.data(), (uint32_t)s.size(), digits, 5), 0u);
}

} // namespace
