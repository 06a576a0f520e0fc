#include "qmhost/event_format.h"

#include <cstdio>

namespace qmhost {

namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string QuoteText(const std::string& text) {
  // Every control character and the quote are escaped, so one event always stays
  // on one line.
  std::string out = "\"";
  for (const unsigned char c : text) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
          out += buffer;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
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
