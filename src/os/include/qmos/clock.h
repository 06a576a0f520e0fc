// Clocks: the wall clock for time stamps and dates (local time with milliseconds,
// seconds since 1970) and a monotonic clock for elapsed time.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace qmos {

// A moment in local time, broken down.
struct LocalTime {
  int year = 1970;
  int month = 1;        // 1..12
  int day = 1;          // 1..31
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int second = 0;       // 0..60 (a leap second)
  int millisecond = 0;  // 0..999
  int dayOfWeek = 4;    // 0 = Sunday .. 6 = Saturday
};

// Now, in the local time zone.
LocalTime LocalNow();
// The moment msSince1970 (milliseconds since 1970-01-01 00:00:00 UTC, may be
// negative) in the local time zone.
LocalTime ToLocalTime(std::int64_t msSince1970);
// "YYYY-MM-DD HH:MM:SS.mmm"
std::string FormatLocalTime(const LocalTime& time);

// Wall clock: milliseconds and whole seconds since 1970-01-01 UTC. The 32-bit form is
// unsigned so that it runs until 2106 and differences of two readings stay right.
std::int64_t WallClockMs();
std::uint32_t SecondsSince1970();

// Monotonic milliseconds since an arbitrary start; for elapsed time only.
std::int64_t MonotonicMs();
// The same, cut to 32 bits (wraps after 49.7 days; subtract readings as unsigned).
std::uint32_t TickCount();

// Whole milliseconds from now until deadline; 0 once it has passed.
std::int64_t MsLeft(std::chrono::steady_clock::time_point deadline);

}  // namespace qmos
