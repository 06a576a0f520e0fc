// Pausing the calling thread.
#pragma once

#include <cstdint>

namespace qmos {

// Suspends the calling thread for ms milliseconds (0 yields the processor).
void Sleep(std::uint32_t ms);

}  // namespace qmos
