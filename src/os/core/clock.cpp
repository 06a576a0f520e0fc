#include "qmos/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "core/system_time.h"

namespace qmos {

LocalTime ToLocalTime(std::int64_t msSince1970) {
  // Floor division, so that moments before 1970 keep a millisecond in 0..999.
  std::int64_t seconds = msSince1970 / 1000;
  std::int64_t millis = msSince1970 % 1000;
  if (millis < 0) {
    millis += 1000;
    seconds -= 1;
  }
  const std::time_t when = static_cast<std::time_t>(seconds);
  std::tm parts{};
  LocalTime result;
  if (!detail::SystemLocalTime(when, &parts)) return result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  result.millisecond = static_cast<int>(millis);
  result.dayOfWeek = parts.tm_wday;
  return result;
}

LocalTime LocalNow() { return ToLocalTime(WallClockMs()); }

std::string FormatLocalTime(const LocalTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return text;
}

std::int64_t WallClockMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::uint32_t SecondsSince1970() {
  using namespace std::chrono;
  const auto seconds = duration_cast<std::chrono::seconds>(system_clock::now().time_since_epoch());
  return static_cast<std::uint32_t>(seconds.count());
}

std::int64_t MonotonicMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::uint32_t TickCount() { return static_cast<std::uint32_t>(MonotonicMs()); }

std::int64_t MsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? left.count() : 0;
}

}  // namespace qmos
