// Command lines: words, rest-of-line arguments, escapes, numbers and form actions.
#include <gtest/gtest.h>

#include "qmhost/command.h"

using qmhost::CommandKind;
using qmhost::FormAction;
using qmhost::ParseCommandLine;

namespace {

qmhost::Command Parse(std::string_view line) {
  const auto parsed = ParseCommandLine(line);
  EXPECT_TRUE(parsed.command.has_value()) << line << ": " << parsed.error;
  return parsed.command.value_or(qmhost::Command{});
}

std::string ErrorOf(std::string_view line) {
  const auto parsed = ParseCommandLine(line);
  EXPECT_FALSE(parsed.command.has_value()) << line;
  return parsed.error;
}

}  // namespace

TEST(CommandEscapes, ResolvesTheFourEscapesAndKeepsOtherBackslashes) {
  EXPECT_EQ(qmhost::Unescape(R"(a\nb\tc\;d\\e)"), "a\nb\tc;d\\e");
  EXPECT_EQ(qmhost::Unescape(R"(\x\)"), "\\x\\");
  EXPECT_EQ(qmhost::Unescape(R"(\\n)"), "\\n");  // an escaped backslash, then n
}

TEST(CommandEscapes, SplitsOnlyAtUnescapedSeparators) {
  const auto parts = qmhost::SplitUnescaped(R"(a\;b;c\\;d)", ';');
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0], R"(a\;b)");
  EXPECT_EQ(parts[1], R"(c\\)");
  EXPECT_EQ(parts[2], "d");
}

TEST(CommandParsing, IgnoresBlankLinesCommentsAndCarriageReturns) {
  EXPECT_TRUE(ParseCommandLine("").Ignored());
  EXPECT_TRUE(ParseCommandLine("   \t").Ignored());
  EXPECT_TRUE(ParseCommandLine("# publish a b").Ignored());
  EXPECT_TRUE(ParseCommandLine("  # indented comment").Ignored());
  EXPECT_EQ(Parse("info\r").kind, CommandKind::Info);
}

TEST(CommandParsing, PublishAndSetTakeTheRestOfTheLineWithEscapes) {
  auto publish = Parse(R"(publish mc_hold_call call_id:7\ncall_channel:2 extra\n)");
  EXPECT_EQ(publish.kind, CommandKind::Publish);
  EXPECT_EQ(publish.text, "mc_hold_call");
  EXPECT_EQ(publish.value, "call_id:7\ncall_channel:2 extra\n");

  EXPECT_EQ(Parse("publish q").value, "");   // DATA may be empty
  EXPECT_EQ(Parse("publish q  two").value, " two");  // one blank separates words

  auto set = Parse(R"(set mc_profile 1234 5\t6)");
  EXPECT_EQ(set.kind, CommandKind::Set);
  EXPECT_EQ(set.text, "mc_profile");
  EXPECT_EQ(set.value, "1234 5\t6");

  EXPECT_FALSE(ErrorOf("publish").empty());
  EXPECT_FALSE(ErrorOf("set").empty());
}

TEST(CommandParsing, WaitHasAnOptionalTimeOut) {
  auto plain = Parse(R"(wait "event":"loaded")");
  EXPECT_EQ(plain.kind, CommandKind::Wait);
  EXPECT_EQ(plain.value, R"("event":"loaded")");
  EXPECT_EQ(plain.number, qmhost::kDefaultWaitMs);

  auto timed = Parse("wait fake_out 250");
  EXPECT_EQ(timed.value, "fake_out");
  EXPECT_EQ(timed.number, 250);

  auto words = Parse("wait caption text=\"Now Validating\" 100");
  EXPECT_EQ(words.value, "caption text=\"Now Validating\"");
  EXPECT_EQ(words.number, 100);

  EXPECT_EQ(Parse("wait 42").value, "42");  // a lone word is the text
  EXPECT_EQ(Parse(R"(wait a\tb)").value, "a\tb");
  EXPECT_FALSE(ErrorOf("wait").empty());
  EXPECT_FALSE(ErrorOf("wait x 99999999999999").empty());
}

TEST(CommandParsing, NumbersAreCheckedForRange) {
  EXPECT_EQ(Parse("menu 1203").number, 1203);
  EXPECT_EQ(Parse("menu -1").number, -1);
  EXPECT_FALSE(ErrorOf("menu 40000").empty());
  EXPECT_FALSE(ErrorOf("menu 12x").empty());
  EXPECT_FALSE(ErrorOf("menu").empty());
  EXPECT_EQ(Parse("box 7").number, 7);
  EXPECT_FALSE(ErrorOf("box 0").empty());
  EXPECT_FALSE(ErrorOf("box yes").empty());
  EXPECT_EQ(Parse("sleep 0").number, 0);
  EXPECT_FALSE(ErrorOf("sleep -5").empty());
  EXPECT_FALSE(ErrorOf("sleep 1 2").empty());
}

TEST(CommandParsing, ServiceOnAndOff) {
  auto on = Parse("service mux 10.0.0.1 7001");
  EXPECT_EQ(on.kind, CommandKind::Service);
  EXPECT_EQ(on.text, "mux");
  EXPECT_EQ(on.value, "10.0.0.1");
  EXPECT_EQ(on.number, 7001);
  auto off = Parse("service mux off");
  EXPECT_EQ(off.kind, CommandKind::ServiceOff);
  EXPECT_EQ(off.text, "mux");
  EXPECT_FALSE(ErrorOf("service mux 10.0.0.1 0").empty());
  EXPECT_FALSE(ErrorOf("service mux 10.0.0.1 65536").empty());
  EXPECT_FALSE(ErrorOf("service mux 10.0.0.1").empty());
}

TEST(CommandParsing, SimpleCommandsTakeNoArgumentsAndKeyCommandsOne) {
  EXPECT_EQ(Parse("menu-structure").kind, CommandKind::MenuStructure);
  EXPECT_EQ(Parse("hasgui").kind, CommandKind::HasGui);
  EXPECT_EQ(Parse("terminate").kind, CommandKind::Terminate);
  EXPECT_EQ(Parse("quit").kind, CommandKind::Quit);
  EXPECT_EQ(Parse("help").kind, CommandKind::Help);
  EXPECT_FALSE(ErrorOf("quit now").empty());
  EXPECT_EQ(Parse("get mc_profile").text, "mc_profile");
  EXPECT_EQ(Parse("unset mc_profile").kind, CommandKind::Unset);
  EXPECT_FALSE(ErrorOf("get a b").empty());
  EXPECT_NE(ErrorOf("frobnicate").find("frobnicate"), std::string::npos);
  EXPECT_FALSE(ErrorOf("Quit").empty());  // names are case-sensitive
}

TEST(CommandParsing, FormQueuesParsedActions) {
  auto form = Parse(R"(form TInputPasswordForm type Edit1 12\;34; check Remember 1;select Server  b;click OKButton;)");
  EXPECT_EQ(form.kind, CommandKind::Form);
  EXPECT_EQ(form.text, "TInputPasswordForm");
  ASSERT_EQ(form.actions.size(), 4u);
  EXPECT_EQ(form.actions[0].kind, FormAction::Kind::Type);
  EXPECT_EQ(form.actions[0].control, "Edit1");
  EXPECT_EQ(form.actions[0].text, "12;34");
  EXPECT_EQ(form.actions[1].kind, FormAction::Kind::Check);
  EXPECT_TRUE(form.actions[1].checked);
  EXPECT_EQ(form.actions[2].kind, FormAction::Kind::Select);
  EXPECT_EQ(form.actions[2].text, " b");
  EXPECT_EQ(form.actions[3].kind, FormAction::Kind::Click);
  EXPECT_EQ(form.actions[3].control, "OKButton");

  EXPECT_TRUE(Parse("form Empty").actions.empty());
  EXPECT_EQ(Parse("form F type Edit1").actions.at(0).text, "");  // type an empty text
  EXPECT_FALSE(ErrorOf("form").empty());
  EXPECT_FALSE(ErrorOf("form F check Box yes").empty());
  EXPECT_FALSE(ErrorOf("form F click").empty());
  EXPECT_FALSE(ErrorOf("form F click A B").empty());
  EXPECT_FALSE(ErrorOf("form F press Button").empty());
}
