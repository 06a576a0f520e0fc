#include "process_identity.h"

#include <pthread.h>
#include <unistd.h>

namespace vantiro::packet {

std::uint64_t CurrentProcessId() { return static_cast<std::uint64_t>(::getpid()); }

void RefreshAfterFork(void (*refresh)()) { ::pthread_atfork(nullptr, nullptr, refresh); }

}  // namespace vantiro::packet
