#include "testsupport/packet_fields.h"

#include "packet.h"

namespace testsupport {

Fields ParseFields(const std::string& text) {
  Fields fields;
  PACKET packet = PH_create(text.data(), static_cast<int>(text.size()));
  int count = 0;
  const char** names = PH_fields(packet, &count);
  for (int i = 0; i < count; ++i) fields.emplace_back(names[i], PH_valueOf(packet, names[i]));
  PH_destroy(packet);
  return fields;
}

std::optional<std::string> FieldValue(const Fields& fields, const std::string& name) {
  for (const auto& [n, v] : fields) {
    if (n == name) return v;
  }
  return std::nullopt;
}

}  // namespace testsupport
