// The agent's configuration block and the softphone selection record, both read from the
// registry below the adapter's software key (the registry root).
//
// CConfigParams is owned by the application; the API client (`pConfigParams`) and the
// main dialog read it. LoadRegistryParameters fills it: a value that is missing, of the
// wrong type or of the wrong size leaves its field as it was, and every open and query
// traces its result code.
//
// Threads: written on the GUI thread only (start-up and "registry changed"); the other
// threads read single 32-bit fields.
#pragma once

#include <cstdint>
#include <string>

class CConfigParams {
public:
    CConfigParams() = default;

    bool IsPCStandbyOnCFWActiveDisabled() const { return m_nStandbyDeniedOnCFW != 0; }
    // Any IVR mode on means call forwarding is active.
    bool IsCallForwardingActive() const {
        return m_nVoipIvrModeWorking || m_nPstnIvrModeWorking || m_nVoipIvrMode || m_nPstnIvrMode;
    }

    int32_t m_nSoftphoneWindowControl = 0; // Config\UI SFWindowContol
    int32_t m_nUiEnable = 0;               // Config\UI Enable
    int32_t m_nStandbyDeniedOnCFW = 1;     // Config\IVR DisableStandbyOnCFWActive
    int32_t m_nVoipIvrModeWorking = 0;     // Config\IVR\Voip Mode
    int32_t m_nPstnIvrModeWorking = 0;     // Config\IVR\Pstn Mode
    int32_t m_nVoipIvrMode = 0;
    int32_t m_nPstnIvrMode = 0;
    char m_cSendKey = '*';                       // Config\General SendKey
    int32_t m_nMinSoftphoneVersion[4] = {};      // Config\General MinSoftphoneVersion
    volatile int32_t m_nVoiceMessageWaiting = 0; // Config\IVR VoiceMessageWaiting, and the service
};

// The registry value SoftPhoneType: a selection word (bit pair k = bits 31-2k and 30-2k
// for softphone k = 0..10; high bit selected, low bit available), a CRC-8 check byte over
// the word, and three zero bytes.
struct SoftPhoneTypeRecord {
    uint8_t bytes[8] = {};

    static constexpr int kNone = 11;
    // Dallas/Maxim 1-Wire CRC-8: reflected polynomial 0x8C, initial 0xFF, no final XOR.
    static uint8_t Crc8(const uint8_t* data, size_t length);
    // The CRC-8 over all eight bytes is 0.
    bool IsValid() const;
    // The first k whose pair has both bits set, 11 when none (or when the record is invalid).
    int SelectedIndex() const;
    uint32_t SelectionWord() const;
    // A record that selects `index` from `word`: the other selections cleared, the check
    // byte recomputed. For installers and tests; the agent only reads the record.
    static SoftPhoneTypeRecord Make(uint32_t word, int index);
};

// What LoadRegistryParameters reads besides the configuration block.
struct AgentRegistrySettings {
    std::string applicationName;
    SoftPhoneTypeRecord softPhoneType;
};

// Reads every value of the agent's configuration below `root` (under HKEY_LOCAL_MACHINE).
void LoadRegistryParameters(const std::string& root, CConfigParams* params, AgentRegistrySettings* settings);

// "a.b.c.d": at most four decimal parts (fewer leave the rest 0). False, and `version`
// untouched, for anything else but extra parts, which are ignored (`extraParts` says so).
bool ParseSoftphoneVersion(const char* text, int32_t version[4], bool* extraParts);
