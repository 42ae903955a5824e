// The message catalogue: every message type and code the agent and the adapter's
// service exchange, with its number and display name, the state enumerations that
// travel in `Info`, and the event-name function every trace line about a message uses.
//
// The numbers are shared with the adapter's service and never change. Everything here
// is constant data: safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Message types (the `Type` field of an IMM message).
enum MsgType : int32_t {
    MSG_TYPE_CALL_EVENT = 0,
    MSG_TYPE_HW_EVENT = 1,
    MSG_TYPE_ERROR = 2,
    MSG_TYPE_AGENT_EVENT = 3,
    MSG_TYPE_MONITOR_EVENT = 4,
    MSG_TYPE_DEBUG_EVENT = 5,
    MSG_TYPE_PT_EVENT = 6,
    MSG_TYPE_IVR_EVENT = 7,
    MSG_TYPE_SM2AGENT_REQUEST = 8,
    MSG_TYPE_REMINDER_EVENT = 9,
    MSG_TYPE_API_SM = 10,
    MSG_TYPE_API_HW = 11,
};

// Type 0; also the API client's session states.
enum CallStatus : int32_t {
    CALL_STATUS_UNKNOWN = 0,
    CALL_STATUS_UNPLACED = 1,
    CALL_STATUS_ROUTING = 2,
    CALL_STATUS_FAILED = 3,
    CALL_STATUS_RINGING = 4,
    CALL_STATUS_INPROGRESS = 5,
    CALL_STATUS_ONHOLD = 6,
    CALL_STATUS_LOCALHOLD = 7,
    CALL_STATUS_REMOTEHOLD = 8,
    CALL_STATUS_FINISHED = 9,
    CALL_STATUS_MISSED = 10,
    CALL_STATUS_REFUSED = 11,
    CALL_STATUS_BUSY = 12,
    CALL_STATUS_CANCELLED = 13,
    CALL_STATUS_OFFHOLD = 14,
};

// Type 1.
enum HwEvent : int32_t {
    NOTIFY_HOOK_STATE = 0,
    NOTIFY_DTMF_KEY = 1,
    NOTIFY_PSTN_RING = 2,
    NOTIFY_PSTN_INUSE = 3,
    NOTIFY_PSTN_NOLINE = 4,
    NOTIFY_VOIP_STATE = 5,
    NOTIFY_JACK_SWAP = 6,
    NOTIFY_OPEN_DEVICE = 7,
    NOTIFY_CLOSE_DEVICE = 8,
    SM_INITIALIZED = 9,
    NOTIFY_DUMMY_BIT = 10,
    PRODUCTION_TEST_DC_DECREASE_REPORT = 11,
    PRODUCTION_TEST_HYBRID_REPORT = 12,
    NOTIFY_KEYPAD_EVENT = 13,
    NOTIFY_PHONE_DTMF_KEY = 14,
    NOTIFY_AUX_BUTTON_EVENT = 15,
    NOTIFY_HW_CARD_PROPERTIES = 16,
    NOTIFY_CARD_CAPABILITIES = 17,
};

// Type 2.
enum ErrorCode : int32_t {
    ERROR_UNKNOWN_USER = 9,
};

// Type 3.
enum AgentEvent : int32_t {
    NotifyAgentStatus = 1,
    OOBDtmf = 3,
    PlaybackSignalRequest = 4,
};

// `Info` of NotifyAgentStatus. Only the first three have names in the agent's trace;
// the others are sent in fixed situations.
enum AgentStatus : int32_t {
    AgentAlive = 0,
    AgentConnectedToVoip = 1,
    AgentDisconnectedFromVoip = 2,
    AgentStatusClosing = 3,
    AgentStatusLoneStarKey = 4,
    AgentStatusAnsweringMachineOnly0 = 6,
    AgentStatusAnsweringMachineOnly1 = 7,
    AgentStatusRecordingStarted = 8,
    AgentStatusRecordingStopped = 9,
    AgentStatusAdapterAttachedQqTelTel = 10,
};

// Type 6: requests to the adapter's own state machine and production test.
enum PtRequest : int32_t {
    PT_SEND_PSTN_START_RING = 0,
    PT_SEND_PSTN_STOP_RING = 1,
    PT_SEND_GET_RING_STATE = 2,
    PT_SEND_SET_VOIP_STATE = 3,
    PT_SEND_SET_PSTN_STATE = 4,
    PT_SEND_SET_JACK_SWAP_ON = 5,
    PT_SEND_SET_JACK_SWAP_OFF = 6,
    PT_SEND_SET_DUMMY_DC_LOAD_ON = 7,
    PT_SEND_SET_DUMMY_DC_LOAD_OFF = 8,
    PT_SEND_SET_CID_TRANSMISSION_MODE_ON = 9,
    PT_SEND_SET_CID_TRANSMISSION_MODE_OFF = 10,
    PT_SEND_IS_PSTN_LINE_PRESENT = 11,
    PT_SEND_STOP_STATE_MACHINE = 12,
    PT_SEND_START_STATE_MACHINE = 13,
    PT_SEND_RETURN_DEFAULT_STATE = 14,
    PT_SEND_GET_HW_TYPE = 15,
    PT_SEND_GET_HW_CAPABILITIES = 16,
    PT_SEND_SET_PSTN_FULL_SAMPLING_STATE = 17,
    PT_INIT_MEMORY_SPACE = 18,
};

// Type 7.
enum IvrEvent : int32_t {
    IVR_START = 0,
    IVR_TERMINATE = 1,
    IVR_PLAY_SOUND = 2,
    IVR_STOP_SOUND = 3,
    IVR_STORE_REMINDER_PATH = 4,
    IVR_CM_CONNECT_TO = 5,
    IVR_TERMINATE_REQUEST = 6,
    IVR_CM_GOTO_VOICE_MAIL = 7,
    IVR_SET_TIMEOUT_FOR_LEAVE_MESSAGE_MODE = 8,
    IVR_MESSAGE_RECORDING_BEGAN = 9,
    IVR_MESSAGE_RECORDED = 10,
};

// Type 8 (no code table): what the service asks of the agent.
enum Sm2AgentRequest : int32_t {
    SM2AGENT_GOTO_VOICEMAIL = 0,
    SM2AGENT_SET_VOICE_MESSAGE_WAITING = 1,
};

// State enumerations carried in `Info`.
enum HookState : int32_t { HS_OffHook = 0, HS_OnHook = 1, HS_Irrelevant = 2, HS_Unknown_Hook_State = 3 };
enum LineState : int32_t {
    LS_Error = 0,
    LS_PstnLinePresent = 1,
    LS_PstnLineNotPresent = 2,
    LS_PstnLineActive = 3,
    LS_PstnParallelPhoneActive = 4,
    LS_Unknown_State = 5,
};
enum CallState : int32_t {
    CS_Idle = 0,
    CS_Dialtone = 1,
    CS_IncomingCall = 2,
    CS_OutgoingCall = 3,
    CS_ActiveCall = 4,
    CS_CallTermination = 5,
    CS_CallOnHold = 6,
    CS_CallWaiting = 7,
    CS_ConferenceCall = 8,
    CS_Unknown_Call_State = 9,
};
enum PhoneConnection : int32_t { PC_VOIP = 0, PC_PSTN = 1, PC_VOICEMAIL = 2, PC_PSTN_FULL_SAMPLING = 3 };

// The longest display name the catalogue can produce, with room to spare.
constexpr size_t kEventNameSize = 96;

// (type, code) -> "TYPE: CODE", "TYPE: Event=N" or "UNKNOWN_EVENT (T, C)". Writes into
// `buffer` (always terminated) and returns it.
const char* GetEventName(int32_t type, int32_t code, char* buffer, size_t size);

// Convenience for trace lines: the name held in a small value.
struct EventName {
    char text[kEventNameSize];
    EventName(int32_t type, int32_t code) { GetEventName(type, code, text, sizeof text); }
    const char* c_str() const { return text; }
};

// Name of a type or of a code within a type; null when the catalogue has none.
const char* GetMsgTypeName(int32_t type);
const char* GetMsgCodeName(int32_t type, int32_t code);
// Value of a type or code given by its display name; false when unknown.
bool FindMsgType(const char* name, int32_t* type);
bool FindMsgCode(int32_t type, const char* name, int32_t* code);

// Names of the state enumerations; null for a value outside the enumeration.
const char* GetHookStateName(int32_t value);
const char* GetLineStateName(int32_t value);
const char* GetCallStateName(int32_t value);
const char* GetPhoneConnectionName(int32_t value);
const char* GetConnectionStatusName(int32_t value);
const char* GetAgentStatusName(int32_t value);
