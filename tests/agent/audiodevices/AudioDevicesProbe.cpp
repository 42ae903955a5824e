// Runs the device search on the system's mixers and prints what it saw, for the system
// test on PulseAudio's virtual devices:
//   audio_devices_probe.exe [ADAPTER_KEY]
// prints one line per mixer, "MIXER id in out name" (in, out: 1 when it has a wave-in
// destination line, a wave-out source line), then
// "FOUND result", "CAPTURE id name", "PLAYBACK id name" (name "-" for none) and "NUMBERED flag".
#include "softphone/AudioDevices.h"

#include <cstdio>
#include <optional>
#include <string>

int main(int argc, char** argv) {
    CAudioDevices devices;
    const int nResult =
        devices.FindAudioDevices(argc > 1 ? argv[1] : "Software\\OrvinAgentTest\\NoSuchAdapterKey");
    const std::vector<std::string> names = devices.GetDeviceNames();
    for (UINT uId = 0; uId < names.size(); ++uId) {
        printf("MIXER %u %d %d %s\n", uId, devices.IsWaveIn(uId) ? 1 : 0, devices.IsWaveOut(uId) ? 1 : 0,
               names[uId].c_str());
    }
    const AudioDeviceSelection s = devices.GetSelection();
    printf("FOUND %d\n", nResult);
    printf("CAPTURE %u %s\n", s.uCaptureAudioDeviceId, s.captureName.value_or("-").c_str());
    printf("PLAYBACK %u %s\n", s.uPlaybackAudioDeviceId, s.playbackName.value_or("-").c_str());
    printf("NUMBERED %d\n", s.bNumberedVariants ? 1 : 0);
    return 0;
}
