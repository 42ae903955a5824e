// The stand-in's checks of the agent's commands, one rule at a time.
#include "SkypeSim/SkypeChecks.h"

#include <gtest/gtest.h>

#include <string>

using namespace orvin::skypesim;

namespace {

ReceivedCommand Good(const std::string& bytes) {
    ReceivedCommand command;
    command.bytes = bytes;
    command.attached = true;
    command.fromAttachedWindow = true;
    return command;
}

std::vector<std::string> Check(const ReceivedCommand& command) {
    return CheckCommand(command);
}

TEST(SkypeChecks, ACommandAsThePartOfTheAgentSendsItPasses) {
    EXPECT_TRUE(Check(Good(std::string("get skypeversion", 17))).empty());
    EXPECT_TRUE(Check(Good(std::string("set audio_in Lautsprecher (Ger\xc3\xa4t)") + '\0')).empty());
    EXPECT_TRUE(Check(Good(std::string(1, '\0'))).empty());
}

TEST(SkypeChecks, NothingBeforeTheAttachHandshake) {
    ReceivedCommand command = Good(std::string("ping", 5));
    command.attached = false;
    command.fromAttachedWindow = false;
    EXPECT_EQ(Check(command), std::vector<std::string>{"a command before the attach handshake completed"});
}

TEST(SkypeChecks, OnlyFromTheWindowThatAttached) {
    ReceivedCommand command = Good(std::string("ping", 5));
    command.fromAttachedWindow = false;
    EXPECT_EQ(Check(command),
              std::vector<std::string>{"a command from a window other than the one that attached"});
}

TEST(SkypeChecks, TheDataWordIsZero) {
    ReceivedCommand command = Good(std::string("ping", 5));
    command.data = 1;
    EXPECT_EQ(Check(command), std::vector<std::string>{"copy-data word 1, not 0"});
}

TEST(SkypeChecks, TheTextCarriesItsTerminatingZeroAndNoOther) {
    EXPECT_EQ(Check(Good("ping")), std::vector<std::string>{"no terminating zero (4 bytes counted)"});
    EXPECT_EQ(Check(Good("")), std::vector<std::string>{"no terminating zero (0 bytes counted)"});
    EXPECT_EQ(Check(Good(std::string("ping\0\0", 6))),
              std::vector<std::string>{"a zero byte at offset 4 of 6 counted bytes"});
}

TEST(SkypeChecks, AtMost255BytesOfText) {
    EXPECT_TRUE(Check(Good(std::string(255, 'a') + '\0')).empty());
    EXPECT_EQ(Check(Good(std::string(256, 'a') + '\0')),
              std::vector<std::string>{"a command of 256 bytes (at most 255)"});
}

TEST(SkypeChecks, WellFormedUtf8Only) {
    EXPECT_EQ(Check(Good(std::string("CALL J\xe9r\xf4me") + '\0')),
              std::vector<std::string>{"not well-formed UTF-8 at byte 6"});
    auto bad = [](const std::string& text) {
        return FindBadUtf8(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    EXPECT_EQ(bad("plain"), 5u);
    EXPECT_EQ(bad("\xc3\xa4\xe2\x82\xac\xf0\x9f\x93\x9e"), 9u); // a, euro sign, telephone receiver
    EXPECT_EQ(bad("a\xc0\xaf"), 1u);                            // an overlong '/'
    EXPECT_EQ(bad("a\xe0\x80\xaf"), 1u);                        // overlong in three bytes
    EXPECT_EQ(bad("ab\xed\xa0\x80"), 2u);                       // a surrogate
    EXPECT_EQ(bad("\xf4\x90\x80\x80"), 0u);                     // above U+10FFFF
    EXPECT_EQ(bad("ok\xe2\x82"), 2u);                           // cut short
    EXPECT_EQ(bad("\x80"), 0u);                                 // a lone continuation byte
    EXPECT_EQ(bad("\xff"), 0u);
}

TEST(SkypeChecks, EveryBrokenRuleIsReported) {
    ReceivedCommand command;
    command.data = 9;
    command.bytes = std::string(300, '\xff');
    EXPECT_EQ(Check(command).size(), 5u);
}

TEST(SkypeChecks, LogTextsShowEveryByte) {
    EXPECT_EQ(ShowText("CALL 12 \\ \xc3\xa4\n"), "CALL 12 \\\\ \\xc3\\xa4\\x0a");
    EXPECT_EQ(CommandText(std::string("ping\0junk", 9)), "ping");
}

} // namespace
