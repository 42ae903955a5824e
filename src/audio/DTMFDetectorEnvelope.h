// DTMFDetectorEnvelope: turns the per-block answers of GoerztelDtmfDetector into key presses.
//
// What: each key press once, when it ends, in the order the presses end.
//
// How: the audio is cut at the detector's block boundaries (10 ms). A digit counts once it
// was found in at least duration/10 blocks (4 for the agent's 40 ms at 8000 Hz). One block
// without it is bridged; the second empty block in a row ends the digit, and so does a
// different digit following directly. A digit that ends is judged: with too few blocks, or
// with more than 30 % of its span missing, it is dropped (traced), otherwise it is reported.
// So a press is reported 20 ms after the tone stops, or at once when the next key follows
// without a pause; a key held down is reported once.
//
// Limits: a tone may span any number of calls: the partial block, the digit being tracked
// and its counters stay in the object. Samples left when the caller's digit buffer is full
// are dropped for detection (a buffer of 5 holds everything 100 ms of audio can yield).
// No allocation after construction; not thread-safe (one caller thread per object).
#pragma once

#include "audio/GoerztelDtmfDetector.h"

#include <cstdint>

class DTMFDetectorEnvelope : public GoerztelDtmfDetector {
public:
    static constexpr uint32_t kBlockMs = 10;
    static constexpr uint32_t kAllowedConsecutiveNonDetections = 1;
    static constexpr uint32_t kMaxNonDetectionPercentage = 30;

    // The agent uses (40, 8000): 80-sample blocks, 4 detection blocks needed.
    DTMFDetectorEnvelope(uint32_t uMinDurationMs, uint32_t uSampleRate);

    // Detection blocks needed for a digit: uMinDurationMs / 10, at least 1.
    void SetNecessaryDetections(uint32_t uMinDurationMs);
    uint32_t GetNecessaryDetections() const { return uNumberOfNecessaryConsecutiveDetections; }

    // Forgets the filters, the partial block and the digit being tracked.
    void Reset();

    // Feeds uCount samples and writes every digit that completed in them to pDigits (not
    // terminated), in the order the digits ended. Returns how many were written, at most
    // uCapacity. Example, per captured chunk:
    //     char digits[5];
    //     uint32_t n = detector.DetectDigits(samples, 800, digits, sizeof digits);
    uint32_t DetectDigits(const int16_t* pSamples, uint32_t uCount, char* pDigits, uint32_t uCapacity);

    // The digit being tracked (0 = none), for diagnostics.
    char GetCurrentDigit() const { return m_cCurrentDigit; }

    // While set, the trace shows every digit key as '*' (a PIN is being keyed); the keys
    // reported are unchanged.
    void SetDigitsMasked(bool bMasked) { m_bDigitsMasked = bMasked; }

private:
    char Shown(char digit) const { return m_bDigitsMasked && digit >= '0' && digit <= '9' ? '*' : digit; }
    bool JudgeDigit(char* pDigits, uint32_t& uOut, bool bTrace);

    char m_cCurrentDigit = 0;
    uint32_t uNumberOfNecessaryConsecutiveDetections = 4;
    uint32_t m_uAllowedConsecutiveNonDetections = kAllowedConsecutiveNonDetections;
    uint32_t m_uMaxNonDetectionPercentage = kMaxNonDetectionPercentage;
    uint32_t m_uDetections = 0;
    uint32_t m_uConsecutiveNonDetections = 0;
    uint32_t m_uTotalNonDetections = 0;
    bool m_bDigitsMasked = false;
};
