// Time stamps, the warning line and where a line goes relative to the size limit.
#include <gtest/gtest.h>

#include "diag/trace_line.h"

namespace {

using vantiro::FormatTraceStamp;
using vantiro::FormatTraceWarning;
using vantiro::NextTracePosition;
using vantiro::PlaceTraceLine;

qmos::LocalTime At(int month, int day, int hour, int minute, int second, int ms) {
  qmos::LocalTime time;
  time.year = 2024;
  time.month = month;
  time.day = day;
  time.hour = hour;
  time.minute = minute;
  time.second = second;
  time.millisecond = ms;
  return time;
}

TEST(TraceLine, StampIsMonthDayAndTimeToTheMillisecond) {
  EXPECT_EQ(FormatTraceStamp(At(3, 5, 9, 7, 3, 45)), "[03/05 09:07:03.045] ");
  EXPECT_EQ(FormatTraceStamp(At(12, 31, 23, 59, 60, 999)), "[12/31 23:59:60.999] ");
  EXPECT_EQ(FormatTraceStamp(At(1, 1, 0, 0, 0, 0)).size(), 21u);
  // A field out of its range is written as the format writes it.
  EXPECT_EQ(FormatTraceStamp(At(123, 5, -1, 7, 3, 1000)), "[123/05 -1:07:03.1000] ");
  EXPECT_EQ(FormatTraceWarning(At(3, 5, 9, 7, 3, 45)),
            "[03/05 09:07:03.045] Warning:Log file is FULL and existing logs are being re-written!\n");
}

TEST(TraceLine, WrapStartsWhenTheLineWouldReachTheLimit) {
  // 990 + 9 stays below 1000; 990 + 10 reaches it and goes to the saved position.
  EXPECT_FALSE(PlaceTraceLine(990, 9, 1000, 500).wrap);
  auto placement = PlaceTraceLine(990, 10, 1000, 500);
  EXPECT_TRUE(placement.wrap && placement.offset == 500 && !placement.warning);
  // A file far past the limit (made by someone else) wraps as well, and a position
  // at or past the end or negative starts over behind a warning.
  placement = PlaceTraceLine(std::int64_t{1} << 40, 1, 1000, INT32_MIN);
  EXPECT_TRUE(placement.wrap && placement.offset == 0 && placement.warning);
  EXPECT_EQ(NextTracePosition(999, 1000), 999);
  EXPECT_EQ(NextTracePosition(std::int64_t{1} << 33, 1000), 0);
}

}  // namespace
