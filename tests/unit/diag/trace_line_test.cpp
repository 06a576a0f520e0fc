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
  EXPECT_EQ(FormatTraceWarning(At(3, 5, 9, 7, 3, 45)),
            "[03/05 09:07:03.045] Warning:Log file is FULL and existing logs are being re-written!\n");
}

TEST(TraceLine, AppendsUntilTheLineWouldReachTheLimit) {
  // 990 + 9 = 999 stays below 1000; 990 + 10 reaches it.
  EXPECT_FALSE(PlaceTraceLine(990, 9, 1000, 500).wrap);
  auto placement = PlaceTraceLine(990, 10, 1000, 500);
  EXPECT_TRUE(placement.wrap);
  EXPECT_EQ(placement.offset, 500);
  EXPECT_FALSE(placement.warning);
}

TEST(TraceLine, PositionOutsideTheFileStartsOverBehindAWarning) {
  for (std::int32_t position : {0, 990, 5000, -1, INT32_MIN}) {
    auto placement = PlaceTraceLine(990, 30, 1000, position);
    EXPECT_TRUE(placement.wrap);
    EXPECT_EQ(placement.offset, 0) << position;
    EXPECT_TRUE(placement.warning) << position;
  }
  // A file far past the limit (made by someone else) wraps as well.
  EXPECT_TRUE(PlaceTraceLine(std::int64_t{1} << 40, 1, 1000, 10).wrap);
}

TEST(TraceLine, NextPositionRestartsAtTheLimit) {
  EXPECT_EQ(NextTracePosition(999, 1000), 999);
  EXPECT_EQ(NextTracePosition(1000, 1000), 0);
  EXPECT_EQ(NextTracePosition(std::int64_t{1} << 33, 1000), 0);
  EXPECT_EQ(NextTracePosition(-1, 1000), 0);
}

}  // namespace
