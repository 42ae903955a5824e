// The EyeBeam and QQ stand-ins' script languages and their checks of what the agent sends:
// each rule of the records and items caught when broken, good ones passed, scripts parsed
// with their faults named. Bytes are written here as the softphones lay them out.
#include "EyeBeamSim/EyeBeamScript.h"
#include "QQSim/QQScript.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace orvin;

std::string Record620(int32_t type, int32_t code, int32_t info) {
    std::string bytes(620, '\0');
    memcpy(&bytes[0], &type, 4);
    memcpy(&bytes[4], &code, 4);
    memcpy(&bytes[8], &info, 4);
    return bytes;
}

std::vector<std::string> EyeBeamFaults(const std::string& bytes, uint32_t data = 0, bool attached = true,
                                       bool fromAttached = true) {
    return eyebeamsim::CheckEyeBeamRecord({data, bytes, attached, fromAttached});
}

TEST(EyeBeamSimChecks, TheRecordsTheAgentSendsPassAndEveryBrokenRuleIsCaught) {
    EXPECT_TRUE(EyeBeamFaults(Record620(0, 5, 0)).empty());
    EXPECT_TRUE(EyeBeamFaults(Record620(1, 1, '#')).empty());
    EXPECT_TRUE(EyeBeamFaults(Record620(1, 13, 16)).empty());
    EXPECT_TRUE(EyeBeamFaults(Record620(1, 13, 17)).empty());

    EXPECT_EQ(EyeBeamFaults(Record620(0, 5, 0), 0, false).size(), 1u) << "before the handshake";
    EXPECT_EQ(EyeBeamFaults(Record620(0, 5, 0), 0, true, false).size(), 1u) << "from another window";
    EXPECT_EQ(EyeBeamFaults(Record620(0, 5, 0), 7).size(), 1u) << "data word";
    EXPECT_EQ(EyeBeamFaults(Record620(0, 5, 0).substr(0, 619)).size(), 1u) << "619 bytes";
    EXPECT_EQ(EyeBeamFaults(Record620(0, 5, 0) + '\0').size(), 1u) << "621 bytes";
    std::string tail = Record620(0, 5, 0);
    tail[300] = 1;
    EXPECT_EQ(EyeBeamFaults(tail).size(), 1u) << "a byte after Info";
    EXPECT_EQ(EyeBeamFaults(Record620(0, 15, 0)).size(), 1u) << "no call status";
    EXPECT_EQ(EyeBeamFaults(Record620(0, 9, 1000)).size(), 1u) << "a call status with Info";
    EXPECT_EQ(EyeBeamFaults(Record620(1, 1, 'x')).size(), 1u) << "no key";
    EXPECT_EQ(EyeBeamFaults(Record620(1, 13, 18)).size(), 1u) << "no keypad event the agent sends";
    EXPECT_EQ(EyeBeamFaults(Record620(2, 9, 0)).size(), 1u) << "no record the agent sends";
    EXPECT_EQ(EyeBeamFaults(Record620(0, 5, 0).substr(0, 6)).size(), 1u)
        << "6 bytes: only the length is told";
}

TEST(EyeBeamSimScript, CommandsAndTheirFaults) {
    std::optional<eyebeamsim::EyeBeamCommand> command;
    std::string error;
    ASSERT_TRUE(eyebeamsim::ParseEyeBeamLine("send 0 4 size=6  # short", 3, &command, &error)) << error;
    ASSERT_TRUE(command);
    EXPECT_EQ(command->line, 3);
    EXPECT_EQ(command->source, "send 0 4 size=6");
    EXPECT_EQ(eyebeamsim::MakeEyeBeamRecord(*command), std::string("\x00\x00\x00\x00\x04\x00", 6));
    ASSERT_TRUE(eyebeamsim::ParseEyeBeamLine("expect 1 1 info='5' timeout=300", 1, &command, &error))
        << error;
    EXPECT_TRUE(eyebeamsim::MatchesExpect(*command, Record620(1, 1, '5')));
    EXPECT_FALSE(eyebeamsim::MatchesExpect(*command, Record620(1, 1, '6')));
    EXPECT_FALSE(eyebeamsim::MatchesExpect(*command, std::string(8, '\0')));
    EXPECT_EQ(command->timeoutMs, 300u);
    ASSERT_TRUE(eyebeamsim::ParseEyeBeamLine("  # nothing", 1, &command, &error));
    EXPECT_FALSE(command);

    const std::pair<const char*, const char*> faults[] = {
        {"ring 0 4", "unknown command 'ring'"},
        {"send 0", "send: needs TYPE and CODE"},
        {"expect 0 5 extra", "expect: unexpected 'extra'"},
        {"send 0 4 color=red", "send: unknown option 'color'"},
        {"send 0 4 size=5000", "send: bad value '5000' for size"},
        {"sleep soon", "sleep: bad time 'soon'"},
        {"attach timeout=1 timeout=2", "attach: option 'timeout' given twice"},
    };
    for (const auto& [line, message] : faults) {
        EXPECT_FALSE(eyebeamsim::ParseEyeBeamLine(line, 1, &command, &error)) << line;
        EXPECT_EQ(error.substr(0, strlen(message)), message) << line;
    }
}

std::string Item(uint8_t tag, const std::string& value) {
    std::string bytes(5, '\0');
    bytes[0] = (char)tag;
    const uint32_t length = (uint32_t)value.size();
    memcpy(&bytes[1], &length, 4);
    return bytes + value;
}

std::vector<std::string> QQFaults(uint32_t event, const std::string& data, bool attached = true) {
    return qqsim::CheckQQMessage({event, data, attached, attached});
}

TEST(QQSimChecks, TheMessagesTheAgentSendsPassAndEveryBrokenRuleIsCaught) {
    const std::string id77("\x4d\x00\x00\x00", 4);
    EXPECT_TRUE(QQFaults(10, Item(6, std::string(4, '\0'))).empty());
    EXPECT_TRUE(QQFaults(10, Item(5, std::string("Orvin\0", 6)) + Item(6, id77)).empty());
    EXPECT_TRUE(QQFaults(12, Item(7, "\x91")).empty());
    EXPECT_TRUE(QQFaults(12, Item(7, "\x92")).empty());
    EXPECT_TRUE(QQFaults(13, Item(3, "12")).empty());
    EXPECT_TRUE(QQFaults(13, Item(1, "123")).empty());
    EXPECT_TRUE(QQFaults(19, Item(8, "\x08") + Item(9, id77)).empty());

    const std::pair<std::string, uint32_t> broken[] = {
        {Item(12, "\x91"), 11},                                   // no event the agent sends
        {Item(7, "\x93"), 12},                                    // neither answer nor end
        {Item(7, std::string("\x91\x00", 2)), 12},                // two bytes
        {Item(1, "12"), 13},                                      // two digits go with tag 3
        {Item(3, "123"), 13},                                     // three with tag 1
        {Item(1, std::string("123\0", 4)), 13},                   // a NUL
        {Item(1, "1a3"), 13},                                     // no digit
        {Item(1, "123") + Item(1, "4"), 13},                      // two items
        {Item(6, id77), 10},                                      // an id without a name is 0
        {Item(5, "Orvin") + Item(6, id77), 10},                   // a name without its NUL
        {Item(6, id77) + Item(5, std::string("Orvin\0", 6)), 10}, // the wrong order
        {Item(8, "\x0b") + Item(9, id77), 19},                    // no QQ call status
        {Item(9, id77) + Item(8, "\x02"), 19},                    // the wrong order
        {Item(8, "\x02") + Item(9, "\x4d"), 19},                  // a call id of one byte
        {Item(7, "\x91") + std::string(3, '\0'), 12},             // bytes left over
        {Item(7, "\x91").substr(0, 5) + "", 12},                  // a length past the data
    };
    for (const auto& [data, event] : broken) {
        EXPECT_FALSE(QQFaults(event, data).empty())
            << "event " << event << ": " << qqsim::ShowQQMessage(event, data);
    }
    EXPECT_EQ(QQFaults(12, Item(7, "\x91"), false).size(), 1u) << "before the handshake";
}

TEST(QQSimScript, ItemsAreWrittenAsTheyGoOnTheWire) {
    std::optional<qqsim::QQCommand> command;
    std::string error;
    ASSERT_TRUE(qqsim::ParseQQLine("send 19 8:byte:2 9:u32:77 10:textz:\"a b\" 11:text:x 12:hex:0102", 1,
                                   &command, &error))
        << error;
    EXPECT_EQ(qqsim::MakeQQData(*command), Item(8, "\x02") + Item(9, std::string("\x4d\x00\x00\x00", 4)) +
                                               Item(10, std::string("a b\0", 4)) + Item(11, "x") +
                                               Item(12, "\x01\x02"));
    EXPECT_EQ(qqsim::ShowQQMessage(19, qqsim::MakeQQData(*command)),
              "event=19 8:byte:2 9:u32:77 10:textz:\"a b\" 11:byte:120 12:hex:0102");
    ASSERT_TRUE(qqsim::ParseQQLine("send-raw 19 \"08 01 00\"", 1, &command, &error)) << error;
    EXPECT_EQ(qqsim::MakeQQData(*command), std::string("\x08\x01\x00", 3));

    ASSERT_TRUE(qqsim::ParseQQLine("expect 10 5:any 6:u32:1 timeout=200", 1, &command, &error)) << error;
    EXPECT_TRUE(qqsim::MatchesExpect(*command, 10,
                                     Item(5, std::string("x\0", 2)) + Item(6, std::string("\x01\0\0\0", 4))));
    EXPECT_FALSE(qqsim::MatchesExpect(*command, 10, Item(5, "x") + Item(6, std::string("\x02\0\0\0", 4))));
    EXPECT_FALSE(qqsim::MatchesExpect(*command, 10, Item(5, "x")));
    EXPECT_FALSE(qqsim::MatchesExpect(*command, 12, Item(5, "x") + Item(6, std::string("\x01\0\0\0", 4))));
    ASSERT_TRUE(qqsim::ParseQQLine("expect 13", 1, &command, &error));
    EXPECT_TRUE(qqsim::MatchesExpect(*command, 13, "whatever"));

    const std::pair<const char*, const char*> faults[] = {
        {"send 12 7:byte:300", "send: bad number in item '7:byte:300'"},
        {"send 12 7:word:1", "send: item '7:word:1': kind byte, u32, text, textz, hex"},
        {"send 12 7:any", "send: '7:any': any is for expect only"},
        {"expect 12 7:any:1", "expect: '7:any:1': any takes no value"},
        {"expect", "expect: needs an EVENT"},
        {"send-raw 19 0g", "send-raw: bad hex '0g'"},
        {"attach soon=1", "attach: unknown option 'soon'"},
        {"vanish close=1 close=2", "vanish: option 'close' given twice"},
    };
    for (const auto& [line, message] : faults) {
        EXPECT_FALSE(qqsim::ParseQQLine(line, 1, &command, &error)) << line;
        EXPECT_EQ(error, message) << line;
    }
}

} // namespace
