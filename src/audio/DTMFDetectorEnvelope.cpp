#include "audio/DTMFDetectorEnvelope.h"

#include "base/trace/Trace.h"

// The per-block lines come up to a hundred times a second: when no sink listens (asked once
// per call, in bTrace), they are not even formatted.
#define DTMF_TRACE(...)                                                                                      \
    do {                                                                                                     \
        if (bTrace)                                                                                          \
            TRACE(__VA_ARGS__);                                                                              \
    } while (0)

DTMFDetectorEnvelope::DTMFDetectorEnvelope(uint32_t uMinDurationMs, uint32_t uSampleRate)
    : GoerztelDtmfDetector(kBlockMs, uSampleRate) {
    uNumberOfNecessaryConsecutiveDetections = uMinDurationMs / kBlockMs;
    if (uNumberOfNecessaryConsecutiveDetections == 0) {
        uNumberOfNecessaryConsecutiveDetections = 1;
    }
}

void DTMFDetectorEnvelope::SetNecessaryDetections(uint32_t uMinDurationMs) {
    uNumberOfNecessaryConsecutiveDetections = uMinDurationMs / kBlockMs;
    if (uNumberOfNecessaryConsecutiveDetections == 0) {
        uNumberOfNecessaryConsecutiveDetections = 1; // as at construction
    }
    TRACE("DTMFDetectorEnvelope: uNumberOfNecessaryConsecutiveDetections=%d",
          (int)uNumberOfNecessaryConsecutiveDetections);
}

void DTMFDetectorEnvelope::Reset() {
    GoerztelDtmfDetector::Reset();
    m_cCurrentDigit = 0;
    m_uDetections = 0;
    m_uConsecutiveNonDetections = 0;
    m_uTotalNonDetections = 0;
}

bool DTMFDetectorEnvelope::JudgeDigit(char* pDigits, uint32_t& uOut, bool bTrace) {
    const uint32_t total = m_uTotalNonDetections;
    const uint32_t run = m_uConsecutiveNonDetections;
    // Gaps inside the digit against its span; the trailing run does not count. With one
    // or two detection blocks the span can come to nothing: no gaps inside then.
    const uint32_t span = m_uDetections + total - 2 * run;
    const uint32_t percentage = span != 0 ? (total - run) * 100 / span : 0;
    if (percentage <= m_uMaxNonDetectionPercentage) {
        pDigits[uOut++] = m_cCurrentDigit;
        DTMF_TRACE("Full DTMF detected: %c, based on %d blocks\n", Shown(m_cCurrentDigit),
                   (int)m_uDetections);
        return true;
    }
    DTMF_TRACE("Percantage of non-detections is too high (%d > %d). DTMF %c will be considered UNDETECTED\n",
               (int)percentage, (int)m_uMaxNonDetectionPercentage, Shown(m_cCurrentDigit));
    return false;
}

uint32_t DTMFDetectorEnvelope::DetectDigits(const int16_t* pSamples, uint32_t uCount, char* pDigits,
                                            uint32_t uCapacity) {
    uint32_t out = 0;
    const bool bTrace = uCount > 0 && uCapacity > 0 && ::orvin::TraceGetSinkType() != ::orvin::kTraceNone;
    while (uCount > 0 && out < uCapacity) {
        // No digit in progress and the filters reset: the blocks ahead are independent of
        // one another until one of them holds a digit. Same answers, several blocks at once.
        if (!m_cCurrentDigit && IsFresh() && uCount / GetBlockLength() >= 2) {
            char digit = 0;
            const uint32_t used =
                ProcessBlocksFromReset(pSamples, uCount / GetBlockLength(), digit) * GetBlockLength();
            pSamples += used;
            uCount -= used;
            if (digit) {
                DTMF_TRACE("DTMF detected in the current block: %c\n", Shown(digit));
                m_cCurrentDigit = digit;
                m_uDetections = 1;
                m_uConsecutiveNonDetections = 0;
                m_uTotalNonDetections = 0;
            } else {
                m_uDetections = 0;
                GoerztelDtmfDetector::Reset();
            }
            continue;
        }
        // Never past a block boundary, so the answer belongs to the block just completed.
        uint32_t chunk = GetBlockLength() - GetSamplesInBlock();
        if (chunk > uCount) {
            chunk = uCount;
        }
        const char digit = ProcessSamples(pSamples, chunk);
        pSamples += chunk;
        uCount -= chunk;

        if (digit) {
            DTMF_TRACE("DTMF detected in the current block: %c\n", Shown(digit));
            if (digit == m_cCurrentDigit) {
                ++m_uDetections;
                m_uConsecutiveNonDetections = 0;
            } else {
                if (m_cCurrentDigit && m_uDetections >= uNumberOfNecessaryConsecutiveDetections) {
                    JudgeDigit(pDigits, out, bTrace);
                }
                m_cCurrentDigit = digit;
                m_uDetections = 1;
                m_uConsecutiveNonDetections = 0;
                m_uTotalNonDetections = 0;
            }
        } else if (GetSamplesInBlock() == 0) {
            if (m_cCurrentDigit) {
                ++m_uConsecutiveNonDetections;
                ++m_uTotalNonDetections;
                if (m_uConsecutiveNonDetections > m_uAllowedConsecutiveNonDetections) {
                    if (m_uDetections < uNumberOfNecessaryConsecutiveDetections) {
                        DTMF_TRACE("Too few detections (%d < %d). DTMF %c will be considered UNDETECTED\n",
                                   (int)m_uDetections, (int)uNumberOfNecessaryConsecutiveDetections,
                                   Shown(m_cCurrentDigit));
                    } else {
                        JudgeDigit(pDigits, out, bTrace);
                    }
                    Reset();
                } else {
                    DTMF_TRACE(
                        "No DTMF in the current block. Non-detections still within allowed range (%d <= %d)\n",
                        (int)m_uConsecutiveNonDetections, (int)m_uAllowedConsecutiveNonDetections);
                }
            } else {
                m_uDetections = 0;
                GoerztelDtmfDetector::Reset();
            }
        }
    }
    return out;
}
