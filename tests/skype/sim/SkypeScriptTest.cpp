// The Skype stand-in's command language, without windows: what each command means,
// patterns and the replies built from them, and every malformed form reported with its
// line number.
#include "SkypeSim/SkypeScript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace orvin::skypesim;

namespace {

SkypeCommand Parse(const std::string& line, uint32_t allowed = kSkypeSimCommands) {
    std::optional<SkypeCommand> command;
    std::string error = "untouched";
    EXPECT_TRUE(ParseSkypeScriptLine(line, 7, allowed, &command, &error)) << line << ": " << error;
    EXPECT_TRUE(command.has_value()) << line;
    return command.value_or(SkypeCommand{});
}

std::string Fault(const std::string& line, uint32_t allowed = kSkypeSimCommands) {
    std::optional<SkypeCommand> command;
    std::string error;
    EXPECT_FALSE(ParseSkypeScriptLine(line, 1, allowed, &command, &error)) << line;
    EXPECT_FALSE(command.has_value()) << line;
    return error;
}

std::string Answered(const SkypeCommand& answer, const std::string& command, size_t reply = 0) {
    std::vector<std::string> captures;
    EXPECT_TRUE(answer.pattern.Match(command, &captures)) << command;
    return answer.replies.at(reply).Expand(command, captures);
}

TEST(SkypeScript, AttachTakesEveryStatusByNameOrNumber) {
    EXPECT_EQ(Parse("attach success").status, 0u);
    EXPECT_EQ(Parse("attach pending").status, 1u);
    EXPECT_EQ(Parse("attach refused").status, 2u);
    EXPECT_EQ(Parse("attach unavailable").status, 3u);
    EXPECT_EQ(Parse("attach available").status, 0x8001u);
    EXPECT_EQ(Parse("attach 0x8001").status, 0x8001u);
    EXPECT_EQ(Parse("attach 77").status, 77u);
    SkypeCommand attach = Parse("attach success");
    EXPECT_EQ(attach.kind, SkypeCommandKind::Attach);
    EXPECT_EQ(attach.timeoutMs, 10000u);
    EXPECT_EQ(attach.line, 7);
    EXPECT_EQ(Parse("attach pending timeout=250").timeoutMs, 250u);
    EXPECT_EQ(AttachStatusName(0x8001), "available");
    EXPECT_EQ(AttachStatusName(77), "77");
}

TEST(SkypeScript, TextsAreTheWordsJoinedByOneBlankOrQuoted) {
    SkypeCommand notify = Parse("notify  CALL   12 STATUS RINGING   # a comment");
    EXPECT_EQ(notify.kind, SkypeCommandKind::Notify);
    EXPECT_EQ(notify.text, "CALL 12 STATUS RINGING");
    EXPECT_TRUE(notify.zero);
    EXPECT_EQ(notify.source, "notify  CALL   12 STATUS RINGING");
    EXPECT_EQ(Parse("notify \"CALL 12 DTMF #\"").text, "CALL 12 DTMF #");
    EXPECT_EQ(Parse("notify USER \"Jos\\xc3\\xa9\" FULLNAME").text, "USER Jos\xc3\xa9 FULLNAME");
    EXPECT_EQ(Parse("notify \"bad \\xff byte\" zero=0").text, "bad \xff byte");
    EXPECT_FALSE(Parse("notify PONG zero=0").zero);
    EXPECT_EQ(Parse("notify \"\"").text, "");
    EXPECT_EQ(Parse("notify \"a=b\"").text, "a=b");
}

TEST(SkypeScript, PatternsMatchWholeTextsWithStarAndQuestionMark) {
    SkypeCommand expect = Parse("expect-command get call * type");
    EXPECT_EQ(expect.kind, SkypeCommandKind::ExpectCommand);
    EXPECT_EQ(expect.timeoutMs, 5000u);
    EXPECT_TRUE(expect.pattern.Match("get call 12 type"));
    EXPECT_TRUE(expect.pattern.Match("get call  type"));
    EXPECT_FALSE(expect.pattern.Match("get call 12 type "));
    EXPECT_FALSE(expect.pattern.Match("GET CALL 12 TYPE"));
    EXPECT_FALSE(expect.pattern.Match("get call 12 typ"));

    SkypeCommand exact = Parse("expect-command \"SET CALL 12 Status inprogress\" timeout=1500");
    EXPECT_EQ(exact.timeoutMs, 1500u);
    EXPECT_TRUE(exact.pattern.Match("SET CALL 12 Status inprogress"));
    EXPECT_FALSE(exact.pattern.Match("SET CALL 12 Status inprogressx"));

    SkypeCommand one = Parse("expect-command BTN_PRESSED ?");
    EXPECT_TRUE(one.pattern.Match("BTN_PRESSED 7"));
    EXPECT_FALSE(one.pattern.Match("BTN_PRESSED 77"));
    EXPECT_FALSE(one.pattern.Match("BTN_PRESSED "));

    SkypeCommand star = Parse("expect-command \"BTN_PRESSED \\*\"");
    EXPECT_TRUE(star.pattern.Match("BTN_PRESSED *"));
    EXPECT_FALSE(star.pattern.Match("BTN_PRESSED 7"));
    EXPECT_EQ(star.pattern.Written(), "BTN_PRESSED \\*");

    SkypeCommand any = Parse("expect-command *");
    EXPECT_TRUE(any.pattern.Match(""));
    EXPECT_TRUE(any.pattern.Match("ping"));
}

TEST(SkypeScript, AnswersRepeatWhatTheStarsTook) {
    SkypeCommand answer = Parse("answer get user * speeddial => USER $1 SPEEDDIAL 12");
    EXPECT_EQ(answer.kind, SkypeCommandKind::Answer);
    ASSERT_EQ(answer.replies.size(), 1u);
    EXPECT_EQ(Answered(answer, "get user alice speeddial"), "USER alice SPEEDDIAL 12");

    // The shortest run that lets the rest match: the first star takes "12".
    SkypeCommand two = Parse("answer SET CALL * Status * => CALL $1 STATUS $2 | ECHO $0 costs $$5");
    ASSERT_EQ(two.replies.size(), 2u);
    EXPECT_EQ(Answered(two, "SET CALL 12 Status inprogress"), "CALL 12 STATUS inprogress");
    EXPECT_EQ(Answered(two, "SET CALL 12 Status inprogress", 1),
              "ECHO SET CALL 12 Status inprogress costs $5");

    SkypeCommand versions = Parse("answer get skypeversion => SKYPEVERSION 2.5.0.154");
    EXPECT_EQ(Answered(versions, "get skypeversion"), "SKYPEVERSION 2.5.0.154");
    EXPECT_FALSE(versions.pattern.Match("get skypeversion now"));

    SkypeCommand friends = Parse("answer search friends => \"USERS alice, bob\" | \"USER alice | bob\"");
    ASSERT_EQ(friends.replies.size(), 2u);
    EXPECT_EQ(Answered(friends, "search friends", 1), "USER alice | bob");
    // Options are not read in an answer: the text is all there is.
    EXPECT_EQ(Answered(Parse("answer x => y timeout=5"), "x"), "y timeout=5");

    EXPECT_FALSE(answer.inside);
    SkypeCommand inside = Parse("answer-inside alter Voicemail * delete => VOICEMAIL $1 STATUS DELETING");
    EXPECT_EQ(inside.kind, SkypeCommandKind::AnswerInside);
    EXPECT_TRUE(inside.inside);
    EXPECT_EQ(Answered(inside, "alter Voicemail 101 delete"), "VOICEMAIL 101 STATUS DELETING");
    EXPECT_EQ(Fault("answer-inside ping PONG"), "answer-inside: needs COMMAND => NOTIFICATION");
}

TEST(SkypeScript, SleepVanishAndHang) {
    EXPECT_EQ(Parse("sleep 250").ms, 250u);
    SkypeCommand vanish = Parse("vanish");
    EXPECT_EQ(vanish.kind, SkypeCommandKind::Vanish);
    EXPECT_EQ(vanish.ms, 0u);
    EXPECT_EQ(Parse("vanish close=30000").ms, 30000u);
    SkypeCommand hang = Parse("hang 60000");
    EXPECT_EQ(hang.kind, SkypeCommandKind::Hang);
    EXPECT_EQ(hang.ms, 60000u);
    EXPECT_EQ(Fault("hang"), "hang: needs a time in milliseconds");
    EXPECT_EQ(Fault("hang 5", kSkypePeerCommands), "command 'hang' is not available in this program");
}

TEST(SkypeScript, ThePeersCommands) {
    SkypeCommand send = Parse("send get skypeversion zero=0 data=7 from=other", kSkypePeerCommands);
    EXPECT_EQ(send.kind, SkypeCommandKind::Send);
    EXPECT_EQ(send.text, "get skypeversion");
    EXPECT_FALSE(send.zero);
    EXPECT_EQ(send.data, 7u);
    EXPECT_TRUE(send.fromOther);
    SkypeCommand plain = Parse("send ping", kSkypePeerCommands);
    EXPECT_TRUE(plain.zero);
    EXPECT_EQ(plain.data, 0u);
    EXPECT_FALSE(plain.fromOther);
    EXPECT_EQ(Parse("discover", kSkypePeerCommands).timeoutMs, 10000u);
    EXPECT_EQ(Parse("wait-gone timeout=40000", kSkypePeerCommands).timeoutMs, 40000u);
    EXPECT_EQ(Parse("wait-attached", kSkypePeerCommands).timeoutMs, 10000u);
    EXPECT_TRUE(Parse("expect-notification CALL * STATUS RINGING", kSkypePeerCommands)
                    .pattern.Match("CALL 5 STATUS RINGING"));
}

TEST(SkypeScript, EachProgramTakesOnlyItsOwnCommands) {
    EXPECT_EQ(Fault("send ping"), "command 'send' is not available in this program");
    EXPECT_EQ(Fault("notify PONG", kSkypePeerCommands), "command 'notify' is not available in this program");
    EXPECT_EQ(Fault("expect something"), "unknown command 'expect'");
}

TEST(SkypeScript, EveryMalformedFormSaysWhatIsWrong) {
    EXPECT_EQ(Fault("attach"), "attach: needs a status");
    EXPECT_EQ(
        Fault("attach maybe"),
        "attach: unknown status 'maybe' (success, pending, refused, unavailable, available or a number)");
    EXPECT_EQ(Fault("attach success now"), "attach: unexpected 'now'");
    EXPECT_EQ(Fault("attach success timeout=soon"), "attach: bad time 'soon' for timeout");
    EXPECT_EQ(Fault("attach success timeout=1 timeout=2"), "attach: option 'timeout' given twice");
    EXPECT_EQ(Fault("notify"), "notify: needs a text");
    EXPECT_EQ(Fault("notify a=b"), "notify: unknown option 'a' (a text that holds '=' is written quoted)");
    EXPECT_EQ(Fault("notify PONG zero=2"), "notify: zero takes 0 or 1, not '2'");
    EXPECT_EQ(Fault("notify \"open"), "unterminated quoted text");
    EXPECT_EQ(Fault("notify \"bad \\q\""), "notify: bad escape in \"bad \\q\"");
    EXPECT_EQ(Fault("expect-command"), "expect-command: needs a text or pattern");
    EXPECT_EQ(Fault("expect-command 'x'"), "expect-command: quote texts with \" in 'x'");
    EXPECT_EQ(Fault("answer ping"), "answer: needs COMMAND => NOTIFICATION");
    EXPECT_EQ(Fault("answer => PONG"), "answer: needs a COMMAND before =>");
    EXPECT_EQ(Fault("answer ping =>"), "answer: an empty NOTIFICATION (after => or around |)");
    EXPECT_EQ(Fault("answer ping => PONG |"), "answer: an empty NOTIFICATION (after => or around |)");
    EXPECT_EQ(Fault("answer get user * x => USER $2"), "answer: $2 names a '*' the command does not have");
    EXPECT_EQ(Fault("answer ping => COST $x"), "answer: '$' must be followed by a digit or '$' in: COST $x");
    EXPECT_EQ(Fault("sleep"), "sleep: needs a time in milliseconds");
    EXPECT_EQ(Fault("sleep -1"), "sleep: bad time '-1'");
    EXPECT_EQ(Fault("vanish now"), "vanish: unexpected 'now'");
    EXPECT_EQ(Fault("send x from=nobody", kSkypePeerCommands),
              "send: from takes attached or other, not 'nobody'");
    EXPECT_EQ(Fault("notify \"" + std::string(4097, 'a') + "\""), "notify: a text takes at most 4096 bytes");
}

TEST(SkypeScript, AWholeScriptReportsEveryFaultWithItsLineNumber) {
    std::vector<SkypeCommand> commands;
    std::vector<SkypeScriptError> errors;
    EXPECT_FALSE(ParseSkypeScript("attach success\r\n\n# comment\nattach\nnotify PONG\r\nsleep x\n",
                                  kSkypeSimCommands, &commands, &errors));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(FormatSkypeScriptError(errors[0]), "line 4: attach: needs a status");
    EXPECT_EQ(FormatSkypeScriptError(errors[1]), "line 6: sleep: bad time 'x'");
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1].line, 5);
    EXPECT_EQ(commands[1].text, "PONG");
}

} // namespace
