// Inputs the Skype fuzzers found faults with, kept as they were found.
#include "SkypeFuzz.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace skype_fuzz;

namespace {

size_t Count(const std::vector<std::string>& commands, const std::string& command) {
    return (size_t)std::count(commands.begin(), commands.end(), command);
}

// Skype answers "get voicemail 11 status" with the voicemail's deletion before the send
// returns, while the client still walks the list it is asking about. The walk went on
// over the shortened list and read the entry past its end.
TEST(SkypeFuzzRegression, AVoicemailDeletedWhileTheListIsAskedForIsPassedOver) {
    SkypeRig rig;
    ASSERT_TRUE(rig.Start());
    rig.Notify("PROTOCOL 5");
    rig.skype.sent.clear();
    rig.skype.onCommand = [&](const std::string& command) {
        if (command == "get voicemail 11 status") {
            rig.Notify("VOICEMAIL 11 STATUS DELETING");
        }
    };
    rig.Notify("VOICEMAILS 11, 12, 13");
    EXPECT_EQ(rig.client.VoiceMails().Count(), 2u);
    for (const char* id : {"12", "13"}) {
        EXPECT_EQ(Count(rig.skype.sent, std::string("get voicemail ") + id + " status"), 1u) << id;
        EXPECT_EQ(Count(rig.skype.sent, std::string("get voicemail ") + id + " type"), 1u) << id;
    }
}

// Key 9 in a voice-mail session deletes every voicemail; Skype reports each deletion
// inside the agent's send of it, and each report removes an entry from the list being
// walked.
TEST(SkypeFuzzRegression, DeletingAllWhileSkypeReportsEachDeletion) {
    SkypeRig rig;
    ASSERT_TRUE(rig.Start());
    rig.Notify("PROTOCOL 5");
    rig.Notify("VOICEMAILS 11, 12, 13");
    IMM toVoicemail = {};
    toVoicemail.Type = 8; // MSG_TYPE_SM2AGENT_REQUEST, code 0: to the voice mail
    rig.client.HandleAdapterEvent(toVoicemail);
    ASSERT_EQ(rig.client.VoiceMails().GetVMMState(), 5);
    rig.skype.sent.clear();
    rig.skype.onCommand = [&](const std::string& command) {
        const std::string prefix = "alter Voicemail ";
        if (command.compare(0, prefix.size(), prefix) == 0 && command.size() > 7 &&
            command.compare(command.size() - 7, 7, " delete") == 0) {
            rig.Notify("VOICEMAIL " + command.substr(prefix.size(), command.size() - prefix.size() - 7) +
                       " STATUS DELETING");
        }
    };
    IMM key = {};
    key.Type = 1; // MSG_TYPE_HW_EVENT
    key.Code = 1; // NOTIFY_DTMF_KEY
    key.Info = '9';
    rig.client.HandleAdapterEvent(key);
    for (const char* id : {"11", "12", "13"}) {
        EXPECT_EQ(Count(rig.skype.sent, std::string("alter Voicemail ") + id + " delete"), 1u) << id;
    }
    EXPECT_EQ(rig.client.VoiceMails().Count(), 0u);
}

} // namespace
