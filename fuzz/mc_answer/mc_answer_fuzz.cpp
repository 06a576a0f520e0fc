// Feeds arbitrary answer texts to the mailbox-server client's answer reading: the
// result test, and the preferences stored from "pref.KEY" fields. The table must then
// hold exactly those keys with their values, and a put request built from it must
// carry the credentials first and every one of them back as "pref.KEY" fields.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "hashtable.h"
#include "packet.h"
#include "preferences_packet.h"

namespace {

namespace mc = vantiro::mcapi;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "mc_answer_fuzz: %s\n", what);
  std::abort();
}

struct TableDeleter {
  void operator()(HASHTABLE* t) const { HT_destroy(t); }
};

using Preferences = std::map<std::string, std::string>;

// The preferences a packet carries: "pref.KEY" fields with a non-empty KEY.
Preferences Carried(PACKET packet) {
  Preferences prefs;
  int count = 0;
  const char** names = PH_fields(packet, &count);
  for (int i = 0; i < count; ++i) {
    const std::string_view name(names[i]);
    if (name.size() > 5 && name.substr(0, 5) == "pref.") prefs[std::string(name.substr(5))] = PH_valueOf(packet, names[i]);
  }
  return prefs;
}

Preferences Stored(HASHTABLE* table) {
  Preferences prefs;
  int count = 0;
  const char** keys = HT_keys(table, &count);
  Check(keys != nullptr && keys[count] == nullptr, "HT_keys");
  for (int i = 0; i < count; ++i) {
    const char* value = HT_get_str(table, keys[i]);
    Check(value != nullptr, "a stored preference is not a string");
    prefs[keys[i]] = value;
  }
  return prefs;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PH_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 20) return 0;  // the client takes no longer answer
  const std::string text(reinterpret_cast<const char*>(data), size);
  const mc::Packet answer = mc::ParseAnswer(text);
  Check(answer != nullptr, "no answer packet");

  const char* result = PH_valueOf(answer.get(), "result");
  Check(mc::IsOk(answer.get()) == (result != nullptr && std::strcmp(result, "ok") == 0), "IsOk");

  const std::unique_ptr<HASHTABLE, TableDeleter> table(HT_create(8, 0));
  Check(table != nullptr, "HT_create");
  Check(HT_put_str(table.get(), "kept", "before") == 0, "HT_put_str");
  Check(mc::StorePreferences(answer.get(), table.get()), "StorePreferences refused an answer");

  Preferences expected = Carried(answer.get());
  expected.try_emplace("kept", "before");  // an entry the answer does not name stays
  const Preferences stored = Stored(table.get());
  Check(stored == expected, "stored preferences differ from the answer's");

  const std::optional<std::string> request = mc::BuildRequest(mc::kPutCommand, "4711", "secret", table.get());
  Check(request.has_value(), "a put of stored preferences cannot be built");
  const mc::Packet sent = mc::ParseAnswer(*request);
  int count = 0;
  const char** names = PH_fields(sent.get(), &count);
  Check(count >= 3 && std::strcmp(names[0], "command") == 0 && std::strcmp(names[1], "profile") == 0 &&
            std::strcmp(names[2], "password") == 0 && PH_valueOf(sent.get(), "id") == nullptr,
        "the request's first fields");
  Check(std::strcmp(PH_valueOf(sent.get(), "command"), mc::kPutCommand) == 0 &&
            std::strcmp(PH_valueOf(sent.get(), "password"), "secret") == 0,
        "the request's credentials");
  Check(count == static_cast<int>(3 + stored.size()) && Carried(sent.get()) == stored,
        "the request does not carry every stored preference");
  return 0;
}
