// The device name from the registry value "AudioDeviceName" under a test adapter key of
// HKEY_LOCAL_MACHINE (one key per test, removed afterwards), and the search on the
// system's own mixers.
#include "FakeMixers.h"
#include "softphone/AudioDevices.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <string>

namespace {

const std::string kDefault = "Orvin Virtual Audio Device";

class AudioDeviceNameTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_key = std::string("Software\\OrvinAgentTest\\") +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str());
    }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, m_key.c_str()); }

    void SetValue(DWORD dwType, const void* pData, DWORD dwBytes) {
        ASSERT_EQ(
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, m_key.c_str(), "AudioDeviceName", dwType, pData, dwBytes),
            ERROR_SUCCESS);
    }
    void SetName(const std::string& name) { SetValue(REG_SZ, name.c_str(), (DWORD)name.size() + 1); }
    // The name the next search looks for.
    std::string NameLookedFor() {
        m_devices.FindAudioDevices(m_key.c_str());
        return m_devices.GetAudioDeviceRegistryName();
    }

    std::string m_key;
    FakeMixers m_mixers;
    CAudioDevices m_devices{m_mixers};
};

TEST_F(AudioDeviceNameTest, ValueNamesTheDeviceToLookFor) {
    SetName("Phone Link USB");
    m_mixers.mixers = {FakeMixer{"Orvin Virtual Audio Device"}, FakeMixer{"PHONE LINK USB"}};
    EXPECT_EQ(m_devices.FindAudioDevices(m_key.c_str()), 1);
    EXPECT_EQ(m_devices.GetAudioDeviceRegistryName(), "Phone Link USB");
    EXPECT_EQ(m_devices.GetCaptureAudioDeviceId(), 1u);

    // Taken away again: the default, not the name read before.
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, m_key.c_str(), "AudioDeviceName"), ERROR_SUCCESS);
    EXPECT_EQ(m_devices.FindAudioDevices(m_key.c_str()), 1);
    EXPECT_EQ(m_devices.GetCaptureAudioDeviceId(), 0u);
}

TEST_F(AudioDeviceNameTest, MissingKeyMissingValueAndEmptyTextGiveTheDefault) {
    EXPECT_EQ(NameLookedFor(), kDefault);
    m_devices.FindAudioDevices(nullptr);
    EXPECT_EQ(m_devices.GetAudioDeviceRegistryName(), kDefault);
    SetName("Other");
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, m_key.c_str(), "AudioDeviceName"), ERROR_SUCCESS);
    EXPECT_EQ(NameLookedFor(), kDefault);
    SetName("");
    EXPECT_EQ(NameLookedFor(), kDefault);
}

TEST_F(AudioDeviceNameTest, ValuesThatAreNotTextKeepTheDefault) {
    const DWORD dwNumber = 0x41414141;
    SetValue(REG_DWORD, &dwNumber, sizeof dwNumber);
    EXPECT_EQ(NameLookedFor(), kDefault);
    SetValue(REG_BINARY, "Phone Link USB", 14);
    EXPECT_EQ(NameLookedFor(), kDefault);
    SetValue(REG_MULTI_SZ, "Phone\0Link\0", 12);
    EXPECT_EQ(NameLookedFor(), kDefault);
}

TEST_F(AudioDeviceNameTest, TextMayTakeAllOf260BytesAndNoMore) {
    const std::string longest(259, 'n');
    SetName(longest);
    EXPECT_EQ(NameLookedFor(), longest);
    SetName(std::string(260, 'n'));
    EXPECT_EQ(NameLookedFor(), kDefault);
    SetName(std::string(5000, 'n'));
    EXPECT_EQ(NameLookedFor(), kDefault);
}

TEST_F(AudioDeviceNameTest, TextStoredWithoutItsTerminatorEndsAtItsLastByte) {
    SetValue(REG_SZ, "Phone Link USB", 14);
    EXPECT_EQ(NameLookedFor(), "Phone Link USB");
    const std::string full(260, 'n');
    SetValue(REG_SZ, full.data(), 260);
    const std::string name = NameLookedFor();
    EXPECT_TRUE(name == full || name == kDefault) << name.size();
}

// The real winmm of this machine: without sound hardware (or a sound server Wine reaches)
// there is no mixer, and the search must still run and find nothing.
TEST(SystemMixersTest, SearchRunsOnTheSystemMixers) {
    CAudioDevices devices;
    const int nResult = devices.FindAudioDevices("Software\\OrvinAgentTest\\NoSuchAdapterKey");
    const UINT uCount = mixerGetNumDevs();
    ASSERT_EQ(devices.GetDeviceNames().size(), uCount);
    if (uCount == 0) {
        EXPECT_EQ(nResult, 0);
        EXPECT_EQ(devices.GetCaptureAudioDeviceId(), 0xFFFFu);
        EXPECT_EQ(devices.GetPlaybackAudioDeviceId(), 0xFFFFu);
        EXPECT_FALSE(devices.IsWaveIn(0));
        EXPECT_FALSE(devices.IsWaveOut(0));
        GTEST_SKIP() << "no audio mixer on this machine: the search ran over none";
    }
    for (UINT uId = 0; uId < uCount; ++uId) {
        MIXERCAPSA caps;
        memset(&caps, 0xCD, sizeof caps);
        if (mixerGetDevCapsA(uId, &caps, sizeof caps) == MMSYSERR_NOERROR) {
            EXPECT_EQ(devices.GetDeviceNames()[uId], std::string(caps.szPname, strnlen(caps.szPname, 31)));
        }
        HMIXER hMixer = nullptr;
        bool bIn = false, bOut = false;
        if (mixerOpen(&hMixer, uId, 0, 0, MIXER_OBJECTF_MIXER) == MMSYSERR_NOERROR) {
            MIXERLINEA line{};
            line.cbStruct = sizeof line;
            line.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
            bIn = mixerGetLineInfoA((HMIXEROBJ)hMixer, &line, MIXER_GETLINEINFOF_COMPONENTTYPE) ==
                  MMSYSERR_NOERROR;
            line = MIXERLINEA{};
            line.cbStruct = sizeof line;
            line.dwComponentType = MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
            bOut = mixerGetLineInfoA((HMIXEROBJ)hMixer, &line, MIXER_GETLINEINFOF_COMPONENTTYPE) ==
                   MMSYSERR_NOERROR;
            mixerClose(hMixer);
        }
        EXPECT_EQ(devices.IsWaveIn(uId), bIn) << uId;
        EXPECT_EQ(devices.IsWaveOut(uId), bOut) << uId;
    }
}

} // namespace
