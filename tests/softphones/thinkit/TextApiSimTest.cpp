// The ThinkIt and Tessaro stand-ins' own rules, without windows: what their checks find in
// a command (texts in the system's code page, of any length, never empty), and Tessaro's
// attach statuses by name in a script.
#include "SkypeSim/SkypeChecks.h"
#include "SkypeSim/SkypeScript.h"
#include "ThinkItSim/TextApiSimProfiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvin::skypesim;

namespace {

std::vector<std::string> Check(const std::string& bytes, uint32_t data = 0) {
    ReceivedCommand command;
    command.bytes = bytes;
    command.data = data;
    command.attached = command.fromAttachedWindow = true;
    return CheckCommand(command, *kThinkItSimProfile.rules);
}

TEST(TextApiSimChecks, AnyLengthAndAnyBytesButAnEmptyOrUnterminatedCommandIsAFault) {
    const std::string long_name = "get user J\xe9r\xf4me" + std::string(400, 'x') + " speeddial";
    EXPECT_TRUE(Check(long_name + '\0').empty()) << "no UTF-8, no 255-byte limit";
    EXPECT_EQ(Check(std::string(1, '\0')), std::vector<std::string>{"an empty command"});
    EXPECT_EQ(Check("ping"), std::vector<std::string>{"no terminating zero (4 bytes counted)"});
    EXPECT_EQ(Check(std::string("pi\0ng\0", 6)),
              std::vector<std::string>{"a zero byte at offset 2 of 6 counted bytes"});
    EXPECT_EQ(Check(std::string("ping\0", 5), 7), std::vector<std::string>{"copy-data word 7, not 0"});
    EXPECT_EQ(kTessaroSimProfile.rules, kThinkItSimProfile.rules);
}

TEST(TextApiSimScript, TessarosStatusesAreItsOwnNumbers) {
    const char* script = "attach success\nattach unavailable\nattach available\nattach 0x8001\n";
    std::vector<SkypeCommand> commands;
    std::vector<SkypeScriptError> errors;
    ASSERT_TRUE(ParseSkypeScript(script, kSkypeSimCommands, &commands, &errors, kTessaroAttachStatuses));
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].status, 0u);
    EXPECT_EQ(commands[1].status, 1u);
    EXPECT_EQ(commands[2].status, 2u);
    EXPECT_EQ(commands[3].status, 0x8001u);
    EXPECT_EQ(kTessaroAttachStatuses.notAvailable, 1u);
    EXPECT_EQ(kTessaroAttachStatuses.available, 2u);

    std::optional<SkypeCommand> command;
    std::string error;
    EXPECT_FALSE(ParseSkypeScriptLine("attach pending", 3, kSkypeSimCommands, &command, &error,
                                      kTessaroAttachStatuses));
    EXPECT_EQ(error, "attach: unknown status 'pending' (success, unavailable, available or a number)");
    EXPECT_EQ(AttachStatusName(2, kTessaroAttachStatuses), "available");
    EXPECT_EQ(AttachStatusName(2), "refused") << "Skype's numbering stays Skype's";
}

TEST(TextApiSimProfiles, EachStandInSpeaksItsSoftphonesNames) {
    EXPECT_STREQ(kThinkItSimProfile.discoverMessage, "ThinkITControlAPIDiscover");
    EXPECT_STREQ(kThinkItSimProfile.attachMessage, "ThinkITControlAPIAttach");
    EXPECT_EQ(kThinkItSimProfile.statuses->available, 0x8001u);
    EXPECT_EQ(kThinkItSimProfile.statuses->notAvailable, 3u);
    EXPECT_STREQ(kTessaroSimProfile.discoverMessage, "TessaroControlAPIDiscover");
    EXPECT_STREQ(kTessaroSimProfile.attachMessage, "TessaroControlAPIAttach");
    EXPECT_STREQ(kTessaroSimProfile.windowClass, "tSkMainForm.UnicodeClass");
}

} // namespace
