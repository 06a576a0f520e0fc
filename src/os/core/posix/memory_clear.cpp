#include "core/memory_clear.h"

#include <cstring>

namespace qmos::detail {

void ClearMemory(void* data, std::size_t size) { ::explicit_bzero(data, size); }

}  // namespace qmos::detail
