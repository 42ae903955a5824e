// The agent's configuration block, read from the registry below the adapter's software key
// (the registry root), with the softphone selection record (SoftPhoneTypeRecord.h).
//
// CConfigParams is owned by the application; the API client (`pConfigParams`) and the
// main dialog read it. LoadRegistryParameters fills it: a value that is missing, of the
// wrong type or of the wrong size leaves its field as it was, and every open and query
// traces its result code.
//
// Threads: written on the GUI thread only (start-up and "registry changed"); the other
// threads read single 32-bit fields.
#pragma once

#include "base/config/SoftPhoneTypeRecord.h"

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
