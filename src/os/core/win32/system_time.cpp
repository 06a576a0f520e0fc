#include "core/system_time.h"

namespace qmos::detail {

bool SystemLocalTime(std::time_t when, std::tm* parts) { return ::localtime_s(parts, &when) == 0; }

}  // namespace qmos::detail
