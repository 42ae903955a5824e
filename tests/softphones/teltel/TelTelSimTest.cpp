// The TelTel stand-in's parts that need no pipe: its script language, the lines between the
// stand-in library and its control program, and the checks of the agent's calls.
#include "TelTelSim/TelTelChecks.h"
#include "TelTelSim/TelTelScript.h"
#include "TelTelSim/TelTelWire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvin::teltelsim;

namespace {

CallRecord Call(const std::string& function, std::vector<CallArg> args = {}, int64_t result = 1) {
    CallRecord call;
    call.qpc = 123456789;
    call.thread = 0x2c;
    call.function = function;
    call.result = result;
    call.args = std::move(args);
    return call;
}

TelTelCommand Command(const std::string& line) {
    std::optional<TelTelCommand> command;
    std::string error;
    EXPECT_TRUE(ParseTelTelScriptLine(line, 1, &command, &error)) << line << ": " << error;
    return command.value_or(TelTelCommand());
}

TEST(TelTelScriptTest, EveryFaultIsReportedWithItsLineNumberBeforeAnythingRuns) {
    const std::string script = "wait-library timeout=20000   # an agent\n"
                               "ring-begin\n"
                               "expect TelTel_Nope\n"
                               "expect-no TelTel_Mute\r\n"
                               "result TelTel_IsTelTelReady 1\n"
                               "ring-start thread=other\n"
                               "sleep\n"
                               "post 0x8123 wparam=7 colour=red\n"
                               "call-end value=7 thread=new\n";
    std::vector<TelTelCommand> commands;
    std::vector<TelTelScriptError> errors;
    EXPECT_FALSE(ParseTelTelScript(script, &commands, &errors));
    std::vector<int> lines;
    for (const TelTelScriptError& error : errors) {
        lines.push_back(error.line);
    }
    EXPECT_EQ(lines, (std::vector<int>{2, 3, 4, 5, 6, 7, 8}));
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].timeoutMs, 20000u);
    EXPECT_EQ(commands[1].kind, TelTelCommandKind::Fire);
    EXPECT_EQ(commands[1].event, CallbackEvent::CallEnd);
    EXPECT_EQ(commands[1].value, 7);
    EXPECT_TRUE(commands[1].newThread);
}

TEST(TelTelScriptTest, ExpectMatchesNumbersTextsAndAnswers) {
    const std::string device = "Orvin Virtual Audio Device";
    const CallRecord audio = Call("TelTel_RegisterAudioDevices2",
                                  {CallArg::Text(device), CallArg::Text(device), CallArg::Text(device)});
    EXPECT_TRUE(
        Command("expect TelTel_RegisterAudioDevices2 \"Orvin Virtual Audio Device\" *").Matches(audio));
    EXPECT_FALSE(Command("expect TelTel_RegisterAudioDevices2 \"Orvin Virtual Audio\"").Matches(audio));
    EXPECT_FALSE(Command("expect TelTel_Register").Matches(audio));

    const CallRecord timer =
        Call("TelTel_WndProc", {CallArg::Number(0x113), CallArg::Number(16), CallArg::Number(0)});
    EXPECT_TRUE(Command("expect TelTel_WndProc 0x113 16").Matches(timer));
    EXPECT_FALSE(Command("expect TelTel_WndProc 0x113 17").Matches(timer));
    EXPECT_FALSE(Command("expect TelTel_WndProc \"0x113\"").Matches(timer)) << "a quoted word is a text";
    EXPECT_FALSE(Command("expect TelTel_WndProc 1 2 3 4").Matches(timer)) << "more arguments than the call's";

    EXPECT_TRUE(Command("expect TelTel_IsTelTelReady result=1").Matches(Call("TelTel_IsTelTelReady", {}, 1)));
    EXPECT_FALSE(
        Command("expect TelTel_IsTelTelReady result=1").Matches(Call("TelTel_IsTelTelReady", {}, 0)));

    const TelTelCommand none = Command("expect-no TelTel_AnswerOrCall TelTel_HangupOrReject for=1500");
    EXPECT_EQ(none.timeoutMs, 1500u);
    EXPECT_TRUE(none.Matches(Call("TelTel_HangupOrReject")));
    EXPECT_FALSE(none.Matches(Call("TelTel_Mute")));
}

TEST(TelTelWireTest, LinesComeBackAsTheyWereSent) {
    CallRecord call =
        Call("TelTel_RegisterAudioDevices2",
             {CallArg::Text("Mixer (Orvin \"Virtual\" \\ #1)"), CallArg::Text(""), CallArg::Unreadable(0),
              CallArg::Unterminated(0x7ff0), CallArg::Window(0x1005e, CallArg::Fact::Own),
              CallArg::Callback(0x140039320, CallArg::Fact::Code), CallArg::Callback(0, CallArg::Fact::Null),
              CallArg::Number(0xFFFFFFFFFFFFFFFFull)},
             -1);
    call.inCallback = true;
    LibraryLine line;
    std::string error;
    ASSERT_TRUE(ParseLibraryLine(FormatCall(call), &line, &error)) << error << ": " << FormatCall(call);
    ASSERT_EQ(line.kind, LibraryLine::Kind::Call);
    EXPECT_EQ(line.call.Shown(), call.Shown());
    EXPECT_EQ(
        line.call.Shown(),
        "TelTel_RegisterAudioDevices2(\"Mixer (Orvin \\\"Virtual\\\" \\\\ #1)\", \"\", <unreadable 0x0>, "
        "<unterminated 0x7ff0>, 0x1005e, 0x140039320, 0x0, 0xffffffffffffffff) = -1");
    EXPECT_TRUE(line.call.inCallback);
    EXPECT_EQ(line.call.qpc, 123456789);
    EXPECT_EQ(line.call.args[4].fact, CallArg::Fact::Own);
    EXPECT_EQ(line.call.args[6].fact, CallArg::Fact::Null);

    Hello hello{4242, "C:\\Program Files\\Orvin\\TelTelAPI.DLL", {"TelTel_Register", "TelTel_WndProc"}};
    ASSERT_TRUE(ParseLibraryLine(FormatHello(hello), &line, &error)) << error;
    EXPECT_EQ(line.hello.module, hello.module);
    EXPECT_EQ(line.hello.functions, hello.functions);
    ASSERT_TRUE(ParseLibraryLine(FormatUnfired(9, "no ring-start callback registered"), &line, &error));
    EXPECT_EQ(line.reason, "no ring-start callback registered");
    EXPECT_FALSE(ParseLibraryLine("call 1 2 0 TelTel_Mute", &line, &error)) << "no result";
    EXPECT_FALSE(ParseLibraryLine("call 1 2 0 TelTel_Mute 1 x:5", &line, &error)) << "no such argument";

    ControlLine fire;
    fire.kind = ControlLine::Kind::Fire;
    fire.id = 12;
    fire.event = CallbackEvent::RingStop;
    fire.value = 4000000000;
    fire.newThread = true;
    ControlLine back;
    ASSERT_TRUE(ParseControlLine(FormatControl(fire), &back, &error)) << error;
    EXPECT_EQ(FormatControl(back), FormatControl(fire));
    EXPECT_EQ(FormatControl(fire), "fire 12 ring-stop 4000000000 new");
}

TEST(TelTelChecksTest, EachRuleOfTheLibraryIsChecked) {
    CallChecker checker;
    auto faults = [&](const CallRecord& call) { return checker.OnCall(call).size(); };
    const CallArg own = CallArg::Window(0x1005e, CallArg::Fact::Own);
    EXPECT_EQ(faults(Call("TelTel_IsTelTelReady")), 1u) << "before TelTel_Register";
    EXPECT_EQ(faults(Call("TelTel_WndProc", {CallArg::Number(1), CallArg::Number(0), CallArg::Number(0)})),
              0u);
    EXPECT_EQ(faults(Call("TelTel_Register", {CallArg::Window(0x2004, CallArg::Fact::Foreign)})), 1u);
    checker.Reset();
    EXPECT_EQ(faults(Call("TelTel_Register", {CallArg::Window(0x2004, CallArg::Fact::NoWindow)})), 1u);
    checker.Reset();
    EXPECT_EQ(faults(Call("TelTel_Register", {own})), 0u);
    EXPECT_EQ(faults(Call("TelTel_Register", {own})), 1u) << "twice";
    EXPECT_EQ(faults(Call("TelTel_Mute", {CallArg::Number(1)})), 1u) << "an argument too many";
    EXPECT_EQ(faults(Call("TelTel_RegisterInCallCBV2", {CallArg::Callback(0x401000, CallArg::Fact::Other),
                                                        CallArg::Callback(0, CallArg::Fact::Null)})),
              2u);
    EXPECT_EQ(
        faults(Call("TelTel_RegisterIncmingCallCBV2", {CallArg::Callback(0x401000, CallArg::Fact::Code),
                                                       CallArg::Callback(0x401010, CallArg::Fact::Code)})),
        0u);

    const CallArg name = CallArg::Text("Orvin Virtual Audio Device");
    EXPECT_EQ(faults(Call("TelTel_RegisterAudioDevices2", {name, name, name})), 0u);
    EXPECT_EQ(faults(Call("TelTel_RegisterAudioDevices2", {name, name, CallArg::Text("BTAUDIO")})), 1u);
    EXPECT_EQ(faults(Call("TelTel_RegisterAudioDevices2", {name, CallArg::Text(""), CallArg::Unreadable(0)})),
              2u);
    EXPECT_EQ(faults(Call("TelTel_RegisterAudioDevices2", {name, name, CallArg::Unterminated(0x5000)})), 1u);
    const CallArg long_name = CallArg::Text(std::string(260, 'x'));
    EXPECT_EQ(faults(Call("TelTel_RegisterAudioDevices2", {long_name, long_name, long_name})), 3u);

    CallRecord inside = Call("TelTel_HangupOrReject");
    inside.inCallback = true;
    EXPECT_EQ(faults(inside), 1u) << "from inside a callback";

    EXPECT_EQ(faults(Call("TelTel_Unregister", {CallArg::Window(0x3000, CallArg::Fact::Own)})), 1u)
        << "not the one";
    EXPECT_EQ(faults(Call("TelTel_AnswerOrCall")), 1u) << "after TelTel_Unregister";
    EXPECT_EQ(faults(Call("TelTel_WndProc", {CallArg::Number(2), CallArg::Number(0), CallArg::Number(0)})),
              0u);
    EXPECT_EQ(faults(Call("TelTel_Register", {own})), 0u) << "again, after TelTel_Unregister";
    EXPECT_EQ(faults(Call("TelTel_Nope")), 1u);

    FiredRecord fired;
    fired.qpcStart = 1000000;
    fired.qpcEnd = fired.qpcStart + 2500 * 1000; // 2500 ms at 1 MHz
    EXPECT_EQ(checker.OnFired(CallbackEvent::RingStart, fired, 1000000).size(), 1u);
    fired.qpcEnd = fired.qpcStart + 1900 * 1000;
    EXPECT_EQ(checker.OnFired(CallbackEvent::RingStart, fired, 1000000).size(), 0u);
}

} // namespace
