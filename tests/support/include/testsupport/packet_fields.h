// Packets as ordered lists of fields, read with the packet library.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Fields = std::vector<std::pair<std::string, std::string>>;

// The fields of a packet text, in packet order.
Fields ParseFields(const std::string& text);
// The value of the first field called name, or nullopt.
std::optional<std::string> FieldValue(const Fields& fields, const std::string& name);

}  // namespace testsupport
