#include "temp_folder.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace testsupport::detail {

std::string MakeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vantiro-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

}  // namespace testsupport::detail
