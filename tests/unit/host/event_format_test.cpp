// Event lines in both forms, and how a wait finds them.
#include <gtest/gtest.h>

#include <cstdio>

#include <nlohmann/json.hpp>

#include "qmhost/event_format.h"
#include "qmhost/event_writer.h"
#include "qmhost/host_presenter.h"

using qmhost::EventMembers;

TEST(EventFormat, JsonStartsWithTimeAndEventAndKeepsMemberOrder) {
  const EventMembers members = {{"queue", "q"}, {"data", "a:\"1\"\n"}, {"thread", "main"}};
  const std::string line = qmhost::FormatEventJson(12, "publish", members);
  EXPECT_EQ(line, R"({"t":12,"event":"publish","queue":"q","data":"a:\"1\"\n","thread":"main"})");
  EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST(EventFormat, JsonReplacesInvalidUtf8InsteadOfFailing) {
  const std::string bad = std::string("ok") + static_cast<char>(0xFF) + "end";
  std::string line;
  ASSERT_NO_THROW(line = qmhost::FormatEventJson(0, "publish", {{"data", bad}}));
  const auto parsed = nlohmann::json::parse(line);
  EXPECT_EQ(parsed["data"], "ok\xEF\xBF\xBD" "end");
}

TEST(EventFormat, TextIsOneReadableLine) {
  const EventMembers members = {{"title", "Login"},     {"text", "Bad\tpass\n\"x\"\x01"},
                                {"flags", 48},          {"result", 1},
                                {"visible", true},      {"controls", {{"Edit1", {{"text", "1"}}}}}};
  const std::string line = qmhost::FormatEventText(1234, "message_box", members);
  EXPECT_EQ(line,
            "[    1234 ms] message_box title=\"Login\" text=\"Bad\\tpass\\n\\\"x\\\"\\x01\" "
            "flags=48 result=1 visible=true controls={\"Edit1\":{\"text\":\"1\"}}");
  EXPECT_EQ(qmhost::FormatEventText(5, "exit", EventMembers::object()), "[       5 ms] exit");
}

// What a terminal could obey is shown escaped, in event text and in a message box's
// title and text alike: C0 controls, DEL, C1 controls and bytes that are not UTF-8.
// Other characters, and a box text's line breaks, stay as they are.
TEST(EventFormat, ControlsAndInvalidUtf8AreEscapedInTextAndMessageBoxes) {
  const struct {
    std::string raw, shown;
  } cases[] = {
      {"a\x1b[2Jb", "a\\x1B[2Jb"}, {"del\x7f", "del\\x7F"}, {"csi\xc2\x9b" "31m", "csi\\u009B31m"},
      {"nel\xc2\x85 pad\xc2\x80", "nel\\u0085 pad\\u0080"}, {"bad\xff\xfe", "bad\\xFF\\xFE"},
      {"cut\xe2\x82", "cut\\xE2\\x82"}, {"overlong\xc0\xaf\xe0\x80\x9b", "overlong\\xC0\\xAF\\xE0\\x80\\x9B"},
      {"surrogate\xed\xa0\x80", "surrogate\\xED\\xA0\\x80"}, {"beyond\xf4\x90\x80\x80", "beyond\\xF4\\x90\\x80\\x80"},
      {"kept \xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "kept \xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(qmhost::QuoteText(c.raw), "\"" + c.shown + "\"") << c.shown;
    EXPECT_EQ(qmhost::DrawMessageBox("first\n" + c.raw, c.raw, 0),
              "\n+--- " + c.shown + " ---\n| first\n| " + c.shown + "\n+ [1] OK (default)\n")
        << c.shown;
  }
}

TEST(EventFormat, HResultsAreEightHexDigits) {
  EXPECT_EQ(qmhost::HResultMember(0), "0x00000000");
  EXPECT_EQ(qmhost::HResultMember(1), "0x00000001");
  EXPECT_EQ(qmhost::HResultMember(static_cast<std::int32_t>(0x80020009u)), "0x80020009");
}

TEST(EventWriter, WritesWholeLinesAndWaitsConsumeUpToTheirMatch) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  qmhost::EventWriter writer(out, false, qmhost::EventFormat::Json);
  writer.Write("publish", {{"queue", "a"}});
  writer.Write("publish", {{"queue", "b"}});
  writer.Write("publish", {{"queue", "c"}});

  EXPECT_TRUE(writer.ConsumeMatch(R"("queue":"b")"));   // an earlier line counts
  EXPECT_FALSE(writer.ConsumeMatch(R"("queue":"a")"));  // consumed with the match
  EXPECT_TRUE(writer.ConsumeMatch(R"("queue":"c")"));   // later lines stay
  EXPECT_FALSE(writer.ConsumeMatch(R"("queue":"c")"));  // each line matches once
  writer.Write("exit", {{"status", 0}});
  writer.Close();
  writer.Write("publish", {{"queue", "late"}});  // dropped after Close

  std::rewind(out);
  std::string text;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, out)) text += buffer;
  std::fclose(out);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4);
  EXPECT_EQ(text.find("late"), std::string::npos);
  EXPECT_NE(text.find(R"("event":"exit","status":0)"), std::string::npos);
}
