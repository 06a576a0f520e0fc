// Ids for built packets: unique among all packets of all processes on the machine.
#pragma once

#include <cstddef>
#include <string>

namespace vantiro::packet {

// The longest id a packet may carry (the sent-packet record holds 67 characters).
inline constexpr std::size_t kMaxIdLength = 67;

// Fixes the process start time used in ids. Safe to call more than once, from any thread.
void InitPacketIds();

// "<pid>-<start>-<serial>" in lower-case hex: process id, process start time in
// microseconds since 1970 and a per-process serial number. Thread-safe.
std::string NewPacketId();

}  // namespace vantiro::packet
