// CAudioDevices: finds the adapter's sound device among the system's audio mixers, so that
// the softphone can be told to capture from it and play to it.
//
// The device's name comes from the string value "AudioDeviceName" under the adapter's
// registry key (HKEY_LOCAL_MACHINE), "Orvin Virtual Audio Device" when the value is
// missing, empty, not a string or longer than the 260-byte buffer it is read into. A mixer
// whose product name equals that name in any case is taken for both capture and playback.
// Windows cuts product names to 31 characters, so a mixer such as
// "Mixer (Orvin Virtual Audio Devi" also counts when the text after its first "(" occurs in
// the device name; it is then taken for playback if it has a wave-out source line and for
// capture if it has a wave-in destination line. The last mixer that matches wins. When
// either device is still missing, a mixer named exactly "BTAUDIO" is taken for both, and
// the numbered-variants flag is cleared: the softphones then get fewer of the " (n)" name
// variants Windows gives to a second device of the same name. A mixer id is used as the
// wave device id; 0xFFFF means no device.
//
// Threads: the API client searches from its GUI thread and, while the device is missing
// (for instance just after the computer wakes up), from its retry thread; it reads the
// results and resets them from the GUI thread. Searches run one at a time (m_SearchLock);
// a search reads the mixers into a result of its own and publishes it whole under
// m_StateLock, which guards every field below, so a reader never sees half a search.
// Readers get copies. A Reset made while a search runs wins: that search's result is
// dropped. No lock is held across a call outside this class except the mixer calls.
#pragma once

#include "softphone/MixerApi.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// One consistent view of the last search.
struct AudioDeviceSelection {
    UINT uCaptureAudioDeviceId;
    UINT uPlaybackAudioDeviceId;
    std::optional<std::string> captureName;  // none when uCaptureAudioDeviceId is 0xFFFF
    std::optional<std::string> playbackName; // none when uPlaybackAudioDeviceId is 0xFFFF
    bool bNumberedVariants;
};

class CAudioDevices {
public:
    static constexpr UINT kNoAudioDevice = 0xFFFF;
    static constexpr size_t kMaxDeviceNameLength = 31; // a product name, as Windows cuts it
    static constexpr DWORD kRegistryNameBufferSize = 260;

    // On the system's mixers.
    CAudioDevices();
    // On the given mixers, which must outlive this object.
    explicit CAudioDevices(IMixerApi& mixers);
    CAudioDevices(const CAudioDevices&) = delete;
    CAudioDevices& operator=(const CAudioDevices&) = delete;

    // Reads the device name below HKEY_LOCAL_MACHINE\registryKey, then searches the mixers.
    // 1 when both the capture and the playback device are identified, 0 otherwise. A null
    // key is a missing key.
    int FindAudioDevices(const char* registryKey);

    // Whether the mixer has a wave-in destination line / a wave-out source line.
    bool IsWaveIn(UINT uMixerId);
    bool IsWaveOut(UINT uMixerId);

    // Traces both ids; true when neither is 0xFFFF.
    bool AreAudioDevicesFound() const;

    std::optional<std::string> GetCaptureAudioDeviceName() const;
    std::optional<std::string> GetPlaybackAudioDeviceName() const;
    UINT GetCaptureAudioDeviceId() const;
    UINT GetPlaybackAudioDeviceId() const;
    // Set when the last search found the device by its name, clear when by "BTAUDIO".
    bool UsesNumberedVariants() const;
    AudioDeviceSelection GetSelection() const;

    std::string GetAudioDeviceRegistryName() const;
    // The product names the last search read, one per mixer id (empty for a mixer whose
    // capabilities could not be read).
    std::vector<std::string> GetDeviceNames() const;

    // Forgets the devices (the adapter went away); the configured name stays.
    void Reset();

private:
    struct MixerSlot {
        std::string name;
        bool bReadable = false;
    };
    struct SearchResult {
        std::vector<MixerSlot> deviceNames;
        UINT uCaptureAudioDeviceId = kNoAudioDevice;
        UINT uPlaybackAudioDeviceId = kNoAudioDevice;
        bool bNumberedVariants = true;
    };

    static std::string ReadAudioDeviceName(const char* registryKey);
    SearchResult Search(const std::string& deviceName);
    bool HasLine(UINT uMixerId, DWORD dwComponentType);
    std::optional<std::string> NameAtLocked(UINT uMixerId) const;

    IMixerApi& m_Mixers;
    std::mutex m_SearchLock;
    mutable std::mutex m_StateLock;
    uint64_t m_uResetCount = 0;

    // Guarded by m_StateLock.
    std::string m_AudioDeviceRegistryName;
    std::vector<MixerSlot> m_DeviceNames;
    UINT m_uCaptureAudioDeviceId = kNoAudioDevice;
    UINT m_uPlaybackAudioDeviceId = kNoAudioDevice;
    bool m_bNumberedVariants = true;
};
