// Sleeping on a 32-bit word until another thread changes it: the one primitive the
// events are built on, which each platform provides its own way (a futex on Linux,
// WaitOnAddress on Windows).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace qmos::detail {

// Sleeps while word holds expected, at most *timeout (nullptr: no limit). Returns at
// once when the word already differs, and may also return early for no reason, so
// callers look again.
void WaitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                    const std::chrono::nanoseconds* timeout);

// Wakes one thread sleeping on word, if any.
void WakeOneWaiter(std::atomic<std::uint32_t>& word);

}  // namespace qmos::detail
