// The password's expiry date as the mailbox server gives it ("pwd_expiry", eight
// digits: year, month, day) and the days left until it. The conversion has its own
// fixed format; no process-wide date setting is read or changed.
#pragma once

#include <optional>
#include <string>

namespace vantiro {

struct CivilDate {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
};

// text with a "-" put before its seventh character and then one before its fifth,
// each appended when the text is shorter: "20501231" is "2050-12-31".
std::string DashedExpiry(const std::string& text);

// A date written year-month-day with "-" between the numbers (1 to 4 digits each);
// nullopt when the text is not one, or names no day of the calendar.
std::optional<CivilDate> ParseDashedDate(const std::string& text);

// Today in the local time zone.
CivilDate Today();

// Whole days from today to date: positive ahead, 0 the same day, negative before.
int DaysUntil(const CivilDate& today, const CivilDate& date);

}  // namespace vantiro
