// Clocks (broken-down local time in chosen time zones, monotonic ticks) and the
// translation of Windows-form paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "qmos/clock.h"
#include "qmos/paths.h"

using namespace qmos;

namespace {

// Sets TZ for the life of the object (POSIX zone strings need no zone database).
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ZoneScope() {
    if (had_) {
      ::setenv("TZ", old_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

// 2024-02-29 13:45:06.789 UTC, a Thursday.
constexpr std::int64_t kLeapDayMs = 1709214306789;

}  // namespace

TEST(Clock, BreaksDownLocalTimeWithMilliseconds) {
  {
    ZoneScope utc("UTC0");
    const LocalTime t = ToLocalTime(kLeapDayMs);
    EXPECT_EQ(FormatLocalTime(t), "2024-02-29 13:45:06.789");
    EXPECT_EQ(t.dayOfWeek, 4);
    // Before 1970 the millisecond stays in 0..999.
    EXPECT_EQ(FormatLocalTime(ToLocalTime(-1)), "1969-12-31 23:59:59.999");
  }
  {
    ZoneScope behind("XST5");  // five hours west of UTC
    const LocalTime t = ToLocalTime(kLeapDayMs);
    EXPECT_EQ(t.year, 2024);
    EXPECT_EQ(t.month, 2);
    EXPECT_EQ(t.day, 29);
    EXPECT_EQ(t.hour, 8);
    EXPECT_EQ(t.minute, 45);
    EXPECT_EQ(t.second, 6);
    EXPECT_EQ(t.millisecond, 789);
  }
  {
    ZoneScope ahead("XST-11");  // crosses into the next day, March 1st
    EXPECT_EQ(FormatLocalTime(ToLocalTime(kLeapDayMs)), "2024-03-01 00:45:06.789");
  }
}

TEST(Clock, WallAndMonotonicClocksAgree) {
  const std::int64_t wallMs = WallClockMs();
  const std::uint32_t seconds = SecondsSince1970();
  EXPECT_LE(static_cast<std::int64_t>(seconds) - wallMs / 1000, 1);
  EXPECT_GE(static_cast<std::int64_t>(seconds) - wallMs / 1000, 0);
  EXPECT_GT(seconds, 1700000000u);

  const LocalTime now = LocalNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_LE(now.millisecond, 999);

  const std::int64_t a = MonotonicMs();
  const std::int64_t b = MonotonicMs();
  EXPECT_LE(a, b);
  EXPECT_LE(static_cast<std::uint32_t>(TickCount() - static_cast<std::uint32_t>(a)), 1000u);
}

TEST(Paths, WindowsFormBecomesThisSystemsForm) {
  struct Case {
    const char* windows;
    const char* native;
  };
  const Case cases[] = {
      {"C:\\Logs\\x.out", "/Logs/x.out"},
      {"c:\\Program Files\\Quillmere\\", "/Program Files/Quillmere/"},
      {"D:/mixed\\separators//x", "/mixed/separators/x"},
      {"C:", "/"},
      {"C:\\", "/"},
      {"C:x.out", "x.out"},
      {"\\\\server\\share\\dir\\f.txt", "/server/share/dir/f.txt"},
      {"\\\\?\\C:\\Logs\\long.out", "/Logs/long.out"},
      {"\\\\?\\UNC\\server\\share\\f", "/server/share/f"},
      {"/already/native", "/already/native"},
      {"relative\\file", "relative/file"},
      {"", ""},
      {":", ":"},
      {"1:\\x", "1:/x"},  // not a drive letter
      {"\\\\", "/"},
      {"\\\\?\\", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FromWindowsPath(c.windows), c.native) << "input: " << c.windows;
  }
  EXPECT_EQ(ToWindowsPath("/Logs/x.out"), "\\Logs\\x.out");
}

TEST(Paths, JoinUsesOneSeparator) {
  EXPECT_EQ(JoinPath("C:\\Program Files\\Quillmere", "Preferences.start"),
            "/Program Files/Quillmere/Preferences.start");
  EXPECT_EQ(JoinPath("C:\\Quillmere\\", "\\logs\\trace.log"), "/Quillmere/logs/trace.log");
  EXPECT_EQ(JoinPath("/opt/q/", "x"), "/opt/q/x");
  EXPECT_EQ(JoinPath("", "x"), "x");
  EXPECT_EQ(JoinPath("C:", "x"), "/x");
}
