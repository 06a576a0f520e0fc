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

// text with C-style escapes for the quote, the backslash and every control
// character, so that it stays on one line and cannot steer a terminal: C0 controls
// and DEL as \n, \r, \t or \xNN, C1 controls (U+0080 to U+009F) as \uNNNN, and each
// byte that is not part of well-formed UTF-8 as \xNN. Other characters stay as they are.
std::string EscapeText(std::string_view text);

// EscapeText(text) in double quotes.
std::string QuoteText(std::string_view text);

// Whether a setting's key names a secret: it contains "password", in any case. Its
// value is written as "***" in events unless secrets are to be shown.
bool IsSecretKey(std::string_view key);

// Whether the members of event carry the value of a secret setting: a `put_data`,
// `get_data` or `setting` event with a "value" whose "key" is secret.
bool HoldsSecret(std::string_view event, const EventMembers& members);

// members with "value" written as "***".
EventMembers WithSecretHidden(EventMembers members);

std::string FormatEvent(EventFormat format, std::int64_t t, std::string_view event,
                        const EventMembers& members);

// An HRESULT as the event lines show it: "0x" and eight upper-case hex digits.
std::string HResultMember(std::int32_t hr);

}  // namespace qmhost
