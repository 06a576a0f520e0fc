#include "expiry/expiry_date.h"

#include <cstdint>

#include "qmos/clock.h"

namespace vantiro {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysSinceEpoch(const CivilDate& date) {
  const std::int64_t y = date.year - (date.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t monthFromMarch = date.month + (date.month > 2 ? -3 : 9);
  const std::int64_t dayOfYear = (153 * monthFromMarch + 2) / 5 + date.day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// The number of 1 to 4 digits at text[at], moving at past them; false when none.
bool ReadNumber(const std::string& text, std::size_t& at, int& number) {
  const std::size_t start = at;
  number = 0;
  while (at < text.size() && at - start < 4 && text[at] >= '0' && text[at] <= '9') {
    number = number * 10 + (text[at] - '0');
    ++at;
  }
  return at > start && (at == text.size() || text[at] < '0' || text[at] > '9');
}

}  // namespace

std::string DashedExpiry(const std::string& text) {
  std::string dashed = text;
  dashed.insert(dashed.size() < 6 ? dashed.size() : 6, "-");
  dashed.insert(dashed.size() < 4 ? dashed.size() : 4, "-");
  return dashed;
}

std::optional<CivilDate> ParseDashedDate(const std::string& text) {
  CivilDate date;
  std::size_t at = 0;
  if (!ReadNumber(text, at, date.year) || at >= text.size() || text[at++] != '-') return std::nullopt;
  if (!ReadNumber(text, at, date.month) || at >= text.size() || text[at++] != '-') return std::nullopt;
  if (!ReadNumber(text, at, date.day) || at != text.size()) return std::nullopt;
  if (date.year < 1 || date.month < 1 || date.month > 12) return std::nullopt;
  if (date.day < 1 || date.day > DaysInMonth(date.year, date.month)) return std::nullopt;
  return date;
}

CivilDate Today() {
  const qmos::LocalTime now = qmos::LocalNow();
  return CivilDate{now.year, now.month, now.day};
}

int DaysUntil(const CivilDate& today, const CivilDate& date) {
  return static_cast<int>(DaysSinceEpoch(date) - DaysSinceEpoch(today));
}

}  // namespace vantiro
