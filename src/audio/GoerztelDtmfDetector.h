// GoerztelDtmfDetector: finds a DTMF key tone in fixed blocks of audio.
//
// What: the sixteen keys of the telephone keypad, rows 697, 770, 852 and 941 Hz, columns
// 1209, 1336, 1477 and 1633 Hz ("123A", "456B", "789C", "*0#D").
//
// How: every sample goes through a second-order high-pass (Butterworth, -3 dB at 450 Hz
// for 9600 or 16000 samples/s; the 9600 set serves every rate other than 16000, so at our
// 8000 Hz its corner lies near 375 Hz) and into eight Goertzel resonators tuned for the true
// sample rate. At the end of each block (10 ms, 80 samples at 8000 Hz) the block is judged:
//   - energy gate: the mean power of the filtered block must be above the floor
//     (250000.0 by default, about 500 of 32767 peak for each of two equal sines);
//   - the strongest row must beat the next row by more than 1.25 times, likewise the
//     strongest column (no separate twist test);
//   - both tones together must hold more than 28.3 % of the block's power, and each of them
//     more than 0.3 of that share (the relaxed rule for caller-ID mode: one above 0.3 and
//     the other above 0.1).
// Then the block's answer is one keypad character, or 0. Goertzel states start afresh with
// every block; the high-pass keeps its history across blocks.
//
// Limits: arithmetic is single precision and rounded to float after every step, so results
// are the same on every build. All work is done in the object: nothing is allocated after
// construction. Not thread-safe: one caller thread (the capture thread) per object.
//
// Speed: per sample one biquad and eight resonators, the resonators in vector registers; the
// two recursions bound a block to about 9 float latencies per sample. Where the envelope
// resets after every block (no key in progress, the usual case), the blocks ahead are
// independent: they run four side by side and the resonators run only for blocks above the
// energy floor. On one 3.7 GHz core: ~1e9 samples/s of a quiet line, ~3.2e8 of continuous
// key tones, ~3.9e8 for keying with equal pauses.
#pragma once

#include <cstdint>
#include <memory>

class GoerztelDtmfDetector {
public:
    static constexpr uint32_t kNumTones = 8;
    static constexpr float kDefaultMinEnergy = 250000.0f; // mean power, high-impedance line
    static constexpr float kLowImpedanceMinEnergy = 8000.0f;
    static constexpr float kCallerIdMinEnergy = 50000.0f;

    // uBlockMs: block duration in ms; uSampleRate: samples per second. The block holds
    // uBlockMs * uSampleRate / 1000 samples (integer). Traces the prefilter set chosen.
    GoerztelDtmfDetector(uint32_t uBlockMs, uint32_t uSampleRate);
    GoerztelDtmfDetector(const GoerztelDtmfDetector&) = delete;
    GoerztelDtmfDetector& operator=(const GoerztelDtmfDetector&) = delete;

    // Clears the prefilter histories, the partial block and the resonators.
    void Reset();

    // Runs the samples through the filters. Returns the digit of a block that completed
    // inside this call, or 0; when several blocks complete, the last digit found.
    char ProcessSamples(const int16_t* pSamples, uint32_t uCount);

    // True while nothing was fed since the last Reset: every state value is zero.
    bool IsFresh() const { return m_bFresh; }

    // For a fresh detector: runs whole blocks, each as if Reset came right before it, and
    // stops after the first block that holds a digit (after uBlocks at most). Returns the
    // blocks used; cDigit is the answer of the last of them. The detector is left as
    // Reset and ProcessSamples on that last block would leave it. A silent stretch, where
    // the envelope resets after every block, runs several blocks side by side this way.
    uint32_t ProcessBlocksFromReset(const int16_t* pSamples, uint32_t uBlocks, char& cDigit);

    // Configuration; nothing in the agent changes the defaults.
    void SetDTMFMinEnergy(float fMinEnergy);
    void SetHighImpedanceAlgorithm(bool bOn);
    void SetCallerId2Mode(bool bOn);

    uint32_t GetBlockLength() const { return m_uBlockLength; }
    // Samples of the block in progress: 0 right after a block completed.
    uint32_t GetSamplesInBlock() const { return m_uSamplesInBlock; }
    float GetMinEnergy() const { return m_fMinEnergy; }
    bool IsHighImpedance() const { return m_nHighImpedance != 0; }
    bool IsCallerId2Mode() const { return m_nCallerIdMode != 0; }

private:
    static constexpr uint32_t kLanes = 4; // blocks run side by side from a reset

    void RunSamples(const int16_t* pSamples, uint32_t uCount);
    char AnalyseBlock();
    bool PassesEnergyGate(float fEnergy) const;
    char Classify(float fEnergy, const float* pS1, const float* pS2) const;
    void RunLanes(const int16_t* const* ppBlocks, float* pEnergy);
    void RunResonators(const float* pY, uint32_t uStride, float* pS1, float* pS2) const;

    float m_fX1 = 0, m_fX2 = 0; // prefilter input history
    float m_fY1 = 0, m_fY2 = 0; // prefilter output history
    float m_fS1[kNumTones] = {}, m_fS2[kNumTones] = {};
    float m_fCoeff[kNumTones] = {};
    float m_fBlockEnergy = 0;
    int32_t m_nHighImpedance = 1;
    int32_t m_nCallerIdMode = 0;
    uint32_t m_uBlockLength = 80;
    uint32_t m_uSamplesInBlock = 0;
    float m_fMinEnergy = kDefaultMinEnergy;
    const float* m_pNumerator = nullptr;   // b0, b1, b2
    const float* m_pDenominator = nullptr; // a1, a2
    bool m_bFresh = true;
    std::unique_ptr<float[]> m_pLaneOutput; // prefilter output of kLanes blocks, interleaved
};
