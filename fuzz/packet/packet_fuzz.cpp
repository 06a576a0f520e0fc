// Feeds arbitrary bytes to PH_create and checks the packet against the text form's
// rules: the fields a plain line-by-line reading of the rules gives (first colon,
// skipped lines, TAB continuation lines, last one wins in place), names that PH_add
// would accept, look-ups by name, and writing back: PH_build_packet_no_id reads back to
// the same fields in the same order and writes the same text again, adding the fields
// one by one with PH_add writes the same text, and PH_build_packet puts a new id first
// or keeps the one there.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "packet.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "packet_fuzz: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

struct PacketOwner {
  PACKET p;
  explicit PacketOwner(PACKET packet) : p(packet) { Check(p != nullptr, "no packet"); }
  ~PacketOwner() { PH_destroy(p); }
  PacketOwner(const PacketOwner&) = delete;
  PacketOwner& operator=(const PacketOwner&) = delete;
};

// The fields the rules give for a text (already cut at its first NUL).
Fields Expected(std::string_view text) {
  Fields fields;
  std::unordered_map<std::string, std::size_t> positions;  // name -> index in fields
  std::ptrdiff_t last = -1;  // the field the line before named or continued; -1 when skipped
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.front() == '\t') {
      if (last >= 0) {
        fields[static_cast<std::size_t>(last)].second += '\n';
        fields[static_cast<std::size_t>(last)].second += line.substr(1);
      }
      continue;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
      last = -1;
      continue;
    }
    const std::string name(line.substr(0, colon));
    const std::string value(line.substr(colon + 1));
    const auto [at, added] = positions.try_emplace(name, fields.size());
    if (added) {
      fields.emplace_back(name, value);
    } else {
      fields[at->second].second = value;
    }
    last = static_cast<std::ptrdiff_t>(at->second);
  }
  return fields;
}

// The packet's fields through PH_fields and PH_valueOf, with the checks every
// packet must pass.
Fields Read(PACKET p) {
  int count = -1;
  const char** names = PH_fields(p, &count);
  Check(names != nullptr && count >= 0, "PH_fields failed");
  Check(names[count] == nullptr, "PH_fields array without its NULL entry");
  Fields fields;
  std::unordered_set<std::string_view> seen;
  for (int i = 0; i < count; ++i) {
    const std::string_view name(names[i]);
    Check(!name.empty(), "empty name");
    Check(name.find(':') == std::string_view::npos && name.find('\n') == std::string_view::npos,
          "name holds a colon or a line feed");
    Check(name.front() != '\t', "name starts with a TAB");
    const char* value = PH_valueOf(p, names[i]);
    Check(value != nullptr, "a listed field has no value");
    Check(seen.insert(name).second, "repeated name");
    fields.emplace_back(std::string(name), value);
  }
  return fields;
}

std::string BuildNoId(PACKET p) {
  int length = -1;
  const char* text = PH_build_packet_no_id(p, &length);
  Check(text != nullptr && length >= 0, "PH_build_packet_no_id failed");
  Check(std::strlen(text) == static_cast<std::size_t>(length), "built length differs from the text");
  return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  PH_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 1 << 20) return 0;
  const auto* chars = reinterpret_cast<const char*>(data);
  std::string_view text(chars, size);
  text = text.substr(0, text.find('\0'));  // parsing stops at a NUL byte

  PacketOwner parsed(PH_create(chars, static_cast<int>(size)));
  const Fields fields = Read(parsed.p);
  Check(fields == Expected(text), "parsed fields differ from the text form's rules");

  // The same text given NUL-terminated (negative length) parses alike.
  const std::string terminated(text);
  PacketOwner again(PH_create(terminated.c_str(), -1));
  Check(Read(again.p) == fields, "a NUL-terminated text parses differently");

  // Look-ups: a name no field can have is missing, and a missing field is NULL.
  Check(PH_valueOf(parsed.p, "no:such") == nullptr, "a name with a colon was found");

  // Writing back reads back to the same fields, and writes the same text again.
  const std::string written = BuildNoId(parsed.p);
  PacketOwner reread(PH_create(written.data(), static_cast<int>(written.size())));
  Check(Read(reread.p) == fields, "written text reads back differently");
  Check(BuildNoId(reread.p) == written, "writing the read-back packet gives another text");

  // Adding the fields one by one gives the same packet.
  PacketOwner added(PH_create_empty());
  for (const auto& field : fields) {
    Check(PH_add(added.p, field.first.c_str(), field.second.c_str()) == 0, "PH_add refused a parsed field");
  }
  Check(BuildNoId(added.p) == written, "fields added one by one write another text");

  // An id: a new one goes first, one already there is kept.
  const char* oldId = PH_valueOf(parsed.p, "id");
  const std::string keptId = oldId != nullptr ? oldId : "";
  int length = -1;
  const char* withId = PH_build_packet(parsed.p, &length);
  Check(withId != nullptr && length >= 0, "PH_build_packet failed");
  PacketOwner identified(PH_create(withId, length));
  const Fields idFields = Read(identified.p);
  Check(!idFields.empty(), "a built packet without fields");
  if (oldId != nullptr) {
    Check(idFields == fields, "a packet with an id changed when built");
  } else {
    Check(idFields.size() == fields.size() + 1 && idFields.front().first == "id", "the new id is not first");
    Check(!idFields.front().second.empty() && idFields.front().second.size() <= 67, "the new id's length");
    Check(Fields(idFields.begin() + 1, idFields.end()) == fields, "building with an id changed other fields");
  }
  const char* idNow = PH_valueOf(parsed.p, "id");
  Check(idNow != nullptr && (oldId == nullptr || keptId == idNow), "the id was not kept");
  return 0;
}
