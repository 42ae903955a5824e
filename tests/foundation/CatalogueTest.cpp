#include "devicelink/MessageCatalogue.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Name(int32_t type, int32_t code) {
    return EventName(type, code).c_str();
}

TEST(Catalogue, EventNameForms) {
    EXPECT_EQ(Name(1, 0), "MSG_TYPE_HW_EVENT: NOTIFY_HOOK_STATE");
    EXPECT_EQ(Name(8, 1), "MSG_TYPE_SM2AGENT_REQUEST: Event=1");
    EXPECT_EQ(Name(12, 3), "UNKNOWN_EVENT (12, 3)");
    EXPECT_EQ(Name(-1, 0), "UNKNOWN_EVENT (-1, 0)");
}

TEST(Catalogue, CodeTablesEndWhereTheCatalogueDoes) {
    EXPECT_EQ(Name(0, 14), "MSG_TYPE_CALL_EVENT: CALL_STATUS_OFFHOLD");
    EXPECT_EQ(Name(0, 15), "MSG_TYPE_CALL_EVENT: Event=15");
    EXPECT_EQ(Name(3, 2), "MSG_TYPE_AGENT_EVENT: Event=2");
    EXPECT_EQ(Name(3, 4), "MSG_TYPE_AGENT_EVENT: PlaybackSignalRequest");
    EXPECT_EQ(Name(2, 9), "MSG_TYPE_ERROR: ERROR_UNKNOWN_USER");
    EXPECT_EQ(Name(2, 0), "MSG_TYPE_ERROR: Event=0");
    EXPECT_EQ(Name(1, 17), "MSG_TYPE_HW_EVENT: NOTIFY_CARD_CAPABILITIES");
    EXPECT_EQ(Name(6, 18), "MSG_TYPE_PT_EVENT: PT_INIT_MEMORY_SPACE");
    EXPECT_EQ(Name(7, 10), "MSG_TYPE_IVR_EVENT: IVR_MESSAGE_RECORDED");
    EXPECT_EQ(Name(7, 11), "MSG_TYPE_IVR_EVENT: Event=11");
    EXPECT_EQ(Name(11, 0), "MSG_TYPE_API_HW: Event=0");
}

TEST(Catalogue, NameBufferIsAlwaysTerminated) {
    char small[12];
    GetEventName(1, 0, small, sizeof small);
    EXPECT_EQ(std::string(small), "MSG_TYPE_HW");
}

TEST(Catalogue, NamesAndValuesRoundTrip) {
    for (int32_t type = 0; type <= 11; ++type) {
        const char* typeName = GetMsgTypeName(type);
        ASSERT_NE(typeName, nullptr) << type;
        int32_t found = -1;
        ASSERT_TRUE(FindMsgType(typeName, &found));
        EXPECT_EQ(found, type);
        for (int32_t code = -1; code < 20; ++code) {
            const char* codeName = GetMsgCodeName(type, code);
            if (!codeName) {
                continue;
            }
            int32_t foundCode = -1;
            ASSERT_TRUE(FindMsgCode(type, codeName, &foundCode));
            EXPECT_EQ(foundCode, code);
        }
    }
    int32_t value = 0;
    EXPECT_FALSE(FindMsgType("MSG_TYPE_NOPE", &value));
    EXPECT_FALSE(FindMsgCode(MSG_TYPE_CALL_EVENT, "NOTIFY_HOOK_STATE", &value));
    EXPECT_FALSE(FindMsgCode(MSG_TYPE_MONITOR_EVENT, "anything", &value));
}

TEST(Catalogue, StateEnumerationNames) {
    EXPECT_STREQ(GetHookStateName(HS_OnHook), "HS_OnHook");
    EXPECT_STREQ(GetHookStateName(3), "HS_Unknown_Hook_State");
    EXPECT_EQ(GetHookStateName(4), nullptr);
    EXPECT_EQ(GetHookStateName(-1), nullptr);
    EXPECT_STREQ(GetLineStateName(5), "LS_Unknown_State");
    EXPECT_EQ(GetLineStateName(6), nullptr);
    EXPECT_STREQ(GetCallStateName(9), "CS_Unknown_Call_State");
    EXPECT_EQ(GetCallStateName(10), nullptr);
    EXPECT_STREQ(GetPhoneConnectionName(PC_PSTN_FULL_SAMPLING), "PC_PSTN_FULL_SAMPLING");
    EXPECT_STREQ(GetConnectionStatusName(0), "Connection Status Unknown");
    EXPECT_EQ(GetConnectionStatusName(1), nullptr);
    EXPECT_STREQ(GetAgentStatusName(AgentDisconnectedFromVoip), "AgentDisconnectedFromVoip");
    EXPECT_EQ(GetAgentStatusName(AgentStatusClosing), nullptr);
}

} // namespace
