// The device search on made-up mixer lists. The registry key named here does not exist,
// so the search looks for "Orvin Virtual Audio Device".
#include "FakeMixers.h"
#include "softphone/AudioDevices.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

const char* const kNoSuchKey = "Software\\OrvinAgentTest\\NoSuchAdapterKey";
const std::string kCut = "Mixer (Orvin Virtual Audio Devi";
constexpr UINT kNone = 0xFFFF;

FakeMixer Plain(std::string name) {
    return FakeMixer{std::move(name)};
}
FakeMixer Lines(std::string name, bool bIn, bool bOut) {
    return FakeMixer{std::move(name), bIn, bOut};
}

struct Found {
    int nResult;
    UINT uCapture, uPlayback;
    bool bNumbered;
};

class AudioDevicesTest : public ::testing::Test {
protected:
    Found Search(std::vector<FakeMixer> list) {
        m_mixers.mixers = std::move(list);
        const int nResult = m_devices.FindAudioDevices(kNoSuchKey);
        EXPECT_TRUE(m_mixers.open.empty()) << "a mixer was left open";
        EXPECT_EQ(m_mixers.nOpens, m_mixers.nCloses);
        EXPECT_EQ(m_mixers.nBadCalls, 0);
        return Found{nResult, m_devices.GetCaptureAudioDeviceId(), m_devices.GetPlaybackAudioDeviceId(),
                     m_devices.UsesNumberedVariants()};
    }
    FakeMixers m_mixers;
    CAudioDevices m_devices{m_mixers};
};

TEST_F(AudioDevicesTest, NameInAnotherCaseIsBothDevicesWithoutLineTests) {
    Found f = Search({Plain("Speakers"), Plain("orvin virtual audio device")});
    EXPECT_EQ(f.nResult, 1);
    EXPECT_EQ(f.uCapture, 1u);
    EXPECT_EQ(f.uPlayback, 1u);
    EXPECT_TRUE(f.bNumbered);
    EXPECT_EQ(m_mixers.nOpens, 0);
    EXPECT_EQ(m_devices.GetCaptureAudioDeviceName(), "orvin virtual audio device");
    EXPECT_EQ(m_devices.GetPlaybackAudioDeviceName(), "orvin virtual audio device");
    EXPECT_EQ(m_devices.GetAudioDeviceRegistryName(), "Orvin Virtual Audio Device");
    EXPECT_TRUE(m_devices.AreAudioDevicesFound());
}

TEST_F(AudioDevicesTest, CutNameWithOnlyWaveOutIsThePlaybackDeviceOnly) {
    Found f = Search({Plain("Speakers"), Lines(kCut, false, true)});
    EXPECT_EQ(f.nResult, 0);
    EXPECT_EQ(f.uCapture, kNone);
    EXPECT_EQ(f.uPlayback, 1u);
    EXPECT_EQ(m_devices.GetCaptureAudioDeviceName(), std::nullopt);
    EXPECT_EQ(m_devices.GetPlaybackAudioDeviceName(), kCut);
    EXPECT_FALSE(m_devices.AreAudioDevicesFound());
    // Wave-out source first, then wave-in destination.
    EXPECT_EQ(m_mixers.askedLines,
              (std::vector<DWORD>{MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, MIXERLINE_COMPONENTTYPE_DST_WAVEIN}));
}

TEST_F(AudioDevicesTest, WindowsLongNamesAreCutAt31AndStillFound) {
    // Windows shows the adapter as two endpoints whose names run past 31 characters.
    Found f = Search({Lines("Speakers (Orvin Virtual Audio Device)", false, true),
                      Lines("Microphone (Orvin Virtual Audio Device)", true, false)});
    EXPECT_EQ(f.nResult, 1);
    EXPECT_EQ(f.uPlayback, 0u);
    EXPECT_EQ(f.uCapture, 1u);
    EXPECT_EQ(m_devices.GetDeviceNames(), (std::vector<std::string>{"Speakers (Orvin Virtual Audio D",
                                                                    "Microphone (Orvin Virtual Audio"}));
    EXPECT_EQ(m_devices.GetPlaybackAudioDeviceName(), "Speakers (Orvin Virtual Audio D");
}

TEST_F(AudioDevicesTest, LaterMatchesOverrideEarlierOnes) {
    Found f =
        Search({Lines(kCut, true, true), Plain("ORVIN VIRTUAL AUDIO DEVICE"), Lines(kCut, false, true)});
    EXPECT_EQ(f.nResult, 1);
    EXPECT_EQ(f.uCapture, 1u);
    EXPECT_EQ(f.uPlayback, 2u);
}

TEST_F(AudioDevicesTest, FallbackTakesBtaudioForBothAndClearsTheNumberedVariants) {
    Found f = Search({Plain("Speakers"), Lines(kCut, false, true), Plain("BTAUDIO"), Plain("Line In")});
    EXPECT_EQ(f.nResult, 1);
    EXPECT_EQ(f.uCapture, 2u);
    EXPECT_EQ(f.uPlayback, 2u);
    EXPECT_FALSE(f.bNumbered);
    EXPECT_EQ(m_devices.GetCaptureAudioDeviceName(), "BTAUDIO");

    // The next search that finds the device by name sets the flag again.
    m_mixers = FakeMixers();
    f = Search({Plain("Orvin Virtual Audio Device"), Plain("BTAUDIO")});
    EXPECT_EQ(f.uCapture, 0u);
    EXPECT_TRUE(f.bNumbered);
}

TEST_F(AudioDevicesTest, FallbackNameIsCaseSensitive) {
    Found f = Search({Plain("btaudio"), Plain("BTAUDIO "), Plain("BTAudio")});
    EXPECT_EQ(f.nResult, 0);
    EXPECT_EQ(f.uCapture, kNone);
    EXPECT_EQ(f.uPlayback, kNone);
}

TEST_F(AudioDevicesTest, NoAdapterLeavesBothIdsAtNoneAndNoNames) {
    for (auto list : {std::vector<FakeMixer>{}, std::vector<FakeMixer>{Plain("Speakers"), Plain("")}}) {
        Found f = Search(list);
        EXPECT_EQ(f.nResult, 0);
        EXPECT_EQ(f.uCapture, kNone);
        EXPECT_EQ(f.uPlayback, kNone);
        AudioDeviceSelection s = m_devices.GetSelection();
        EXPECT_EQ(s.captureName, std::nullopt);
        EXPECT_EQ(s.playbackName, std::nullopt);
        EXPECT_EQ(m_devices.GetDeviceNames().size(), list.size());
    }
}

TEST_F(AudioDevicesTest, UnreadableMixerKeepsTheOthersAtTheirIds) {
    FakeMixer broken = Plain("BTAUDIO");
    broken.bReadable = false;
    Found f = Search({Plain("Speakers"), broken, Plain("Orvin Virtual Audio Device")});
    EXPECT_EQ(f.uCapture, 2u);
    EXPECT_EQ(m_devices.GetCaptureAudioDeviceName(), "Orvin Virtual Audio Device");
    EXPECT_EQ(m_devices.GetDeviceNames(),
              (std::vector<std::string>{"Speakers", "", "Orvin Virtual Audio Device"}));

    // Nor is an unreadable mixer taken by the fallback.
    f = Search({Plain("Speakers"), broken});
    EXPECT_EQ(f.uCapture, kNone);
}

TEST_F(AudioDevicesTest, NamesFillingAllOf32BytesAreReadAs31Characters) {
    const std::string longName(40, 'A');
    Found f = Search({Plain(longName), Plain(std::string(32, 'B'))});
    EXPECT_EQ(f.nResult, 0);
    EXPECT_EQ(m_devices.GetDeviceNames(),
              (std::vector<std::string>{std::string(31, 'A'), std::string(31, 'B')}));
}

TEST_F(AudioDevicesTest, NameEndingAtItsParenthesisMatchesNothing) {
    Found f = Search({Lines("Headset (", true, true), Lines("(", true, true)});
    EXPECT_EQ(f.uCapture, kNone);
    EXPECT_EQ(f.uPlayback, kNone);
    EXPECT_EQ(m_mixers.nOpens, 0);
}

TEST_F(AudioDevicesTest, MixerThatCannotBeOpenedHasNoLines) {
    FakeMixer closed = Lines(kCut, true, true);
    closed.bOpens = false;
    Found f = Search({closed});
    EXPECT_EQ(f.uCapture, kNone);
    EXPECT_EQ(f.uPlayback, kNone);
    EXPECT_FALSE(m_devices.IsWaveIn(0xFFFF));
    EXPECT_FALSE(m_devices.IsWaveOut(7));
}

TEST_F(AudioDevicesTest, SearchAfterTheDeviceWentForgetsItsOldIds) {
    Found f = Search({Plain("Speakers"), Plain("Line In"), Plain("Orvin Virtual Audio Device")});
    ASSERT_EQ(f.uCapture, 2u);
    f = Search({Plain("Speakers")});
    EXPECT_EQ(f.nResult, 0);
    EXPECT_EQ(f.uCapture, kNone);
    EXPECT_EQ(f.uPlayback, kNone);
    EXPECT_EQ(m_devices.GetCaptureAudioDeviceName(), std::nullopt);
}

TEST_F(AudioDevicesTest, ResetForgetsTheDevicesAndWinsOverARunningSearch) {
    Search({Plain("Orvin Virtual Audio Device")});
    m_devices.Reset();
    EXPECT_EQ(m_devices.GetCaptureAudioDeviceId(), kNone);
    EXPECT_EQ(m_devices.GetPlaybackAudioDeviceName(), std::nullopt);
    EXPECT_EQ(m_devices.GetAudioDeviceRegistryName(), "Orvin Virtual Audio Device");

    // The adapter goes away while a search reads the mixers.
    m_mixers.onGetDevCaps = [this](UINT) { m_devices.Reset(); };
    EXPECT_EQ(m_devices.FindAudioDevices(kNoSuchKey), 0);
    EXPECT_EQ(m_devices.GetCaptureAudioDeviceId(), kNone);
}

TEST_F(AudioDevicesTest, IdsStopShortOfTheNoDeviceMarker) {
    m_mixers.nReportedCount = 0x10005;
    Found f = Search({Plain("Speakers"), Plain("BTAUDIO")});
    EXPECT_EQ(f.uCapture, 1u);
    EXPECT_EQ(m_mixers.uHighestCapsId, 0xFFFEu);
}

} // namespace
