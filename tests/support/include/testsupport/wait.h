// Bounded polling for conditions another thread or process brings about.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace testsupport {

// Polls pred every millisecond until it holds or timeout passes; returns its last
// answer (so a condition that came true with the time-out still counts).
bool WaitUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Milliseconds since start.
std::int64_t ElapsedMs(std::chrono::steady_clock::time_point start);

}  // namespace testsupport
