// The "pwd_expiry" preference may be stored as days from today ("+5", "-3", "0") so
// that a test can say "expires in five days"; it is answered as the local date of
// that day, YYYYMMDD. Any other text (an eight-digit date, or something a test wants
// the client to reject) is answered as it is.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace mcsim {

inline constexpr const char* kExpiryKey = "pwd_expiry";

// The day count of "+N", "-N" or "0" (N up to 100000 days), else nullopt.
std::optional<int> RelativeDays(std::string_view value);

// The date `days` after the local date of `now`, as YYYYMMDD.
std::string DateAfter(std::time_t now, int days);

// The value answered for preference `key`: for "pwd_expiry" given in days, the date
// that many days after the local date at `now`; otherwise `value` unchanged.
std::string AnsweredValue(std::string_view key, const std::string& value, std::time_t now);

}  // namespace mcsim
