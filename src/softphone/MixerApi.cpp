#include "softphone/MixerApi.h"

namespace {

class CWinmmMixerApi final : public IMixerApi {
public:
    UINT GetNumDevs() override { return mixerGetNumDevs(); }
    MMRESULT GetDevCaps(UINT uMxId, MIXERCAPSA* pCaps) override {
        return mixerGetDevCapsA(uMxId, pCaps, sizeof *pCaps);
    }
    MMRESULT Open(UINT uMxId, HMIXER* phMixer) override {
        // No callback: the search only asks questions and closes again.
        return mixerOpen(phMixer, uMxId, 0, 0, MIXER_OBJECTF_MIXER);
    }
    MMRESULT GetLineInfo(HMIXER hMixer, MIXERLINEA* pLine, DWORD fdwInfo) override {
        return mixerGetLineInfoA(reinterpret_cast<HMIXEROBJ>(hMixer), pLine, MIXER_OBJECTF_HMIXER | fdwInfo);
    }
    MMRESULT Close(HMIXER hMixer) override { return mixerClose(hMixer); }
};

} // namespace

IMixerApi& SystemMixerApi() {
    static CWinmmMixerApi mixers;
    return mixers;
}
