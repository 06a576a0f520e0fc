#include "connection/perf_rows.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "connection/sent_packets.h"
#include "diag/perf_log.h"

namespace vantiro {

namespace {

std::string FieldOf(PACKET packet, const char* name) {
  const char* value = PH_valueOf(packet, name);
  return value != nullptr ? std::string(value) : std::string();
}

// A stamp field as a number: a missing or malformed one is 0, one beyond the 32-bit
// range is held at its bound.
std::int32_t StampField(PACKET packet, const char* name) {
  const char* value = PH_valueOf(packet, name);
  if (value == nullptr) return 0;
  char* end = nullptr;
  const long long number = std::strtoll(value, &end, 10);
  if (end == value) return 0;
  constexpr long long kMin = std::numeric_limits<std::int32_t>::min();
  constexpr long long kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(number < kMin ? kMin : number > kMax ? kMax : number);
}

}  // namespace

void LogAnswerTime(const SentPacketRecord& record) {
  const PerfTime received = PerfNow();
  const std::string id(record.id, strnlen(record.id, sizeof record.id));
  const std::string command(record.command, strnlen(record.command, sizeof record.command));
  WritePerfLine(AnswerRow(id, command, PerfTime{record.sentTime, record.sentMillis}, received));
}

void LogActivityTime(PACKET packet) {
  const PerfTime received = PerfNow();
  // A "millitm" outside 0..999 is held to that range by the row.
  const PerfTime stamped{StampField(packet, "time_t"), StampField(packet, "millitm")};
  const std::string label = FieldOf(packet, "command") + " - " + FieldOf(packet, "activity");
  WritePerfLine(ActivityRow(FieldOf(packet, "id"), label, stamped, received));
}

}  // namespace vantiro
