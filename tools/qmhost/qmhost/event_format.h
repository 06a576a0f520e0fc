// The two forms of an event line: a JSON object whose first members are "t"
// (milliseconds since start) and "event", or a readable line for people.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace qmhost {

// An event's members after "t" and "event", in the order they are written.
using EventMembers = nlohmann::ordered_json;

enum class EventFormat { Json, Text };

// {"t":T,"event":"NAME",...members} on one line, without the line feed. Text that
// is not valid UTF-8 is written with U+FFFD in place of the bad bytes.
std::string FormatEventJson(std::int64_t t, std::string_view event, const EventMembers& members);

// "[    T ms] NAME key=value ..." on one line: strings quoted with C-style escapes,
// numbers and booleans as they are, nested values as compact JSON.
std::string FormatEventText(std::int64_t t, std::string_view event, const EventMembers& members);

// text in double quotes, with C-style escapes for the quote, the backslash and every
// control character: one line that cannot steer a terminal.
std::string QuoteText(const std::string& text);

std::string FormatEvent(EventFormat format, std::int64_t t, std::string_view event,
                        const EventMembers& members);

// An HRESULT as the event lines show it: "0x" and eight upper-case hex digits.
std::string HResultMember(std::int32_t hr);

}  // namespace qmhost
