// Clearing memory in a way the compiler may not drop, even when the memory is freed
// next: each platform's own call for it.
#pragma once

#include <cstddef>

namespace qmos::detail {

void ClearMemory(void* data, std::size_t size);

}  // namespace qmos::detail
