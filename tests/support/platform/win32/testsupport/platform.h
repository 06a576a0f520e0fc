// What differs for the tests between the platforms: on Windows COM, BSTRs, VARIANTs
// and the registry are the system's (ole32, oleaut32, advapi32), and the plug-in is
// the module in the build's bin/.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace testsupport {

inline constexpr bool kSystemCom = true;
// Without a presenter, forms and message boxes are the system's real windows.
inline constexpr bool kSystemWindows = true;

// In the system's form (drive, backslashes), as the module names itself.
inline std::string PluginModulePath() {
  const std::filesystem::path path = std::string(std::getenv("QM_TEST_BIN_DIR")) + "/VantiroPlugin.dll";
  return std::filesystem::absolute(path).make_preferred().string();
}

}  // namespace testsupport
