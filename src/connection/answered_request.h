// The reader's side of the sent-packet table: finding the request that an answer
// names by its id, and forgetting it once the answer has been acted on. Every access
// holds sentPacketsLock; what is found is copied out under it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vantiro {

// A copy of the sent-packet record of one request.
struct AnsweredRequest {
  std::string command;
  std::string id;
  std::int32_t sentTime = 0;      // seconds since 1970-01-01 00:00 UTC
  std::uint16_t sentMillis = 0;   // 0 to 999
};

// The record stored under id, or nullopt when there is none (no table, no such id,
// a null id, or an entry that is not a record).
std::optional<AnsweredRequest> FindSentPacket(const char* id);

// Removes the entry of id; nothing happens when it is already gone.
void ForgetSentPacket(const char* id);

}  // namespace vantiro
