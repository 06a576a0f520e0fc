// The trace log on disk: appending, wrapping behind the warning line, positions
// across restarts, removal, lazy re-opening and many writers at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "diag/trace_file.h"
#include "trace_test_support.h"

namespace {

using diagtest::TraceTest;
using ::testing::StartsWith;

constexpr std::size_t kStamp = 21;
constexpr std::size_t kWarning = kStamp + 65;

// "[dd/dd dd:dd:dd.ddd] " with digits where d stands.
bool IsStamp(std::string_view text) {
  constexpr std::string_view kShape = "[dd/dd dd:dd:dd.ddd] ";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool ok = kShape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0
                                     : text[i] == kShape[i];
    if (!ok) return false;
  }
  return true;
}

// The stamp-free text at offset in content, up to its line feed.
std::string LineAt(const std::string& content, std::size_t offset) {
  if (offset + kStamp > content.size()) return "<past end>";
  if (!IsStamp(std::string_view(content).substr(offset, kStamp))) return "<no stamp>";
  const std::size_t end = content.find('\n', offset);
  return content.substr(offset + kStamp, end - offset - kStamp);
}

bool WarningAt(const std::string& content, std::size_t offset) {
  return LineAt(content, offset) == "Warning:Log file is FULL and existing logs are being re-written!";
}

using TraceLog = TraceTest;

TEST_F(TraceLog, LinesAreAppendedBelowTheLimit) {
  StartLog(100000);
  EXPECT_EQ(vantiro::TraceLogPath(), WindowsDir() + "\\VantiroBackend.out");
  vantiro::WriteTrace("first");
  vantiro::Trace("second %d %s", 2, "x");
  const std::string content = Content();
  EXPECT_EQ(content.size(), 2 * kStamp + 5 + 10 + 2);
  EXPECT_EQ(LineAt(content, 0), "first");
  EXPECT_EQ(LineAt(content, kStamp + 6), "second 2 x");
  EXPECT_EQ(vantiro::TraceWritePosition(), static_cast<std::int32_t>(content.size()));
}

// Someone empties the file while the log runs (a user clearing it, a log rotator):
// the next lines follow what is there, with no hole of NUL bytes in front.
TEST_F(TraceLog, AFileEmptiedFromOutsideGoesOnFromItsStart) {
  StartLog(100000);
  vantiro::WriteTrace("before");
  ASSERT_EQ(::truncate(FilePath().c_str(), 0), 0);
  vantiro::WriteTrace("after");
  EXPECT_EQ(LineAt(Content(), 0), "after");
  EXPECT_EQ(Content().size(), kStamp + 6);
}

TEST_F(TraceLog, SwitchGovernsTraceButNotTraceAlways) {
  StartLog(100000);
  vantiro::SetTraceEnabled(false);
  vantiro::Trace("hidden");
  EXPECT_FALSE(std::filesystem::exists(FilePath()));
  vantiro::TraceAlways("shown %s", "always");
  EXPECT_EQ(LineAt(Content(), 0), "shown always");
  vantiro::SetTraceEnabled(true);
  // A text longer than any small buffer is kept whole.
  const std::string big(5000, 'b');
  vantiro::Trace("%s", big.c_str());
  EXPECT_EQ(LineAt(Content(), kStamp + 13), big);
}

TEST_F(TraceLog, FullFileWrapsToTheTopBehindAWarningAndTheNextLineFollows) {
  const std::string old(990, 'x');
  WriteContent(old);
  StartLog(1000, 990);       // the position followed the end of the file
  vantiro::WriteTrace("a");  // 990 + 21 + 1 reaches 1000: wraps, however short
  vantiro::WriteTrace("b");
  const std::string content = Content();
  ASSERT_EQ(content.size(), 990u);
  EXPECT_TRUE(WarningAt(content, 0));
  EXPECT_EQ(LineAt(content, kWarning), "a");
  EXPECT_EQ(LineAt(content, kWarning + kStamp + 2), "b");
  // The rest of the old content stays behind the overwritten part.
  const std::size_t end = kWarning + 2 * (kStamp + 2);
  EXPECT_EQ(content.substr(end), old.substr(end));
  EXPECT_EQ(vantiro::TraceWritePosition(), static_cast<std::int32_t>(end));
}

TEST_F(TraceLog, WrappingContinuesToTheEndOfTheContentThenStartsOver) {
  WriteContent(std::string(200, 'x'));
  StartLog(210);
  // Lines of 30 bytes: the warning and lines 0 to 3 fill 0..206; the position 206
  // is then the end of the content, so line 4 starts over at the top.
  for (int i = 0; i < 6; ++i) vantiro::WriteTrace("line " + std::to_string(i) + "..");
  const std::string content = Content();
  ASSERT_EQ(content.size(), kWarning + 4 * 30);
  EXPECT_TRUE(WarningAt(content, 0));
  EXPECT_EQ(LineAt(content, kWarning), "line 4..");
  EXPECT_EQ(LineAt(content, kWarning + 30), "line 5..");
  EXPECT_EQ(LineAt(content, kWarning + 60), "line 2..");
  EXPECT_EQ(LineAt(content, kWarning + 90), "line 3..");
  EXPECT_EQ(vantiro::TraceWritePosition(), static_cast<std::int32_t>(kWarning + 60));
}

TEST_F(TraceLog, LimitBelowWarningPlusLineWritesEveryLineAtTheTop) {
  WriteContent(std::string(80, 'x'));
  StartLog(100);  // a warning and a line end past 100: the position goes back to 0
  for (const char* text : {"one", "two", "three"}) {
    vantiro::WriteTrace(text);
    const std::string content = Content();
    EXPECT_TRUE(WarningAt(content, 0)) << text;
    EXPECT_EQ(LineAt(content, kWarning), text);
    EXPECT_EQ(vantiro::TraceWritePosition(), 0);
  }
}

TEST_F(TraceLog, SavedPositionOutsideTheFileStartsOverBehindAWarning) {
  for (std::uint32_t position : {5000u, 0xFFFFFFF0u}) {
    WriteContent(std::string(500, 'x'));
    StartLog(510, position);
    EXPECT_EQ(vantiro::TraceWritePosition(), static_cast<std::int32_t>(position));
    vantiro::WriteTrace("after restart");
    const std::string content = Content();
    EXPECT_TRUE(WarningAt(content, 0)) << position;
    EXPECT_EQ(LineAt(content, kWarning), "after restart");
  }
}

TEST_F(TraceLog, PositionSurvivesARestart) {
  WriteContent(std::string(600, 'x'));
  StartLog(610);
  vantiro::WriteTrace("before");
  const std::int32_t position = vantiro::TraceWritePosition();
  EXPECT_EQ(position, static_cast<std::int32_t>(kWarning + kStamp + 7));

  // Terminate, then the next run.
  vantiro::CloseTraceLog();
  vantiro::SaveTracePosition();
  EXPECT_EQ(Value("logfileposition_vtbackend")->dword, static_cast<std::uint32_t>(position));
  Reopen();
  EXPECT_EQ(vantiro::TraceWritePosition(), position);
  vantiro::WriteTrace("after");
  const std::string content = Content();
  EXPECT_EQ(LineAt(content, kWarning), "before");
  EXPECT_EQ(LineAt(content, static_cast<std::size_t>(position)), "after");
  EXPECT_EQ(content.find("Warning", kWarning), std::string::npos);
}

TEST_F(TraceLog, RemoveTraceFilesDeletesAtEveryOpenAndRestartsThePosition) {
  WriteContent(std::string(300, 'x'));
  SetDword("RemoveTraceFiles", 1);
  StartLog(1000, 250);
  EXPECT_FALSE(std::filesystem::exists(FilePath()));
  EXPECT_FALSE(vantiro::TraceRemovalPending());
  EXPECT_EQ(vantiro::TraceWritePosition(), 0);
  vantiro::WriteTrace("fresh");
  EXPECT_EQ(LineAt(Content(), 0), "fresh");
  EXPECT_EQ(Value("RemoveTraceFiles")->dword, 1u);  // not reset

  vantiro::CloseTraceLog();
  Reopen();
  EXPECT_FALSE(std::filesystem::exists(FilePath()));
}

TEST_F(TraceLog, RemovalStillPendingAtAWriteDeletesTheFileFirst) {
  StartLog(1000);
  vantiro::WriteTrace("old");
  // Settings read again while the log stays open: the next line deletes the file.
  SetDword("RemoveTraceFiles", 1);
  vantiro::ReadTraceSettings();
  EXPECT_TRUE(vantiro::TraceRemovalPending());
  vantiro::WriteTrace("new");
  const std::string content = Content();
  EXPECT_EQ(content.size(), kStamp + 4);
  EXPECT_EQ(LineAt(content, 0), "new");
  EXPECT_FALSE(vantiro::TraceRemovalPending());
}

TEST_F(TraceLog, WriteAfterCloseReopensOnTheLastPath) {
  StartLog(1000);
  vantiro::WriteTrace("open");
  vantiro::CloseTraceLog();
  EXPECT_FALSE(vantiro::TraceLogOpened());
  vantiro::WriteTrace("TVantiroImpl::~TVantiroImpl(): Plugin terminating");
  EXPECT_TRUE(vantiro::TraceLogOpened());
  const std::string content = Content();
  EXPECT_EQ(LineAt(content, 0), "open");
  EXPECT_EQ(LineAt(content, kStamp + 5), "TVantiroImpl::~TVantiroImpl(): Plugin terminating");
}

TEST_F(TraceLog, UnwritableFolderDropsTheLine) {
  SetString("TraceFilesDir", WindowsDir() + "\\missing\\folder");
  Reopen();
  vantiro::WriteTrace("lost");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
  // A folder in place of the file loses lines without harm as well.
  std::filesystem::create_directories(dir_ / "missing" / "folder" / "VantiroBackend.out");
  vantiro::WriteTrace("lost too");
  SetString("TraceFilesDir", WindowsDir());
  Reopen();
  vantiro::WriteTrace("kept");
  EXPECT_EQ(LineAt(Content(), 0), "kept");
}

TEST_F(TraceLog, FileIsPrivateAndALinkAtItsPathIsNotFollowed) {
  const mode_t oldMask = ::umask(022);
  StartLog(100000);
  vantiro::WriteTrace("new");
  struct stat st {};
  ASSERT_EQ(::stat(FilePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(LineAt(Content(), 0), "new");

  // A link planted at the path, to a file or to where a file would be made: the
  // line is dropped, nothing is written or created through it.
  const std::string target = PathOf("elsewhere");
  for (const bool targetExists : {true, false}) {
    ::unlink(FilePath().c_str());
    ::unlink(target.c_str());
    if (targetExists) testsupport::WriteFile(target, "theirs\n");
    ASSERT_EQ(::symlink(target.c_str(), FilePath().c_str()), 0);
    vantiro::WriteTrace("through the link");
    EXPECT_EQ(testsupport::Exists(target), targetExists) << targetExists;
    if (targetExists) {
      EXPECT_EQ(testsupport::ReadFile(target), "theirs\n");
    }
    ASSERT_EQ(::lstat(FilePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << targetExists;
  }
  ::umask(oldMask);
}

// A FIFO at the path with a reader waiting: neither log writes into it (nor hangs),
// and once a file is back the trace starts it afresh.
TEST_F(TraceLog, AFifoAtThePathGetsNothing) {
  StartLog(100000);
  vantiro::WriteTrace("before");
  ::unlink(FilePath().c_str());
  ASSERT_EQ(::mkfifo(FilePath().c_str(), 0600), 0);
  const int reader = ::open(FilePath().c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  vantiro::WriteTrace("into the fifo");
  vantiro::AppendFileLine(FilePath(), "perf row");
  char buffer[64];
  EXPECT_LE(::read(reader, buffer, sizeof buffer), 0);  // empty: what came would still be there
  ::close(reader);
  ::unlink(FilePath().c_str());
  vantiro::WriteTrace("after");
  EXPECT_EQ(LineAt(Content(), 0), "after");
  EXPECT_EQ(Content().size(), kStamp + 6);
}

TEST_F(TraceLog, LongPathsAreKeptWhole) {
  std::filesystem::path deep = dir_;
  for (int i = 0; i < 6; ++i) deep /= std::string(50, static_cast<char>('a' + i));
  std::filesystem::create_directories(deep);
  SetString("TraceFilesDir", "C:" + qmos::ToWindowsPath(deep.string()));
  Reopen();
  ASSERT_GT(vantiro::TraceLogPath().size(), 255u);
  vantiro::WriteTrace("deep");
  std::ifstream in(deep / "VantiroBackend.out");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.substr(kStamp), "deep");
}

TEST_F(TraceLog, ManyThreadsNeverInterleaveEvenWhileTheLogIsClosedAndReopened) {
  StartLog(10000000);
  constexpr int kThreads = 6;
  constexpr int kLines = 150;
  std::atomic<bool> writing{true};
  std::thread closer([&] {
    while (writing.load()) {
      vantiro::CloseTraceLog();
      vantiro::OpenTraceLog(vantiro::TraceLogPath());
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) vantiro::TraceAlways("thread %d line %03d %s", t, i, "padding padding");
    });
  }
  for (auto& writer : writers) writer.join();
  writing.store(false);
  closer.join();

  std::istringstream in(Content());
  std::vector<int> next(kThreads, 0);
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_GE(line.size(), kStamp) << line;
    ASSERT_TRUE(IsStamp(std::string_view(line).substr(0, kStamp))) << line;
    int t = -1;
    int i = -1;
    char tail[32] = {};
    ASSERT_EQ(std::sscanf(line.c_str() + kStamp, "thread %d line %d %31[a-z ]", &t, &i, tail), 3) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(std::string(tail), "padding padding") << line;
    EXPECT_EQ(i, next[t]++);  // each thread's lines in its order
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
