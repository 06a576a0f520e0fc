#include "core/system_time.h"

namespace qmos::detail {

bool SystemLocalTime(std::time_t when, std::tm* parts) { return ::localtime_r(&when, parts) != nullptr; }

}  // namespace qmos::detail
