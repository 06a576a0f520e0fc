// The --registry FILE (or --registry=FILE) option that the registry tools share.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qmtools {

enum class OptionTaken {
  No,     // args[i] is not the option
  Yes,    // taken into registry (i moved past a separate file name)
  Error,  // given twice or without a file name; error says which
};

// Looks at args[i] (lower, its lower-case form) for the registry option.
OptionTaken TakeRegistryOption(const std::vector<std::string>& args, std::size_t& i,
                               const std::string& lower, std::optional<std::string>& registry,
                               std::string& error);

}  // namespace qmtools
