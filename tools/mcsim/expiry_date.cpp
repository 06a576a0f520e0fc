#include "expiry_date.h"

#include <charconv>
#include <cstdio>

namespace mcsim {

namespace {

constexpr int kMaxDays = 100000;

}  // namespace

std::optional<int> RelativeDays(std::string_view value) {
    if (value == "0") return 0;
    if (value.size() < 2 || (value[0] != '+' && value[0] != '-')) return std::nullopt;
    const std::string_view digits = value.substr(1);
    int days = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), days);
    if (ec != std::errc() || end != digits.data() + digits.size() || days < 0 || days > kMaxDays) {
        return std::nullopt;  // also "+-5": from_chars takes a second sign, days < 0 refuses it
    }
    return value[0] == '-' ? -days : days;
}

std::string DateAfter(std::time_t now, int days) {
    std::tm local{};
    localtime_r(&now, &local);
    // Noon keeps a daylight-saving change from moving the result to another day.
    local.tm_hour = 12;
    local.tm_min = local.tm_sec = 0;
    local.tm_mday += days;
    local.tm_isdst = -1;
    const std::time_t then = std::mktime(&local);
    std::tm day{};
    localtime_r(&then, &day);
    char text[40];  // room for any int, so the compiler sees no truncation
    std::snprintf(text, sizeof text, "%04d%02d%02d", day.tm_year + 1900, day.tm_mon + 1,
                  day.tm_mday);
    return text;
}

std::string AnsweredValue(std::string_view key, const std::string& value, std::time_t now) {
    if (key != kExpiryKey) return value;
    const auto days = RelativeDays(value);
    return days ? DateAfter(now, *days) : value;
}

}  // namespace mcsim
