#include "process_identity.h"

#include <windows.h>

namespace vantiro::packet {

std::uint64_t CurrentProcessId() { return ::GetCurrentProcessId(); }

// Windows processes do not fork: a process's id never changes under it.
void RefreshAfterFork(void (*)()) {}

}  // namespace vantiro::packet
