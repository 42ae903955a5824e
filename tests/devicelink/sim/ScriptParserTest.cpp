// The stand-in's command language, without pipes: what each command means, and every
// malformed form reported with its line number.
#include "OrvinAdapterSim/ScriptParser.h"

#include "devicelink/MessageCatalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvin::sim;

namespace {

ScriptCommand Parse(const std::string& line, uint32_t allowed = kSimCommands) {
    std::optional<ScriptCommand> command;
    std::string error = "untouched";
    EXPECT_TRUE(ParseScriptLine(line, 7, allowed, &command, &error)) << line << ": " << error;
    EXPECT_TRUE(command.has_value()) << line;
    return command.value_or(ScriptCommand{});
}

std::string Fault(const std::string& line, uint32_t allowed = kSimCommands) {
    std::optional<ScriptCommand> command;
    std::string error;
    EXPECT_FALSE(ParseScriptLine(line, 1, allowed, &command, &error)) << line;
    EXPECT_FALSE(command.has_value()) << line;
    return error;
}

TEST(ScriptParser, BlankAndCommentLinesAreNoCommands) {
    for (const char* line : {"", "   ", "\t", "# wait-agent", "   # send HW_EVENT 0", "\r"}) {
        std::optional<ScriptCommand> command;
        std::string error;
        EXPECT_TRUE(ParseScriptLine(line, 1, kSimCommands, &command, &error)) << line;
        EXPECT_FALSE(command.has_value()) << line;
    }
}

TEST(ScriptParser, WaitAgentAndExpectHaveDefaultTimeOuts) {
    ScriptCommand wait = Parse("wait-agent");
    EXPECT_EQ(wait.kind, CommandKind::WaitAgent);
    EXPECT_EQ(wait.timeoutMs, kDefaultWaitAgentMs);
    EXPECT_EQ(wait.line, 7);
    EXPECT_EQ(Parse("wait-agent timeout=250").timeoutMs, 250u);

    ScriptCommand expect = Parse("expect MSG_TYPE_AGENT_EVENT NotifyAgentStatus");
    EXPECT_EQ(expect.kind, CommandKind::Expect);
    EXPECT_EQ(expect.type, MSG_TYPE_AGENT_EVENT);
    EXPECT_EQ(expect.code, NotifyAgentStatus);
    EXPECT_FALSE(expect.info.has_value());
    EXPECT_FALSE(expect.buffer[0].has_value());
    EXPECT_EQ(expect.timeoutMs, kDefaultExpectMs);
}

TEST(ScriptParser, TypesAndCodesByNameWithOrWithoutPrefixAndByNumber) {
    ScriptCommand named = Parse("send MSG_TYPE_HW_EVENT NOTIFY_HOOK_STATE info=1");
    EXPECT_EQ(named.type, MSG_TYPE_HW_EVENT);
    EXPECT_EQ(named.code, NOTIFY_HOOK_STATE);
    EXPECT_EQ(named.info, 1);

    ScriptCommand shortType = Parse("send HW_EVENT NOTIFY_CARD_CAPABILITIES");
    EXPECT_EQ(shortType.type, MSG_TYPE_HW_EVENT);
    EXPECT_EQ(shortType.code, NOTIFY_CARD_CAPABILITIES);

    ScriptCommand numbers = Parse("send 7 10");
    EXPECT_EQ(numbers.type, MSG_TYPE_IVR_EVENT);
    EXPECT_EQ(numbers.code, IVR_MESSAGE_RECORDED);

    ScriptCommand mixed = Parse("expect 0 CALL_STATUS_OFFHOLD");
    EXPECT_EQ(mixed.type, MSG_TYPE_CALL_EVENT);
    EXPECT_EQ(mixed.code, CALL_STATUS_OFFHOLD);

    // A type without a code table takes numbers; unknown types and codes by number pass.
    ScriptCommand noTable = Parse("send SM2AGENT_REQUEST 1 info=1");
    EXPECT_EQ(noTable.type, MSG_TYPE_SM2AGENT_REQUEST);
    EXPECT_EQ(noTable.code, 1);
    ScriptCommand unknown = Parse("send 12 0x10");
    EXPECT_EQ(unknown.type, 12);
    EXPECT_EQ(unknown.code, 16);
    EXPECT_EQ(Parse("send -1 0").type, -1);
}

TEST(ScriptParser, CodeNamesBelongToTheirType) {
    // NotifyAgentStatus is an agent-event code, not a hardware event.
    EXPECT_EQ(Fault("send HW_EVENT NotifyAgentStatus"),
              "send: unknown code 'NotifyAgentStatus' for MSG_TYPE_HW_EVENT");
    EXPECT_EQ(Fault("send SM2AGENT_REQUEST GOTO"), "send: unknown code 'GOTO' for MSG_TYPE_SM2AGENT_REQUEST");
    EXPECT_EQ(Fault("expect 12 NOTIFY_HOOK_STATE"), "expect: unknown code 'NOTIFY_HOOK_STATE' for type 12");
    EXPECT_EQ(Fault("send NO_SUCH_TYPE 0"), "send: unknown message type 'NO_SUCH_TYPE'");
    EXPECT_EQ(Fault("send hw_event 0"), "send: unknown message type 'hw_event'");
}

TEST(ScriptParser, NumbersInEveryForm) {
    EXPECT_EQ(Parse("send HW_EVENT NOTIFY_DTMF_KEY info='#'").info, '#');
    EXPECT_EQ(Parse("send HW_EVENT NOTIFY_DTMF_KEY info='5'").info, '5');
    EXPECT_EQ(Parse("send HW_EVENT NOTIFY_DTMF_KEY info='\\''").info, '\'');
    EXPECT_EQ(Parse("send HW_EVENT 0 info=0x1F").info, 31);
    EXPECT_EQ(Parse("send HW_EVENT 0 info=-5").info, -5);
    EXPECT_EQ(Parse("send HW_EVENT 0 info=0xFFFFFFFF").info, -1);
    EXPECT_EQ(Parse("send HW_EVENT 0 info=-2147483648").info, INT32_MIN);
    EXPECT_EQ(Parse("expect-generic ioctl=0xF000000E value=7").ioctl, 0xF000000Eu);
    EXPECT_EQ(Parse("adaptor-info lowcost=7").lowCost, 7);
}

TEST(ScriptParser, TextValuesBareQuotedAndEscaped) {
    ScriptCommand send = Parse("send CALL_EVENT CALL_STATUS_RINGING buf1=+4930123 buf2=\"Jane Doe # x\" "
                               "buf3=\"a\\\"b\\\\c\\x01\\n\" payload=\"\"");
    EXPECT_EQ(send.buffer[0], "+4930123");
    EXPECT_EQ(send.buffer[1], "Jane Doe # x");
    EXPECT_EQ(send.buffer[2], std::string("a\"b\\c\x01\n"));
    EXPECT_EQ(send.payload, "");

    // A '#' outside quotes ends the line, also in the middle of a word.
    ScriptCommand cut = Parse("send HW_EVENT 0 buf1=ab#cd info=3");
    EXPECT_EQ(cut.buffer[0], "ab");
    EXPECT_FALSE(cut.info.has_value());
    EXPECT_EQ(cut.source, "send HW_EVENT 0 buf1=ab");

    // A buffer holds 32 bytes, the payload 512: exactly that much is taken.
    EXPECT_EQ(Parse("send HW_EVENT 0 buf1=" + std::string(32, 'k')).buffer[0]->size(), 32u);
    EXPECT_EQ(Parse("send HW_EVENT 0 payload=" + std::string(512, 'p')).payload->size(), 512u);
    std::string withNul = *Parse("send HW_EVENT 0 buf1=\"a\\0b\"").buffer[0];
    EXPECT_EQ(withNul, std::string("a\0b", 3));
}

TEST(ScriptParser, TheOtherCommands) {
    ScriptCommand info = Parse("adaptor-info lowcost=0");
    EXPECT_EQ(info.kind, CommandKind::AdaptorInfo);
    EXPECT_EQ(info.lowCost, 0);

    EXPECT_EQ(Parse("sleep 1500").ms, 1500u);
    EXPECT_EQ(Parse("break").kind, CommandKind::Break);
    ScriptCommand stop = Parse("stop-service 2000   # the service restarts");
    EXPECT_EQ(stop.kind, CommandKind::StopService);
    EXPECT_EQ(stop.ms, 2000u);
    EXPECT_EQ(stop.source, "stop-service 2000");

    EXPECT_EQ(Parse("raw 1c 00 00 00").raw, (std::vector<uint8_t>{0x1c, 0, 0, 0}));
    EXPECT_EQ(Parse("raw 1C0000e8 03").raw, (std::vector<uint8_t>{0x1c, 0, 0, 0xe8, 3}));

    ScriptCommand burst = Parse("burst 200 HW_EVENT NOTIFY_DTMF_KEY interval=37");
    EXPECT_EQ(burst.kind, CommandKind::Burst);
    EXPECT_EQ(burst.count, 200u);
    EXPECT_EQ(burst.code, NOTIFY_DTMF_KEY);
    EXPECT_EQ(burst.intervalMs, 37u);

    ScriptCommand generic = Parse("expect-generic");
    EXPECT_FALSE(generic.ioctl.has_value());
    EXPECT_FALSE(generic.value.has_value());
    EXPECT_EQ(generic.timeoutMs, kDefaultExpectMs);
}

TEST(ScriptParser, EveryMalformedFormSaysWhatIsWrong) {
    EXPECT_EQ(Fault("wait-for-agent"), "unknown command 'wait-for-agent'");
    EXPECT_EQ(Fault("Send HW_EVENT 0"), "unknown command 'Send'");
    EXPECT_EQ(Fault("expect"), "expect: needs TYPE and CODE");
    EXPECT_EQ(Fault("send HW_EVENT info=1"), "send: needs TYPE and CODE");
    EXPECT_EQ(Fault("send HW_EVENT 0 1"), "send: unexpected '1'");
    EXPECT_EQ(Fault("send HW_EVENT 0 timeout=5"), "send: unknown option 'timeout'");
    EXPECT_EQ(Fault("send HW_EVENT 0 info=1 info=2"), "send: option 'info' given twice");
    EXPECT_EQ(Fault("send HW_EVENT 0 info=one"), "send: bad value 'one' for info");
    EXPECT_EQ(Fault("send HW_EVENT 0 info=0x100000000"), "send: bad value '0x100000000' for info");
    EXPECT_EQ(Fault("send HW_EVENT 0 info="), "send: bad value '' for info");
    EXPECT_EQ(Fault("send HW_EVENT 0 info='ab'"), "send: bad value ''ab'' for info");
    EXPECT_EQ(Fault("send HW_EVENT 0 buf1=" + std::string(33, 'k')),
              "send: buf1 takes at most 32 bytes, not 33");
    EXPECT_EQ(Fault("send HW_EVENT 0 payload=\"" + std::string(513, 'p') + "\""),
              "send: payload takes at most 512 bytes, not 513");
    EXPECT_EQ(Fault("send HW_EVENT 0 buf1=\"open"), "unterminated quoted text");
    EXPECT_EQ(Fault("send HW_EVENT 0 buf1=\"\\q\""), "send: bad escape in \"\\q\"");
    EXPECT_EQ(Fault("send HW_EVENT 0 buf1=\"\\x4\""), "send: bad escape in \"\\x4\"");
    EXPECT_EQ(Fault("wait-agent 100"), "wait-agent: unexpected '100'");
    EXPECT_EQ(Fault("wait-agent timeout=-1"), "wait-agent: bad value '-1' for timeout");
    EXPECT_EQ(Fault("expect HW_EVENT 0 timeout=soon"), "expect: bad value 'soon' for timeout");
    EXPECT_EQ(Fault("adaptor-info"), "adaptor-info: needs lowcost=N");
    EXPECT_EQ(Fault("adaptor-info 1"), "adaptor-info: unexpected '1'");
    EXPECT_EQ(Fault("sleep"), "sleep: needs a time in milliseconds");
    EXPECT_EQ(Fault("sleep 1s"), "sleep: bad time '1s'");
    EXPECT_EQ(Fault("sleep -5"), "sleep: bad time '-5'");
    EXPECT_EQ(Fault("stop-service"), "stop-service: needs a time in milliseconds");
    EXPECT_EQ(Fault("break now"), "break: unexpected 'now'");
    EXPECT_EQ(Fault("raw"), "raw: needs at least one byte in hex");
    EXPECT_EQ(Fault("raw 1c 0"), "raw: odd number of hex digits");
    EXPECT_EQ(Fault("raw 1g"), "raw: bad hex digit 'g' in '1g'");
    EXPECT_EQ(Fault("burst 0 HW_EVENT 0"), "burst: bad count '0'");
    EXPECT_EQ(Fault("burst HW_EVENT 0"), "burst: needs COUNT, TYPE and CODE");
}

TEST(ScriptParser, MeasureTakesACountATypeACodeAndATimeOutForEachEvent) {
    ScriptCommand measure = Parse("measure 300 CALL_EVENT CALL_STATUS_RINGING");
    EXPECT_EQ(measure.kind, CommandKind::Measure);
    EXPECT_EQ(measure.count, 300u);
    EXPECT_EQ(measure.type, MSG_TYPE_CALL_EVENT);
    EXPECT_EQ(measure.code, CALL_STATUS_RINGING);
    EXPECT_EQ(measure.timeoutMs, 5000u);
    EXPECT_FALSE(measure.info.has_value());
    EXPECT_EQ(Parse("measure 1 3 1 timeout=250").timeoutMs, 250u);
    EXPECT_EQ(Fault("measure 300 CALL_EVENT"), "measure: needs COUNT, TYPE and CODE");
    EXPECT_EQ(Fault("measure 0 CALL_EVENT 4"), "measure: bad count '0'");
    EXPECT_EQ(Fault("measure 3 CALL_EVENT 4 info=1"), "measure: unknown option 'info'");
    EXPECT_EQ(Fault("measure 3 CALL_EVENT 4", kProbeCommands),
              "command 'measure' is not available in this program");
    // The probe's side of it: a burst of requests.
    EXPECT_EQ(Parse("burst 300 CALL_EVENT CALL_STATUS_RINGING interval=5", kProbeCommands).count, 300u);
}

TEST(ScriptParser, EachProgramTakesOnlyItsOwnCommands) {
    EXPECT_EQ(Fault("wait-connected"), "command 'wait-connected' is not available in this program");
    EXPECT_EQ(Fault("open"), "command 'open' is not available in this program");
    EXPECT_EQ(Fault("wait-agent", kProbeCommands), "command 'wait-agent' is not available in this program");
    EXPECT_EQ(Fault("break", kProbeCommands), "command 'break' is not available in this program");
    EXPECT_EQ(Parse("send-generic internal=3 value=0", kProbeCommands).internal, 3u);
    EXPECT_EQ(Parse("wait-connected", kProbeCommands).timeoutMs, kDefaultWaitAvailableMs);
    EXPECT_EQ(Parse("wait-available timeout=3000", kProbeCommands).timeoutMs, 3000u);
    EXPECT_EQ(Parse("close", kProbeCommands).kind, CommandKind::Close);
}

TEST(ScriptParser, AWholeScriptReportsEveryFaultWithItsLineNumber) {
    const std::string script = "# greeting first\r\n"
                               "wait-agent timeout=5000\r\n"
                               "expect AGENT_EVENT NotifyAgentStatus info=0\n"
                               "\n"
                               "sned HW_EVENT NOTIFY_HOOK_STATE\n"
                               "send HW_EVENT NOTIFY_HOOK_STATE info=x\n"
                               "sleep 100\n"
                               "raw 0\n"
                               "break";
    std::vector<ScriptCommand> commands;
    std::vector<ScriptError> errors;
    EXPECT_FALSE(ParseScript(script, kSimCommands, &commands, &errors));
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(FormatScriptError(errors[0]), "line 5: unknown command 'sned'");
    EXPECT_EQ(FormatScriptError(errors[1]), "line 6: send: bad value 'x' for info");
    EXPECT_EQ(FormatScriptError(errors[2]), "line 8: raw: odd number of hex digits");
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[0].line, 2);
    EXPECT_EQ(commands[1].line, 3);
    EXPECT_EQ(commands[2].line, 7);
    EXPECT_EQ(commands[3].line, 9);
    EXPECT_EQ(commands[3].kind, CommandKind::Break);

    commands.clear();
    errors.clear();
    EXPECT_TRUE(ParseScript("wait-agent\nsend HW_EVENT 0\n", kSimCommands, &commands, &errors));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(commands.size(), 2u);
}

TEST(ScriptParser, QuotedTextReadsBackAsTheSameBytes) {
    std::vector<std::string> samples = {"plain", "two words", "quote\"back\\slash",          "#hash", "a=b",
                                        "'",     "\t\r\n",    std::string("\x01\x7f\xff", 3)};
    std::string every;
    for (int c = 1; c < 256; ++c) {
        every += (char)c;
    }
    samples.push_back(every.substr(0, 32));
    samples.push_back(every.substr(100, 32));
    samples.push_back(every.substr(223, 32));
    for (const std::string& sample : samples) {
        std::string quoted = QuoteText(reinterpret_cast<const uint8_t*>(sample.data()), sample.size());
        ScriptCommand command = Parse("send HW_EVENT 0 buf1=" + quoted);
        EXPECT_EQ(command.buffer[0], sample) << quoted;
    }
    // Trailing zero bytes are padding, not text.
    const uint8_t padded[8] = {'o', 'k', 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(QuoteText(padded, sizeof padded), "ok");
    const uint8_t zeros[4] = {};
    EXPECT_EQ(QuoteText(zeros, sizeof zeros), "\"\"");
}

} // namespace
