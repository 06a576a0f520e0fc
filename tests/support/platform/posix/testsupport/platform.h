// What differs for the tests between the platforms: here COM is libqmos's own, so
// the tests check its behaviour, and the plug-in is the module in the build's lib/.
#pragma once

#include <cstdlib>
#include <string>

namespace testsupport {

inline constexpr bool kSystemCom = false;
// Without a presenter, forms and message boxes are answered without a window.
inline constexpr bool kSystemWindows = false;

inline std::string PluginModulePath() { return std::string(std::getenv("QM_TEST_LIB_DIR")) + "/VantiroPlugin.so"; }

}  // namespace testsupport
