// The broken-down local time of a moment, as the system's time-zone rules give it:
// each platform calls its own thread-safe conversion.
#pragma once

#include <ctime>

namespace qmos::detail {

// False when the system cannot convert when.
bool SystemLocalTime(std::time_t when, std::tm* parts);

}  // namespace qmos::detail
