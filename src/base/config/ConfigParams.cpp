#include "base/config/ConfigParams.h"

#include "base/config/Registry.h"
#include "base/trace/Trace.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

using orvin::RegKey;
using orvin::SubKey;

bool ParseSoftphoneVersion(const char* text, int32_t version[4], bool* extraParts) {
    if (extraParts) {
        *extraParts = false;
    }
    if (!text || !*text) {
        return false;
    }
    int32_t parsed[4] = {};
    const char* part = text;
    for (int i = 0;; ++i) {
        const char* end = strchr(part, '.');
        const size_t length = end ? (size_t)(end - part) : strlen(part);
        if (i >= 4) {
            if (extraParts) {
                *extraParts = true;
            }
            break;
        }
        if (length == 0 || length > 9 || strspn(part, "0123456789") < length) {
            return false;
        }
        parsed[i] = (int32_t)strtol(part, nullptr, 10);
        if (!end) {
            break;
        }
        part = end + 1;
    }
    memcpy(version, parsed, sizeof parsed);
    return true;
}

void LoadRegistryParameters(const std::string& root, CConfigParams* params, AgentRegistrySettings* settings) {
    if (!params || !settings) {
        return;
    }
    TRACE("LoadRegistryParameters()\n");
    RegKey key;
    // Every key for reading only: a user without administrator rights may read the
    // configuration under HKEY_LOCAL_MACHINE but open it for nothing more.
    LONG result = key.Open(HKEY_LOCAL_MACHINE, root.c_str(), KEY_READ);
    TRACE("Open ROOT %d\n", (int)result);
    if (result == ERROR_SUCCESS) {
        key.QueryString("ApplicationName", &settings->applicationName, 128);
    }

    result = key.Open(HKEY_LOCAL_MACHINE, SubKey(root, "Config\\General").c_str(), KEY_READ);
    TRACE("Open HKEY_VIP_CONFIG_GENERAL %d\n", (int)result);
    if (result == ERROR_SUCCESS) {
        char text[128];
        result = key.QueryString("SendKey", text, sizeof text);
        TRACE("Query HKEY_VIP_GONFIG_GENERAL_SEND_KEY %d\n", (int)result);
        if (result == ERROR_SUCCESS) {
            if (strcmp(text, "*") == 0) {
                params->m_cSendKey = '*';
            } else if (strcmp(text, "#") == 0) {
                params->m_cSendKey = '#';
            }
        }
        char version[128];
        result = key.QueryString("MinSoftphoneVersion", version, sizeof version);
        TRACE("Query HKEY_VIP_GONFIG_GENERAL_MIN_SOFTPHONE_VER %d\n", (int)result);
        if (result == ERROR_SUCCESS) {
            bool extra = false;
            if (!ParseSoftphoneVersion(version, params->m_nMinSoftphoneVersion, &extra)) {
                TRACE("MinSoftphoneVersion \"%s\" is not a version: %d.%d.%d.%d kept", version,
                      params->m_nMinSoftphoneVersion[0], params->m_nMinSoftphoneVersion[1],
                      params->m_nMinSoftphoneVersion[2], params->m_nMinSoftphoneVersion[3]);
            } else if (extra) {
                TRACE("MinSoftphoneVersion \"%s\": only the first four parts are used", version);
            }
        }
        SoftPhoneTypeRecord record;
        result = key.QueryBinary("SoftPhoneType", record.bytes, sizeof record.bytes);
        TRACE("Query HKEY_VIP_GONFIG_GENERAL_SOFTPHONE %d\n", (int)result);
        if (result == ERROR_SUCCESS) {
            settings->softPhoneType = record;
        }
    }

    result = key.Open(HKEY_LOCAL_MACHINE, SubKey(root, "Config\\UI").c_str(), KEY_READ);
    TRACE("Open HKEY_VIP_UI_ENABLE_KEY %d\n", (int)result);
    if (result == ERROR_SUCCESS) {
        DWORD value = 0;
        result = key.QueryDword("Enable", &value);
        params->m_nUiEnable = result == ERROR_SUCCESS ? (int32_t)value : 0;
        TRACE("Query HKEY_VIP_UI_ENABLE_VALUE %d, UiEnable = %d\n", (int)result, params->m_nUiEnable);
        value = 0;
        result = key.QueryDword("SFWindowContol", &value);
        params->m_nSoftphoneWindowControl = result == ERROR_SUCCESS ? (int32_t)value : 0;
        TRACE("Query HKEY_VIP_UI_SOFTPHONE_CONTROL %d\n", (int)result);
    }

    result = key.Open(HKEY_LOCAL_MACHINE, SubKey(root, "Config\\IVR\\Pstn").c_str(), KEY_READ);
    TRACE("Open HKEY_VIP_CONFIG_CALL_FORWARD_PSTN %d\n", (int)result);
    if (result == ERROR_SUCCESS) {
        DWORD mode = 0;
        if (key.QueryDword("Mode", &mode) == ERROR_SUCCESS) {
            params->m_nPstnIvrModeWorking = params->m_nPstnIvrMode = mode != 0;
            TRACE("COrvinAgentApp::LoadRegistryParameters - PSTN IVR MODE = %d", (int)mode);
        }
    }
    result = key.Open(HKEY_LOCAL_MACHINE, SubKey(root, "Config\\IVR\\Voip").c_str(), KEY_READ);
    TRACE("Open HKEY_VIP_CONFIG_CALL_FORWARD_VOIP %d\n", (int)result);
    if (result == ERROR_SUCCESS) {
        DWORD mode = 0;
        if (key.QueryDword("Mode", &mode) == ERROR_SUCCESS) {
            params->m_nVoipIvrModeWorking = params->m_nVoipIvrMode = mode != 0;
            TRACE("COrvinAgentApp::LoadRegistryParameters - VOIP IVR MODE = %d", (int)mode);
        }
    }
    result = key.Open(HKEY_LOCAL_MACHINE, SubKey(root, "Config\\IVR").c_str(), KEY_READ);
    TRACE("Open HKEY_VIP_CONFIG_CALL_FORWARD %d\n", (int)result);
    if (result == ERROR_SUCCESS) {
        DWORD value = 0;
        if (key.QueryDword("DisableStandbyOnCFWActive", &value) == ERROR_SUCCESS) {
            params->m_nStandbyDeniedOnCFW = (int32_t)value;
        }
        if (key.QueryDword("VoiceMessageWaiting", &value) == ERROR_SUCCESS) {
            params->m_nVoiceMessageWaiting = (int32_t)value;
        }
    }
}
