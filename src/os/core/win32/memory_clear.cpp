#include "core/memory_clear.h"

#include <windows.h>

namespace qmos::detail {

void ClearMemory(void* data, std::size_t size) { ::SecureZeroMemory(data, size); }

}  // namespace qmos::detail
