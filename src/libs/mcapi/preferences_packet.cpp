#include "preferences_packet.h"

#include <cstring>
#include <string_view>

namespace vantiro::mcapi {

namespace {

constexpr std::string_view kPrefPrefix = "pref.";

}  // namespace

std::optional<std::string> BuildRequest(const char* command, const std::string& profile,
                                        const std::string& password, HASHTABLE* preferences) {
  const Packet packet(PH_create_empty());
  if (!packet) return std::nullopt;
  if (PH_add(packet.get(), "command", command) != 0 ||
      PH_add(packet.get(), "profile", profile.c_str()) != 0 ||
      PH_add(packet.get(), "password", password.c_str()) != 0) {
    return std::nullopt;
  }
  if (preferences != nullptr) {
    const char** keys = HT_keys(preferences, nullptr);
    for (const char** key = keys; key != nullptr && *key != nullptr; ++key) {
      const char* value = HT_get_str(preferences, *key);
      if (value == nullptr) continue;  // a byte block
      const std::string name = std::string(kPrefPrefix) + *key;
      if (PH_add(packet.get(), name.c_str(), value) != 0) return std::nullopt;
    }
  }
  int length = 0;
  const char* text = PH_build_packet_no_id(packet.get(), &length);
  if (text == nullptr) return std::nullopt;
  return std::string(text, static_cast<std::size_t>(length));
}

Packet ParseAnswer(const std::string& text) {
  return Packet(PH_create(text.data(), static_cast<int>(text.size())));
}

bool IsOk(PACKET answer) {
  const char* result = PH_valueOf(answer, "result");
  return result != nullptr && std::strcmp(result, "ok") == 0;
}

bool StorePreferences(PACKET answer, HASHTABLE* table) {
  int count = 0;
  const char** names = PH_fields(answer, &count);
  for (int i = 0; i < count; ++i) {
    const std::string_view name(names[i]);
    if (name.size() <= kPrefPrefix.size() || name.substr(0, kPrefPrefix.size()) != kPrefPrefix) continue;
    const std::string key(name.substr(kPrefPrefix.size()));
    if (HT_put_str(table, key.c_str(), PH_valueOf(answer, names[i])) != 0) return false;
  }
  return true;
}

}  // namespace vantiro::mcapi
