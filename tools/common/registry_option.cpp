#include "registry_option.h"

namespace qmtools {

OptionTaken TakeRegistryOption(const std::vector<std::string>& args, std::size_t& i,
                               const std::string& lower, std::optional<std::string>& registry,
                               std::string& error) {
  static const std::string kJoined = "--registry=";
  if (lower != "--registry" && lower.rfind(kJoined, 0) != 0) return OptionTaken::No;
  if (registry) {
    error = "--registry given twice.";
    return OptionTaken::Error;
  }
  if (lower == "--registry") {
    if (i + 1 >= args.size()) {
      error = "--registry needs a file name.";
      return OptionTaken::Error;
    }
    registry = args[++i];
  } else {
    registry = args[i].substr(kJoined.size());
  }
  if (registry->empty()) {
    error = "--registry needs a file name.";
    return OptionTaken::Error;
  }
  return OptionTaken::Yes;
}

}  // namespace qmtools
