// Helpers of the registry tests: UTF-16 encoding, folder listings and the built
// qmreg; folders, files and programs come from the shared test support.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "qmos/registry.h"
#include "testsupport/child_process.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace regtest {

// The names in the folder, sorted.
std::vector<std::string> ListFolder(const std::string& path);

// UTF-8 to UTF-16LE bytes (BMP and supplementary planes).
std::string Utf16Le(std::string_view utf8, bool withBom);

// $QM_TEST_BIN_DIR/qmreg
inline std::string QmregPath() { return testsupport::BinDir() + "/qmreg"; }

}  // namespace regtest
