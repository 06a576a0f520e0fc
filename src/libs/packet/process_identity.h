// The process's id, and the hook that keeps it right in a forked child: the part of
// the packet ids each platform gives its own way.
#pragma once

#include <cstdint>

namespace vantiro::packet {

std::uint64_t CurrentProcessId();

// Calls refresh in the child after every fork (where processes fork at all).
void RefreshAfterFork(void (*refresh)());

}  // namespace vantiro::packet
