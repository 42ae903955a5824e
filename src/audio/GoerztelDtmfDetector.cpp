#include "audio/GoerztelDtmfDetector.h"

#include "base/trace/Trace.h"

#include <cmath>

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr float kToneHz[GoerztelDtmfDetector::kNumTones] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
constexpr char kKeypad[] = "123A456B789C*0#D"; // row-major: rows 697..941, columns 1209..1633

// Second-order Butterworth high-pass, -3 dB at 450 Hz for the named rate: b0, b1, b2 and a1, a2.
constexpr float kNumerator9600[3] = {0.8118318f, -1.6236635f, 0.8118318f};
constexpr float kDenominator9600[2] = {-1.5879371f, 0.65938985f};
constexpr float kNumerator16000[3] = {0.8825112f, -1.7650224f, 0.8825112f};
constexpr float kDenominator16000[2] = {-1.7511708f, 0.778874f};

constexpr float kRatioMin = 1.25f; // strongest tone of a group over the next one
constexpr float kShareOfEnergy = 0.283f;
constexpr float kStrongShare = 0.3f;
constexpr float kWeakShare = 0.1f; // relaxed rule, caller-ID mode only

// Index of the largest of four powers (the lower index on a tie) and the largest of the rest.
uint32_t Strongest(const float* p, float& fSecond) {
    uint32_t best = 0;
    for (uint32_t i = 1; i < 4; ++i) {
        if (p[i] > p[best]) {
            best = i;
        }
    }
    bool first = true;
    fSecond = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        if (i != best && (first || p[i] > fSecond)) {
            fSecond = p[i];
            first = false;
        }
    }
    return best;
}

} // namespace

GoerztelDtmfDetector::GoerztelDtmfDetector(uint32_t uBlockMs, uint32_t uSampleRate) {
    m_uBlockLength = uBlockMs * uSampleRate / 1000;
    if (m_uBlockLength == 0) {
        m_uBlockLength = 1; // a block must end somewhere, or nothing is ever judged
    }
    for (uint32_t k = 0; k < kNumTones; ++k) {
        m_fCoeff[k] = 2.0f * std::cos(kTwoPi * kToneHz[k] / (float)uSampleRate);
    }
    m_pLaneOutput.reset(new float[(size_t)m_uBlockLength * kLanes]);
    Reset();
    m_nHighImpedance = 1;
    m_nCallerIdMode = 0;
    m_fMinEnergy = kDefaultMinEnergy;
    if (uSampleRate == 16000) {
        m_pNumerator = kNumerator16000;
        m_pDenominator = kDenominator16000;
        TRACE("GoerztelDtmfDetector : Sample Rate 16000");
    } else {
        m_pNumerator = kNumerator9600;
        m_pDenominator = kDenominator9600;
        TRACE("GoerztelDtmfDetector : Sample Rate 9600");
    }
}

void GoerztelDtmfDetector::Reset() {
    m_fX1 = m_fX2 = m_fY1 = m_fY2 = 0;
    m_fBlockEnergy = 0;
    m_uSamplesInBlock = 0;
    for (uint32_t k = 0; k < kNumTones; ++k) {
        m_fS1[k] = m_fS2[k] = 0;
    }
    m_bFresh = true;
}

void GoerztelDtmfDetector::RunSamples(const int16_t* pSamples, uint32_t uCount) {
    const float b0 = m_pNumerator[0], b1 = m_pNumerator[1], b2 = m_pNumerator[2];
    const float a1 = m_pDenominator[0], a2 = m_pDenominator[1];
    float x1 = m_fX1, x2 = m_fX2, y1 = m_fY1, y2 = m_fY2, energy = m_fBlockEnergy;
    float s1[kNumTones], s2[kNumTones], c[kNumTones];
    for (uint32_t k = 0; k < kNumTones; ++k) {
        s1[k] = m_fS1[k];
        s2[k] = m_fS2[k];
        c[k] = m_fCoeff[k];
    }
    for (uint32_t i = 0; i < uCount; ++i) {
        const float x = (float)pSamples[i];
        const float y = b0 * x + b1 * x1 + b2 * x2 - (a1 * y1 + a2 * y2);
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        for (uint32_t k = 0; k < kNumTones; ++k) {
            const float s = c[k] * s1[k] - s2[k] + y;
            s2[k] = s1[k];
            s1[k] = s;
        }
        energy += y * y;
    }
    for (uint32_t k = 0; k < kNumTones; ++k) {
        m_fS1[k] = s1[k];
        m_fS2[k] = s2[k];
    }
    m_fX1 = x1;
    m_fX2 = x2;
    m_fY1 = y1;
    m_fY2 = y2;
    m_fBlockEnergy = energy;
    m_uSamplesInBlock += uCount;
    m_bFresh = m_bFresh && uCount == 0;
}

char GoerztelDtmfDetector::ProcessSamples(const int16_t* pSamples, uint32_t uCount) {
    char found = 0;
    while (uCount > 0) {
        uint32_t take = m_uBlockLength - m_uSamplesInBlock;
        if (take > uCount) {
            take = uCount;
        }
        RunSamples(pSamples, take);
        pSamples += take;
        uCount -= take;
        if (m_uSamplesInBlock == m_uBlockLength) {
            const char digit = AnalyseBlock();
            if (digit) {
                found = digit;
            }
        }
    }
    return found;
}

char GoerztelDtmfDetector::AnalyseBlock() {
    const float energy = m_fBlockEnergy / (float)m_uBlockLength;
    float s1[kNumTones], s2[kNumTones];
    for (uint32_t k = 0; k < kNumTones; ++k) {
        s1[k] = m_fS1[k];
        s2[k] = m_fS2[k];
        m_fS1[k] = m_fS2[k] = 0;
    }
    // The block is over whatever it held.
    m_uSamplesInBlock = 0;
    m_fBlockEnergy = 0;
    if (!PassesEnergyGate(energy)) {
        return 0;
    }
    return Classify(energy, s1, s2);
}

bool GoerztelDtmfDetector::PassesEnergyGate(float fEnergy) const {
    return fEnergy > m_fMinEnergy || (!m_nHighImpedance && fEnergy > kLowImpedanceMinEnergy);
}

char GoerztelDtmfDetector::Classify(float fEnergy, const float* pS1, const float* pS2) const {
    const float n = (float)m_uBlockLength;
    const float nn = n * n;
    float power[kNumTones];
    for (uint32_t k = 0; k < kNumTones; ++k) {
        power[k] = (pS1[k] * pS1[k] + pS2[k] * pS2[k] - m_fCoeff[k] * pS1[k] * pS2[k]) / nn;
    }
    float second;
    const uint32_t row = Strongest(power, second);
    if (!(power[row] / second > kRatioMin)) {
        return 0;
    }
    const uint32_t col = Strongest(power + 4, second);
    if (!(power[4 + col] / second > kRatioMin)) {
        return 0;
    }
    const float total = kShareOfEnergy * fEnergy;
    const float rowShare = power[row] / total;
    const float colShare = power[4 + col] / total;
    if (!(power[row] + power[4 + col] > total)) {
        return 0;
    }
    if (m_nHighImpedance && !m_nCallerIdMode) {
        if (!(rowShare > kStrongShare && colShare > kStrongShare)) {
            return 0;
        }
    } else {
        if (!((rowShare > kStrongShare && colShare > kWeakShare) ||
              (colShare > kStrongShare && rowShare > kWeakShare))) {
            return 0;
        }
        TRACE_LEVEL(6, "GoerDtmfDet CallerID we are in !!!!");
    }
    return kKeypad[row * 4 + col];
}

// The prefilter of kLanes blocks at once, each from a reset state: the same steps as
// RunSamples, lane by lane, so that the compiler can run the lanes in one vector.
void GoerztelDtmfDetector::RunLanes(const int16_t* const* ppBlocks, float* pEnergy) {
    const float b0 = m_pNumerator[0], b1 = m_pNumerator[1], b2 = m_pNumerator[2];
    const float a1 = m_pDenominator[0], a2 = m_pDenominator[1];
    float x1[kLanes] = {}, x2[kLanes] = {}, y1[kLanes] = {}, y2[kLanes] = {}, energy[kLanes] = {};
    float* out = m_pLaneOutput.get();
    for (uint32_t i = 0; i < m_uBlockLength; ++i, out += kLanes) {
        float x[kLanes];
        for (uint32_t j = 0; j < kLanes; ++j) {
            x[j] = (float)ppBlocks[j][i];
        }
        for (uint32_t j = 0; j < kLanes; ++j) {
            const float y = b0 * x[j] + b1 * x1[j] + b2 * x2[j] - (a1 * y1[j] + a2 * y2[j]);
            x2[j] = x1[j];
            x1[j] = x[j];
            y2[j] = y1[j];
            y1[j] = y;
            out[j] = y;
            energy[j] += y * y;
        }
    }
    for (uint32_t j = 0; j < kLanes; ++j) {
        pEnergy[j] = energy[j];
    }
}

// The resonators over one stored block, from zero.
void GoerztelDtmfDetector::RunResonators(const float* pY, uint32_t uStride, float* pS1, float* pS2) const {
    float s1[kNumTones] = {}, s2[kNumTones] = {}, c[kNumTones];
    for (uint32_t k = 0; k < kNumTones; ++k) {
        c[k] = m_fCoeff[k];
    }
    for (uint32_t i = 0; i < m_uBlockLength; ++i, pY += uStride) {
        const float y = *pY;
        for (uint32_t k = 0; k < kNumTones; ++k) {
            const float s = c[k] * s1[k] - s2[k] + y;
            s2[k] = s1[k];
            s1[k] = s;
        }
    }
    for (uint32_t k = 0; k < kNumTones; ++k) {
        pS1[k] = s1[k];
        pS2[k] = s2[k];
    }
}

uint32_t GoerztelDtmfDetector::ProcessBlocksFromReset(const int16_t* pSamples, uint32_t uBlocks,
                                                      char& cDigit) {
    cDigit = 0;
    const uint32_t n = m_uBlockLength;
    uint32_t done = 0;
    while (done < uBlocks) {
        const uint32_t lanes = uBlocks - done < kLanes ? uBlocks - done : kLanes;
        const int16_t* first = pSamples + (size_t)done * n;
        // Spare lanes repeat the last block rather than read past the caller's samples.
        const int16_t* blocks[kLanes];
        for (uint32_t j = 0; j < kLanes; ++j) {
            blocks[j] = first + (size_t)(j < lanes ? j : lanes - 1) * n;
        }
        float energy[kLanes];
        RunLanes(blocks, energy);

        for (uint32_t j = 0; j < lanes; ++j) {
            const float mean = energy[j] / (float)n;
            char digit = 0;
            if (PassesEnergyGate(mean)) {
                float s1[kNumTones], s2[kNumTones];
                RunResonators(m_pLaneOutput.get() + j, kLanes, s1, s2);
                digit = Classify(mean, s1, s2);
            }
            if (digit || done + j + 1 == uBlocks) {
                // Leave the prefilter history of this block, as the one-block path would.
                const float* y = m_pLaneOutput.get() + j;
                m_fX1 = (float)blocks[j][n - 1];
                m_fX2 = n > 1 ? (float)blocks[j][n - 2] : 0.0f;
                m_fY1 = y[(size_t)(n - 1) * kLanes];
                m_fY2 = n > 1 ? y[(size_t)(n - 2) * kLanes] : 0.0f;
                m_bFresh = false;
                cDigit = digit;
                return done + j + 1;
            }
        }
        done += lanes;
    }
    return done;
}

void GoerztelDtmfDetector::SetDTMFMinEnergy(float fMinEnergy) {
    m_fMinEnergy = fMinEnergy;
    const float magnitude = std::fabs(fMinEnergy);
    const int whole = (int)magnitude;
    const int fraction = (int)((magnitude - (float)whole) * 1000000.0f);
    TRACE("SetDTMFMinEnergy -> Set Threshold to  = %c%d.%06d\r\n", fMinEnergy > 0 ? '+' : '-', whole,
          fraction);
}

void GoerztelDtmfDetector::SetHighImpedanceAlgorithm(bool bOn) {
    TRACE("GoerDtmfDet_SetHighImpedanceAlgorithm");
    m_nHighImpedance = bOn ? 1 : 0;
    m_fMinEnergy = bOn ? kDefaultMinEnergy : kLowImpedanceMinEnergy;
    if (m_nCallerIdMode && m_fMinEnergy > kCallerIdMinEnergy) {
        m_fMinEnergy = kCallerIdMinEnergy;
    }
}

void GoerztelDtmfDetector::SetCallerId2Mode(bool bOn) {
    if (bOn) {
        m_fMinEnergy = kCallerIdMinEnergy;
        m_nCallerIdMode = 1;
        TRACE("GoerDtmfDet Set CallerId2 Mode is ON !!!");
    } else {
        m_fMinEnergy = kDefaultMinEnergy;
        m_nCallerIdMode = 0;
        TRACE("GoerDtmfDet Set CallerId2 Mode is OFF !!!");
    }
    if (!m_nHighImpedance && m_fMinEnergy > kLowImpedanceMinEnergy) {
        m_fMinEnergy = kLowImpedanceMinEnergy;
    }
}
