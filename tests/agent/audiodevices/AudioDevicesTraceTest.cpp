// What the search writes to the trace, read back from the trace file (DebugType 3 under
// HKLM\Software\Velcora\Quendo). Lines above level 0 ("Compare", "iFoundIndex") never show.
#include "base/trace/Trace.h"
#include "FakeMixers.h"
#include "softphone/AudioDevices.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kTraceKey = "Software\\Velcora\\Quendo";
const char* const kAdapterKey = "Software\\OrvinAgentTest\\TracedAdapter";

class AudioDevicesTraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        orvin::TraceStop();
        char dir[MAX_PATH];
        GetTempPathA(sizeof dir, dir);
        m_file = std::string(dir) + "orvin-audiodevices-trace.log";
        const DWORD dwFile = 3;
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugType", REG_DWORD, &dwFile, sizeof dwFile);
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, kTraceKey, "DebugFile", REG_SZ, m_file.c_str(),
                        (DWORD)m_file.size() + 1);
        orvin::TraceStart();
    }
    void TearDown() override {
        orvin::TraceStop();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTraceKey);
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAdapterKey);
        DeleteFileA(m_file.c_str());
    }
    // The messages after the start line, each without its tag and the file's line end.
    std::vector<std::string> Lines() {
        std::ifstream in(m_file, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<std::string> lines;
        const std::string all = text.str(), tag = "{OrvinAgent} ";
        for (size_t pos = 0, end; (end = all.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
            std::string line = all.substr(pos, end - pos);
            lines.push_back(line.rfind(tag, 0) == 0 ? line.substr(tag.size()) : "untagged: " + line);
        }
        if (!lines.empty())
            lines.erase(lines.begin());
        return lines;
    }
    std::string m_file;
};

TEST_F(AudioDevicesTraceTest, SearchWithACutNameAndTheFallback) {
    FakeMixers mixers({FakeMixer{"Mixer (Orvin Virtual Audio Devi", false, true}, FakeMixer{"BTAUDIO"}});
    CAudioDevices devices(mixers);
    EXPECT_EQ(devices.FindAudioDevices(kAdapterKey), 1);
    EXPECT_TRUE(devices.AreAudioDevicesFound());
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "CAudioDevices::FindAudioDevices()\n\n",
                           "m_AudioDeviceRegistryName Orvin Virtual Audio Device\n",
                           "Comparing Mixer (Orvin Virtual Audio Devi with Orvin Virtual Audio Device\n",
                           "IsWaveOut() for device 0 returned 1\n",
                           "Found wave out device Mixer (Orvin Virtual Audio Devi\n",
                           "IsWaveIn() for device id 0\n",
                           "IsWaveIn() returned 0\n",
                           "Comparing BTAUDIO with Orvin Virtual Audio Device\n",
                           "Device ID #0: Mixer (Orvin Virtual Audio Devi\n\n",
                           "Device ID #1: BTAUDIO\n\n",
                           "m_uPlaybackAudioDeviceId - 1, m_uCaptureAudioDeviceId - 1\n",
                       }));
}

TEST_F(AudioDevicesTraceTest, NothingFoundAndAValueOfTheWrongType) {
    const DWORD dwNumber = 7;
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kAdapterKey, "AudioDeviceName", REG_DWORD, &dwNumber,
                    sizeof dwNumber);
    FakeMixers mixers({FakeMixer{"Speakers"}});
    CAudioDevices devices(mixers);
    EXPECT_EQ(devices.FindAudioDevices(kAdapterKey), 0);
    EXPECT_FALSE(devices.AreAudioDevicesFound());
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_NE(lines[0].find("AudioDeviceName"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("Orvin Virtual Audio Device"), std::string::npos) << lines[0];
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()),
              (std::vector<std::string>{
                  "CAudioDevices::FindAudioDevices()\n\n",
                  "m_AudioDeviceRegistryName Orvin Virtual Audio Device\n",
                  "Comparing Speakers with Orvin Virtual Audio Device\n",
                  "Device ID #0: Speakers\n\n",
                  "Audio device is not found !!! We can be after wakeup.\n",
                  "m_uPlaybackAudioDeviceId - 65535, m_uCaptureAudioDeviceId - 65535\n",
              }));
}

} // namespace
