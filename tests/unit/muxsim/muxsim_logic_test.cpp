// In-process tests of muxsim's parts: the command language, the answering rules,
// the frame journal behind wait-frame and the event lines.
#include <sstream>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "behaviour.h"
#include "command_parser.h"
#include "event_writer.h"
#include "frame_log.h"

namespace muxsim {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

TEST(CommandParser, SplitsClientVerbWordsAndRest) {
    std::string error;
    auto command = ParseCommand("  @12 activity a=1   b=2\r\n", error);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->client, 12);
    EXPECT_EQ(command->verb, "activity");
    EXPECT_THAT(command->words, ElementsAre("a=1", "b=2"));
    EXPECT_EQ(command->rest, "a=1   b=2");

    command = ParseCommand("send  x:1", error);
    ASSERT_TRUE(command);
    EXPECT_FALSE(command->client);
    EXPECT_EQ(command->rest, "x:1");

    EXPECT_FALSE(ParseCommand("   ", error));
    EXPECT_EQ(error, "");
    EXPECT_FALSE(ParseCommand("# a comment", error));
    EXPECT_EQ(error, "");
    for (const char* bad : {"@ close", "@0 close", "@x close", "@-1 close", "@3"}) {
        EXPECT_FALSE(ParseCommand(bad, error)) << bad;
        EXPECT_NE(error, "") << bad;
    }
}

TEST(CommandParser, EscapesAndFieldWords) {
    std::string error;
    EXPECT_EQ(Unescape(R"(a\sb\nc\td\re\\f)", error), "a b\nc\td\re\\f");
    EXPECT_FALSE(Unescape(R"(C:\new\x)", error));  // unknown escape \x
    EXPECT_FALSE(Unescape("end\\", error));

    auto fields = ParseFieldWords({"b=2", "a=x=y", "empty=", R"(n=l1\nl2)"}, error);
    ASSERT_TRUE(fields);
    EXPECT_THAT(*fields, ElementsAre(Pair("b", "2"), Pair("a", "x=y"), Pair("empty", ""),
                                     Pair("n", "l1\nl2")));
    for (const char* bad : {"novalue", "=v", "a:b=1", R"(a\nb=1)", R"(\tname=1)", R"(v=\q)"}) {
        EXPECT_FALSE(ParseFieldWords({bad}, error)) << bad;
    }
}

TEST(CommandParser, DescribesBytesReadably) {
    EXPECT_EQ(DescribeBytes(std::string("ab\n\r\t\\\x00\xff", 8)), "ab\\n\\r\\t\\\\\\x00\\xff");
    EXPECT_EQ(DescribeBytes("abcdef", 3), "abc... (6 bytes)");
    EXPECT_EQ(ParseCount("250"), 250);
    EXPECT_FALSE(ParseCount("-1"));
    EXPECT_FALSE(ParseCount("12ms"));
    EXPECT_FALSE(ParseCount(""));
}

FieldList Hello(const std::string& profile, const std::string& password) {
    return {{"id", "x"}, {"profile", profile}, {"password", password}, {"command", "hello"}};
}

std::string ResultOf(const Reply& reply) { return FieldValue(reply.fields, "result").value_or("<none>"); }

// Forced results and the profile check are also covered end to end; these are the
// cases the wire tests do not reach.
TEST(Behaviour, ChangedPasswordsNoAnswerRequestsWithoutIdOrCommand) {
    Behaviour behaviour;
    behaviour.SetProfile("1234", "5678");
    behaviour.SetProfile("1234", "0000");
    EXPECT_EQ(ResultOf(behaviour.ReplyTo(Hello("1234", "5678"))), "password_invalid");
    EXPECT_EQ(ResultOf(behaviour.ReplyTo(Hello("1234", "0000"))), "ok");
    behaviour.ForceLogin(kNoAnswer, true);
    EXPECT_FALSE(behaviour.ReplyTo(Hello("1234", "0000")).answer);
    EXPECT_EQ(ResultOf(behaviour.ReplyTo(Hello("1234", "0000"))), "ok");

    // No id in the request: the answer has only the result.
    EXPECT_THAT(behaviour.ReplyTo({{"command", "heartbeat"}}).fields, ElementsAre(Pair("result", "ok")));
    const Reply quit = behaviour.ReplyTo({{"id", "q"}, {"command", "quit"}});
    EXPECT_FALSE(quit.answer);
    EXPECT_TRUE(quit.close_after);
    const Reply empty = behaviour.ReplyTo({{"id", "q"}, {"command", ""}});
    EXPECT_FALSE(empty.answer);
    EXPECT_NE(empty.problem, "");
}

TEST(FrameLog, WaitsConsumeFramesInOrderAndTimeOutsForgetThem) {
    FrameLog log;
    log.Record("hello");
    log.Record("heartbeat");
    log.Record("hello");
    EXPECT_TRUE(log.WaitFor("heartbeat", std::chrono::milliseconds(0)));
    EXPECT_TRUE(log.WaitFor("hello", std::chrono::milliseconds(0)));   // the one after it
    EXPECT_FALSE(log.WaitFor("hello", std::chrono::milliseconds(0)));  // none left
    log.Record("quit");
    EXPECT_FALSE(log.WaitFor("heartbeat", std::chrono::milliseconds(10)));
    EXPECT_FALSE(log.WaitFor("quit", std::chrono::milliseconds(0)));  // forgotten by the time-out

    std::thread late([&log] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        log.Record("call_hold");
    });
    EXPECT_TRUE(log.WaitFor("call_hold", std::chrono::seconds(10)));
    late.join();
}

TEST(EventWriter, JsonLinesStartWithTimeAndEventAndTextIsReadable) {
    std::ostringstream json_out;
    EventWriter json(json_out, OutputFormat::kJson);
    Json fields = Json::object();
    fields["command"] = "hello";
    fields["note"] = "a b";
    json.Write("frame", Json{{"client", 2}, {"fields", fields}});
    json.Error("bad \xff byte");
    std::istringstream lines(json_out.str());
    std::string line;
    std::getline(lines, line);
    const Json first = Json::parse(line);
    EXPECT_EQ(first.begin().key(), "t");
    EXPECT_EQ(std::next(first.begin()).key(), "event");
    EXPECT_EQ(first["event"], "frame");
    EXPECT_EQ(first["fields"].dump(), R"({"command":"hello","note":"a b"})");
    std::getline(lines, line);
    EXPECT_EQ(Json::parse(line)["event"], "error");  // invalid UTF-8 did not break the line

    std::ostringstream text_out;
    EventWriter text(text_out, OutputFormat::kText);
    text.Write("frame", Json{{"client", 2}, {"fields", fields}});
    EXPECT_THAT(text_out.str(), ::testing::HasSubstr("client=2 | command=hello note=\"a b\""));
}

}  // namespace
}  // namespace muxsim
