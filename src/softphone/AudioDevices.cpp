#include "softphone/AudioDevices.h"

#include "base/trace/Trace.h"

#include <cstring>

namespace {

const char* const kDefaultAudioDeviceName = "Orvin Virtual Audio Device";
const char* const kFallbackAudioDeviceName = "BTAUDIO";
const char* const kAudioDeviceNameValue = "AudioDeviceName";

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

CAudioDevices::CAudioDevices() : CAudioDevices(SystemMixerApi()) {}

CAudioDevices::CAudioDevices(IMixerApi& mixers)
    : m_Mixers(mixers), m_AudioDeviceRegistryName(kDefaultAudioDeviceName) {}

int CAudioDevices::FindAudioDevices(const char* registryKey) {
    std::lock_guard<std::mutex> search(m_SearchLock);
    uint64_t uResetsBefore;
    {
        std::lock_guard<std::mutex> state(m_StateLock);
        uResetsBefore = m_uResetCount;
    }
    const std::string deviceName = ReadAudioDeviceName(registryKey);
    {
        std::lock_guard<std::mutex> state(m_StateLock);
        m_AudioDeviceRegistryName = deviceName;
    }

    SearchResult result = Search(deviceName);
    const bool bFound =
        result.uCaptureAudioDeviceId != kNoAudioDevice && result.uPlaybackAudioDeviceId != kNoAudioDevice;
    {
        std::lock_guard<std::mutex> state(m_StateLock);
        if (m_uResetCount != uResetsBefore) {
            // The adapter went away while we looked: what we saw may be gone with it.
            TRACE("CAudioDevices: devices reset during the search, its result is dropped");
            return 0;
        }
        m_DeviceNames = std::move(result.deviceNames);
        m_uCaptureAudioDeviceId = result.uCaptureAudioDeviceId;
        m_uPlaybackAudioDeviceId = result.uPlaybackAudioDeviceId;
        m_bNumberedVariants = result.bNumberedVariants;
    }
    return bFound ? 1 : 0;
}

std::string CAudioDevices::ReadAudioDeviceName(const char* registryKey) {
    if (registryKey == nullptr) {
        return kDefaultAudioDeviceName;
    }
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, registryKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) {
        return kDefaultAudioDeviceName;
    }
    // One byte beyond what we offer, always zero: a string stored without its terminator
    // still ends inside the buffer.
    char buffer[kRegistryNameBufferSize + 1] = {};
    DWORD dwSize = kRegistryNameBufferSize;
    DWORD dwType = REG_NONE;
    const LONG lResult = RegQueryValueExA(hKey, kAudioDeviceNameValue, nullptr, &dwType,
                                          reinterpret_cast<BYTE*>(buffer), &dwSize);
    RegCloseKey(hKey);

    if (lResult == ERROR_FILE_NOT_FOUND) {
        return kDefaultAudioDeviceName;
    }
    if (lResult == ERROR_MORE_DATA) {
        TRACE("CAudioDevices: %s is longer than %lu bytes, looking for %s", kAudioDeviceNameValue,
              kRegistryNameBufferSize, kDefaultAudioDeviceName);
        return kDefaultAudioDeviceName;
    }
    if (lResult != ERROR_SUCCESS) {
        TRACE("CAudioDevices: %s cannot be read (error %ld), looking for %s", kAudioDeviceNameValue, lResult,
              kDefaultAudioDeviceName);
        return kDefaultAudioDeviceName;
    }
    if (dwType != REG_SZ && dwType != REG_EXPAND_SZ) {
        TRACE("CAudioDevices: %s is of type %lu, not a string, looking for %s", kAudioDeviceNameValue, dwType,
              kDefaultAudioDeviceName);
        return kDefaultAudioDeviceName;
    }
    if (buffer[0] == '\0') {
        return kDefaultAudioDeviceName;
    }
    return buffer;
}

CAudioDevices::SearchResult CAudioDevices::Search(const std::string& deviceName) {
    // Every search starts from nothing: ids kept from an earlier search could name a mixer
    // that has gone since, or another one that took its id.
    SearchResult result;
    TRACE("CAudioDevices::FindAudioDevices()\n");
    result.bNumberedVariants = true;
    TRACE("m_AudioDeviceRegistryName %s", deviceName.c_str());

    UINT uCount = m_Mixers.GetNumDevs();
    if (uCount > kNoAudioDevice) {
        // 0xFFFF itself means "no device"; no system has that many mixers.
        TRACE("CAudioDevices: %u mixers reported, only the first %u are searched", uCount, kNoAudioDevice);
        uCount = kNoAudioDevice;
    }
    // One slot per id, so that a mixer that cannot be read leaves the others at their ids.
    result.deviceNames.resize(uCount);

    for (UINT uId = 0; uId < uCount; ++uId) {
        MIXERCAPSA caps;
        memset(&caps, 0, sizeof caps);
        if (m_Mixers.GetDevCaps(uId, &caps) != MMSYSERR_NOERROR) {
            continue;
        }
        MixerSlot& slot = result.deviceNames[uId];
        slot.bReadable = true;
        slot.name.assign(caps.szPname, strnlen(caps.szPname, kMaxDeviceNameLength));
        const std::string& mixerName = slot.name;

        TRACE("Comparing %s with %s", mixerName.c_str(), deviceName.c_str());
        if (mixerName.empty() || deviceName.empty()) {
            continue;
        }
        if (EqualsIgnoringCase(mixerName, deviceName)) {
            result.uCaptureAudioDeviceId = uId;
            result.uPlaybackAudioDeviceId = uId;
            continue;
        }
        // A product name cut at 31 characters, such as "Mixer (Orvin Virtual Audio Devi":
        // what follows its "(" is a piece of the full device name.
        const size_t uParenthesis = mixerName.find('(');
        if (uParenthesis == std::string::npos) {
            continue;
        }
        const std::string tail = mixerName.substr(uParenthesis + 1);
        // A name that ends at its "(" carries no piece of any name, and would match them all.
        if (tail.empty()) {
            continue;
        }
        const size_t uFoundIndex = deviceName.find(tail);
        if (uFoundIndex == std::string::npos) {
            continue;
        }
        TRACE_LEVEL(3, "Compare %s", tail.c_str());
        TRACE_LEVEL(3, "iFoundIndex = %d", static_cast<int>(uFoundIndex));
        if (IsWaveOut(uId)) {
            result.uPlaybackAudioDeviceId = uId;
            TRACE("Found wave out device %s", mixerName.c_str());
        }
        if (IsWaveIn(uId)) {
            result.uCaptureAudioDeviceId = uId;
            TRACE("Found wave in device %s", mixerName.c_str());
        }
    }

    if (result.uCaptureAudioDeviceId == kNoAudioDevice || result.uPlaybackAudioDeviceId == kNoAudioDevice) {
        // The names this pass read, so that the id chosen is the id of the name seen.
        for (UINT uId = 0; uId < uCount; ++uId) {
            const MixerSlot& slot = result.deviceNames[uId];
            if (!slot.bReadable) {
                continue;
            }
            TRACE("Device ID #%u: %s\n", uId, slot.name.c_str());
            if (slot.name == kFallbackAudioDeviceName) {
                result.uCaptureAudioDeviceId = uId;
                result.uPlaybackAudioDeviceId = uId;
                result.bNumberedVariants = false;
            }
        }
    }

    if (result.uCaptureAudioDeviceId == kNoAudioDevice || result.uPlaybackAudioDeviceId == kNoAudioDevice) {
        TRACE("Audio device is not found !!! We can be after wakeup.");
    }
    return result;
}

bool CAudioDevices::HasLine(UINT uMixerId, DWORD dwComponentType) {
    HMIXER hMixer = nullptr;
    if (m_Mixers.Open(uMixerId, &hMixer) != MMSYSERR_NOERROR) {
        return false;
    }
    MIXERLINEA line;
    memset(&line, 0, sizeof line);
    line.cbStruct = sizeof line;
    line.dwComponentType = dwComponentType;
    const bool bHasLine =
        m_Mixers.GetLineInfo(hMixer, &line, MIXER_GETLINEINFOF_COMPONENTTYPE) == MMSYSERR_NOERROR;
    m_Mixers.Close(hMixer);
    return bHasLine;
}

bool CAudioDevices::IsWaveIn(UINT uMixerId) {
    TRACE("IsWaveIn() for device id %d", static_cast<int>(uMixerId));
    const bool bWaveIn = HasLine(uMixerId, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    TRACE("IsWaveIn() returned %d", bWaveIn ? 1 : 0);
    return bWaveIn;
}

bool CAudioDevices::IsWaveOut(UINT uMixerId) {
    const bool bWaveOut = HasLine(uMixerId, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT);
    TRACE("IsWaveOut() for device %d returned %d", static_cast<int>(uMixerId), bWaveOut ? 1 : 0);
    return bWaveOut;
}

bool CAudioDevices::AreAudioDevicesFound() const {
    UINT uCapture, uPlayback;
    {
        std::lock_guard<std::mutex> state(m_StateLock);
        uCapture = m_uCaptureAudioDeviceId;
        uPlayback = m_uPlaybackAudioDeviceId;
    }
    TRACE("m_uPlaybackAudioDeviceId - %d, m_uCaptureAudioDeviceId - %d", static_cast<int>(uPlayback),
          static_cast<int>(uCapture));
    return uCapture != kNoAudioDevice && uPlayback != kNoAudioDevice;
}

std::optional<std::string> CAudioDevices::NameAtLocked(UINT uMixerId) const {
    if (uMixerId == kNoAudioDevice || uMixerId >= m_DeviceNames.size() ||
        !m_DeviceNames[uMixerId].bReadable) {
        return std::nullopt;
    }
    return m_DeviceNames[uMixerId].name;
}

std::optional<std::string> CAudioDevices::GetCaptureAudioDeviceName() const {
    std::lock_guard<std::mutex> state(m_StateLock);
    return NameAtLocked(m_uCaptureAudioDeviceId);
}

std::optional<std::string> CAudioDevices::GetPlaybackAudioDeviceName() const {
    std::lock_guard<std::mutex> state(m_StateLock);
    return NameAtLocked(m_uPlaybackAudioDeviceId);
}

UINT CAudioDevices::GetCaptureAudioDeviceId() const {
    std::lock_guard<std::mutex> state(m_StateLock);
    return m_uCaptureAudioDeviceId;
}

UINT CAudioDevices::GetPlaybackAudioDeviceId() const {
    std::lock_guard<std::mutex> state(m_StateLock);
    return m_uPlaybackAudioDeviceId;
}

bool CAudioDevices::UsesNumberedVariants() const {
    std::lock_guard<std::mutex> state(m_StateLock);
    return m_bNumberedVariants;
}

AudioDeviceSelection CAudioDevices::GetSelection() const {
    std::lock_guard<std::mutex> state(m_StateLock);
    return AudioDeviceSelection{m_uCaptureAudioDeviceId, m_uPlaybackAudioDeviceId,
                                NameAtLocked(m_uCaptureAudioDeviceId), NameAtLocked(m_uPlaybackAudioDeviceId),
                                m_bNumberedVariants};
}

std::string CAudioDevices::GetAudioDeviceRegistryName() const {
    std::lock_guard<std::mutex> state(m_StateLock);
    return m_AudioDeviceRegistryName;
}

std::vector<std::string> CAudioDevices::GetDeviceNames() const {
    std::lock_guard<std::mutex> state(m_StateLock);
    std::vector<std::string> names;
    names.reserve(m_DeviceNames.size());
    for (const MixerSlot& slot : m_DeviceNames) {
        names.push_back(slot.name);
    }
    return names;
}

void CAudioDevices::Reset() {
    std::lock_guard<std::mutex> state(m_StateLock);
    ++m_uResetCount;
    m_DeviceNames.clear();
    m_uCaptureAudioDeviceId = kNoAudioDevice;
    m_uPlaybackAudioDeviceId = kNoAudioDevice;
    m_bNumberedVariants = true;
}
