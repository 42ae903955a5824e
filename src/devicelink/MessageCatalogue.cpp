#include "devicelink/MessageCatalogue.h"

#include <cstdio>
#include <cstring>

namespace {

struct CodeRow {
    int32_t value;
    const char* name;
};

struct TypeRow {
    int32_t value;
    const char* name;
    const CodeRow* codes; // null: the type has no code table
};

#define ROW(x)                                                                                               \
    { x, #x }
#define END                                                                                                  \
    { 0, nullptr }

const CodeRow kCallStatusCodes[] = {
    ROW(CALL_STATUS_UNKNOWN),    ROW(CALL_STATUS_UNPLACED),
    ROW(CALL_STATUS_ROUTING),    ROW(CALL_STATUS_FAILED),
    ROW(CALL_STATUS_RINGING),    ROW(CALL_STATUS_INPROGRESS),
    ROW(CALL_STATUS_ONHOLD),     ROW(CALL_STATUS_LOCALHOLD),
    ROW(CALL_STATUS_REMOTEHOLD), ROW(CALL_STATUS_FINISHED),
    ROW(CALL_STATUS_MISSED),     ROW(CALL_STATUS_REFUSED),
    ROW(CALL_STATUS_BUSY),       ROW(CALL_STATUS_CANCELLED),
    ROW(CALL_STATUS_OFFHOLD),    END,
};

const CodeRow kHwEventCodes[] = {
    ROW(NOTIFY_HOOK_STATE),
    ROW(NOTIFY_DTMF_KEY),
    ROW(NOTIFY_PSTN_RING),
    ROW(NOTIFY_PSTN_INUSE),
    ROW(NOTIFY_PSTN_NOLINE),
    ROW(NOTIFY_VOIP_STATE),
    ROW(NOTIFY_JACK_SWAP),
    ROW(NOTIFY_OPEN_DEVICE),
    ROW(NOTIFY_CLOSE_DEVICE),
    ROW(SM_INITIALIZED),
    ROW(NOTIFY_DUMMY_BIT),
    ROW(PRODUCTION_TEST_DC_DECREASE_REPORT),
    ROW(PRODUCTION_TEST_HYBRID_REPORT),
    ROW(NOTIFY_KEYPAD_EVENT),
    ROW(NOTIFY_PHONE_DTMF_KEY),
    ROW(NOTIFY_AUX_BUTTON_EVENT),
    ROW(NOTIFY_HW_CARD_PROPERTIES),
    ROW(NOTIFY_CARD_CAPABILITIES),
    END,
};

const CodeRow kErrorCodes[] = {ROW(ERROR_UNKNOWN_USER), END};

const CodeRow kAgentEventCodes[] = {ROW(NotifyAgentStatus), ROW(OOBDtmf), ROW(PlaybackSignalRequest), END};

const CodeRow kPtCodes[] = {
    ROW(PT_SEND_PSTN_START_RING),
    ROW(PT_SEND_PSTN_STOP_RING),
    ROW(PT_SEND_GET_RING_STATE),
    ROW(PT_SEND_SET_VOIP_STATE),
    ROW(PT_SEND_SET_PSTN_STATE),
    ROW(PT_SEND_SET_JACK_SWAP_ON),
    ROW(PT_SEND_SET_JACK_SWAP_OFF),
    ROW(PT_SEND_SET_DUMMY_DC_LOAD_ON),
    ROW(PT_SEND_SET_DUMMY_DC_LOAD_OFF),
    ROW(PT_SEND_SET_CID_TRANSMISSION_MODE_ON),
    ROW(PT_SEND_SET_CID_TRANSMISSION_MODE_OFF),
    ROW(PT_SEND_IS_PSTN_LINE_PRESENT),
    ROW(PT_SEND_STOP_STATE_MACHINE),
    ROW(PT_SEND_START_STATE_MACHINE),
    ROW(PT_SEND_RETURN_DEFAULT_STATE),
    ROW(PT_SEND_GET_HW_TYPE),
    ROW(PT_SEND_GET_HW_CAPABILITIES),
    ROW(PT_SEND_SET_PSTN_FULL_SAMPLING_STATE),
    ROW(PT_INIT_MEMORY_SPACE),
    END,
};

const CodeRow kIvrCodes[] = {
    ROW(IVR_START),
    ROW(IVR_TERMINATE),
    ROW(IVR_PLAY_SOUND),
    ROW(IVR_STOP_SOUND),
    ROW(IVR_STORE_REMINDER_PATH),
    ROW(IVR_CM_CONNECT_TO),
    ROW(IVR_TERMINATE_REQUEST),
    ROW(IVR_CM_GOTO_VOICE_MAIL),
    ROW(IVR_SET_TIMEOUT_FOR_LEAVE_MESSAGE_MODE),
    ROW(IVR_MESSAGE_RECORDING_BEGAN),
    ROW(IVR_MESSAGE_RECORDED),
    END,
};

const TypeRow kTypes[] = {
    {MSG_TYPE_CALL_EVENT, "MSG_TYPE_CALL_EVENT", kCallStatusCodes},
    {MSG_TYPE_HW_EVENT, "MSG_TYPE_HW_EVENT", kHwEventCodes},
    {MSG_TYPE_ERROR, "MSG_TYPE_ERROR", kErrorCodes},
    {MSG_TYPE_AGENT_EVENT, "MSG_TYPE_AGENT_EVENT", kAgentEventCodes},
    {MSG_TYPE_MONITOR_EVENT, "MSG_TYPE_MONITOR_EVENT", nullptr},
    {MSG_TYPE_DEBUG_EVENT, "MSG_TYPE_DEBUG_EVENT", nullptr},
    {MSG_TYPE_PT_EVENT, "MSG_TYPE_PT_EVENT", kPtCodes},
    {MSG_TYPE_IVR_EVENT, "MSG_TYPE_IVR_EVENT", kIvrCodes},
    {MSG_TYPE_SM2AGENT_REQUEST, "MSG_TYPE_SM2AGENT_REQUEST", nullptr},
    {MSG_TYPE_REMINDER_EVENT, "MSG_TYPE_REMINDER_EVENT", nullptr},
    {MSG_TYPE_API_SM, "MSG_TYPE_API_SM", nullptr},
    {MSG_TYPE_API_HW, "MSG_TYPE_API_HW", nullptr},
    {0, nullptr, nullptr},
};

const char* const kHookStateNames[] = {"HS_OffHook", "HS_OnHook", "HS_Irrelevant", "HS_Unknown_Hook_State"};
const char* const kLineStateNames[] = {
    "LS_Error",          "LS_PstnLinePresent",         "LS_PstnLineNotPresent",
    "LS_PstnLineActive", "LS_PstnParallelPhoneActive", "LS_Unknown_State"};
const char* const kCallStateNames[] = {
    "CS_Idle",           "CS_Dialtone",          "CS_IncomingCall", "CS_OutgoingCall",
    "CS_ActiveCall",     "CS_CallTermination",   "CS_CallOnHold",   "CS_CallWaiting",
    "CS_ConferenceCall", "CS_Unknown_Call_State"};
const char* const kPhoneConnectionNames[] = {"PC_VOIP", "PC_PSTN", "PC_VOICEMAIL", "PC_PSTN_FULL_SAMPLING"};
const char* const kConnectionStatusNames[] = {"Connection Status Unknown"};
const char* const kAgentStatusNames[] = {"AgentAlive", "AgentConnectedToVoip", "AgentDisconnectedFromVoip"};

template <size_t N> const char* NameAt(const char* const (&names)[N], int32_t value) {
    return value >= 0 && (size_t)value < N ? names[value] : nullptr;
}

// Linear search in catalogue order; the first row with the value wins.
const TypeRow* FindType(int32_t type) {
    for (const TypeRow* row = kTypes; row->name; ++row) {
        if (row->value == type) {
            return row;
        }
    }
    return nullptr;
}

const CodeRow* FindCode(const CodeRow* codes, int32_t code) {
    for (const CodeRow* row = codes; row && row->name; ++row) {
        if (row->value == code) {
            return row;
        }
    }
    return nullptr;
}

} // namespace

const char* GetEventName(int32_t type, int32_t code, char* buffer, size_t size) {
    if (!buffer || !size) {
        return buffer;
    }
    const TypeRow* typeRow = FindType(type);
    if (!typeRow) {
        snprintf(buffer, size, "UNKNOWN_EVENT (%d, %d)", type, code);
        return buffer;
    }
    const CodeRow* codeRow = FindCode(typeRow->codes, code);
    if (codeRow) {
        snprintf(buffer, size, "%s: %s", typeRow->name, codeRow->name);
    } else {
        snprintf(buffer, size, "%s: Event=%d", typeRow->name, code);
    }
    return buffer;
}

const char* GetMsgTypeName(int32_t type) {
    const TypeRow* row = FindType(type);
    return row ? row->name : nullptr;
}

const char* GetMsgCodeName(int32_t type, int32_t code) {
    const TypeRow* row = FindType(type);
    const CodeRow* codeRow = row ? FindCode(row->codes, code) : nullptr;
    return codeRow ? codeRow->name : nullptr;
}

bool FindMsgType(const char* name, int32_t* type) {
    for (const TypeRow* row = kTypes; name && row->name; ++row) {
        if (strcmp(row->name, name) == 0) {
            *type = row->value;
            return true;
        }
    }
    return false;
}

bool FindMsgCode(int32_t type, const char* name, int32_t* code) {
    const TypeRow* typeRow = FindType(type);
    for (const CodeRow* row = typeRow ? typeRow->codes : nullptr; name && row && row->name; ++row) {
        if (strcmp(row->name, name) == 0) {
            *code = row->value;
            return true;
        }
    }
    return false;
}

const char* GetHookStateName(int32_t value) {
    return NameAt(kHookStateNames, value);
}
const char* GetLineStateName(int32_t value) {
    return NameAt(kLineStateNames, value);
}
const char* GetCallStateName(int32_t value) {
    return NameAt(kCallStateNames, value);
}
const char* GetPhoneConnectionName(int32_t value) {
    return NameAt(kPhoneConnectionNames, value);
}
const char* GetConnectionStatusName(int32_t value) {
    return NameAt(kConnectionStatusNames, value);
}
const char* GetAgentStatusName(int32_t value) {
    return NameAt(kAgentStatusNames, value);
}
