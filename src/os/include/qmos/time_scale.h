// One factor for every wait, pause, poll interval, heartbeat and throttle, so that
// tests and demonstrations can run the real state machine faster.
#pragma once

#include <cstdint>

namespace qmos {

// The positive decimal in $VANTIRO_TIME_SCALE, read once; 1 when unset or not a
// positive number.
double TimeScale();

// A duration in milliseconds multiplied by the time scale, rounded, and at least 1
// for a positive input (a scaled wait never becomes a busy spin). 0 stays 0.
std::int64_t ScaledMs(std::int64_t ms);

}  // namespace qmos
