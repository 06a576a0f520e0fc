// A folder with a random name: creating it fails when the name is taken, so a
// folder that already exists is never used.
#include "temp_folder.h"

#include <filesystem>
#include <random>
#include <stdexcept>

namespace testsupport::detail {

std::string MakeTempFolder() {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto path = std::filesystem::temp_directory_path() / ("vantiro-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) return path.string();
  }
  throw std::runtime_error("no temporary folder could be made");
}

}  // namespace testsupport::detail
