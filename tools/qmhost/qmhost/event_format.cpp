#include "qmhost/event_format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace qmhost {

namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The length of the well-formed UTF-8 sequence at the start of bytes (1 to 4), with
// its code point; 0 when the bytes there are not one (a stray continuation byte, an
// overlong form, a surrogate, beyond U+10FFFF, or cut short).
std::size_t Utf8Sequence(std::string_view bytes, char32_t& point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  // By the lead byte: the sequence's length, the lead's bits of the code point, and
  // the least code point that needs that length.
  std::size_t length = 0;
  char32_t min = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    point = lead & 0x1Fu;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    point = lead & 0x0Fu;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    point = lead & 0x07u;
    min = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80u) return 0;
    point = (point << 6) | (byte(i) & 0x3Fu);
  }
  if (point < min || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

// A backslash, letter, and value as that many upper-case hex digits.
void AppendEscape(std::string& out, char letter, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '\\';
  out += letter;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xFu];
}

}  // namespace

std::string EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80) {
      char32_t point = 0;
      const std::size_t length = Utf8Sequence(text.substr(at), point);
      if (length == 0) {
        AppendEscape(out, 'x', c, 2);  // not UTF-8: the byte itself, shown
        ++at;
      } else if (point <= 0x9F) {
        AppendEscape(out, 'u', static_cast<unsigned>(point), 4);  // a C1 control
        at += length;
      } else {
        out.append(text.substr(at, length));
        at += length;
      }
      continue;
    }
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c == 0x7F) AppendEscape(out, 'x', c, 2);
        else out += static_cast<char>(c);
    }
    ++at;
  }
  return out;
}

std::string QuoteText(std::string_view text) { return "\"" + EscapeText(text) + "\""; }

bool IsSecretKey(std::string_view key) {
  static constexpr std::string_view kWord = "password";
  const auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
  };
  return std::search(key.begin(), key.end(), kWord.begin(), kWord.end(), same) != key.end();
}

bool HoldsSecret(std::string_view event, const EventMembers& members) {
  if (event != "put_data" && event != "get_data" && event != "setting") return false;
  if (!members.is_object() || !members.contains("value")) return false;
  const auto key = members.find("key");
  return key != members.end() && key->is_string() && IsSecretKey(key->get_ref<const std::string&>());
}

EventMembers WithSecretHidden(EventMembers members) {
  members["value"] = "***";
  return members;
}

std::string FormatEventJson(std::int64_t t, std::string_view event, const EventMembers& members) {
  Json line = Json::object();
  line["t"] = t;
  line["event"] = std::string(event);
  if (members.is_object())
    for (const auto& [key, value] : members.items()) line[key] = value;
  return Dump(line);
}

std::string FormatEventText(std::int64_t t, std::string_view event, const EventMembers& members) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8lld ms] ", static_cast<long long>(t));
  std::string line = stamp;
  line += event;
  if (!members.is_object()) return line;
  for (const auto& [key, value] : members.items()) {
    line += ' ';
    line += key;
    line += '=';
    line += value.is_string() ? QuoteText(value.get<std::string>()) : Dump(value);
  }
  return line;
}

std::string FormatEvent(EventFormat format, std::int64_t t, std::string_view event,
                        const EventMembers& members) {
  return format == EventFormat::Json ? FormatEventJson(t, event, members)
                                     : FormatEventText(t, event, members);
}

std::string HResultMember(std::int32_t hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return buffer;
}

}  // namespace qmhost
