// A new, empty folder under the system's temporary folder, made by the platform's
// own means; throws when none can be made.
#pragma once

#include <string>

namespace testsupport::detail {

std::string MakeTempFolder();

}  // namespace testsupport::detail
