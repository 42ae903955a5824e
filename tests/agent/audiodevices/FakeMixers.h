// A made-up list of mixers behind the search's mixer interface. Each mixer has a product
// name, may refuse its capabilities or its opening, and has a wave-in destination line, a
// wave-out source line, both or none. Names of 32 characters or more fill the whole
// 32-byte product name with no terminating zero, as a careless driver would. The fake
// checks the calls as winmm would and counts opens and closes.
#pragma once

#include "softphone/MixerApi.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

struct FakeMixer {
    std::string name;
    bool bWaveIn = false;
    bool bWaveOut = false;
    bool bReadable = true;
    bool bOpens = true;
};

class FakeMixers : public IMixerApi {
public:
    FakeMixers() = default;
    explicit FakeMixers(std::vector<FakeMixer> list) : mixers(std::move(list)) {}

    UINT GetNumDevs() override { return nReportedCount ? nReportedCount : static_cast<UINT>(mixers.size()); }
    MMRESULT GetDevCaps(UINT uMxId, MIXERCAPSA* pCaps) override {
        uHighestCapsId = std::max(uHighestCapsId, uMxId);
        if (onGetDevCaps)
            onGetDevCaps(uMxId);
        if (uMxId >= mixers.size() || !mixers[uMxId].bReadable)
            return MMSYSERR_BADDEVICEID;
        memset(pCaps, 0, sizeof *pCaps);
        const std::string& name = mixers[uMxId].name;
        memcpy(pCaps->szPname, name.data(), std::min(name.size(), sizeof pCaps->szPname));
        return MMSYSERR_NOERROR;
    }
    MMRESULT Open(UINT uMxId, HMIXER* phMixer) override {
        if (uMxId >= mixers.size() || !mixers[uMxId].bOpens)
            return MMSYSERR_BADDEVICEID;
        *phMixer = reinterpret_cast<HMIXER>(static_cast<uintptr_t>(0x1000 + uMxId));
        open.insert(*phMixer);
        ++nOpens;
        return MMSYSERR_NOERROR;
    }
    MMRESULT GetLineInfo(HMIXER hMixer, MIXERLINEA* pLine, DWORD fdwInfo) override {
        if (!open.count(hMixer) || pLine->cbStruct != sizeof(MIXERLINEA) ||
            fdwInfo != MIXER_GETLINEINFOF_COMPONENTTYPE) {
            ++nBadCalls;
            return MMSYSERR_INVALPARAM;
        }
        const FakeMixer& mixer = mixers[reinterpret_cast<uintptr_t>(hMixer) - 0x1000];
        askedLines.push_back(pLine->dwComponentType);
        const bool bHas = (pLine->dwComponentType == MIXERLINE_COMPONENTTYPE_DST_WAVEIN && mixer.bWaveIn) ||
                          (pLine->dwComponentType == MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT && mixer.bWaveOut);
        return bHas ? MMSYSERR_NOERROR : MIXERR_INVALLINE;
    }
    MMRESULT Close(HMIXER hMixer) override {
        if (!open.erase(hMixer)) {
            ++nBadCalls;
            return MMSYSERR_INVALHANDLE;
        }
        ++nCloses;
        return MMSYSERR_NOERROR;
    }

    std::vector<FakeMixer> mixers;
    UINT nReportedCount = 0; // 0: the list's size
    std::function<void(UINT)> onGetDevCaps;
    std::set<HMIXER> open;
    std::vector<DWORD> askedLines;
    UINT uHighestCapsId = 0;
    int nOpens = 0;
    int nCloses = 0;
    int nBadCalls = 0;
};
