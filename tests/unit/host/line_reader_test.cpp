// Command input: lines split across reads, a last line without a line feed, and
// overlong lines skipped up to their end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "qmhost/line_reader.h"

namespace {

using Next = qmhost::LineReader::Next;

class LineReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::pipe(fds_), 0); }
  void TearDown() override {
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  void Send(const std::string& text) {
    ASSERT_EQ(::write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  void CloseWriter() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }
  int fds_[2] = {-1, -1};
};

}  // namespace

TEST_F(LineReaderTest, JoinsPartsAndEndsWithTheLastUnterminatedLine) {
  qmhost::LineReader reader(fds_[0], true);
  std::string line;
  Send("publish a b\npub");
  reader.Fill();
  EXPECT_EQ(reader.NextLine(line), Next::Line);
  EXPECT_EQ(line, "publish a b");
  EXPECT_EQ(reader.NextLine(line), Next::None);  // "pub" waits for the rest
  Send("lish c\n\nquit");
  reader.Fill();
  EXPECT_EQ(reader.NextLine(line), Next::Line);
  EXPECT_EQ(line, "publish c");
  EXPECT_EQ(reader.NextLine(line), Next::Line);
  EXPECT_EQ(line, "");
  EXPECT_EQ(reader.NextLine(line), Next::None);
  CloseWriter();
  reader.Fill();
  EXPECT_FALSE(reader.AtEnd());
  EXPECT_EQ(reader.NextLine(line), Next::Line);
  EXPECT_EQ(line, "quit");
  EXPECT_TRUE(reader.AtEnd());
}

TEST_F(LineReaderTest, SkipsOverlongLinesUpToTheirEnd) {
  qmhost::LineReader reader(fds_[0], true, 16);
  std::string line;
  Send(std::string(40, 'x'));
  reader.Fill();
  EXPECT_EQ(reader.NextLine(line), Next::Overlong);
  Send(std::string(40, 'y') + "\nhelp\n" + std::string(20, 'z') + "\ninfo\n");
  reader.Fill();
  EXPECT_EQ(reader.NextLine(line), Next::Line);
  EXPECT_EQ(line, "help");
  EXPECT_EQ(reader.NextLine(line), Next::Overlong);  // long, but complete in the buffer
  EXPECT_EQ(reader.NextLine(line), Next::Line);
  EXPECT_EQ(line, "info");
}
