#include "diag/trace_line.h"

#include <cstdio>

namespace vantiro {

namespace {

constexpr const char* kStampFormat = "[%02d/%02d %02d:%02d:%02d.%03d] ";
constexpr const char* kWarningText = "Warning:Log file is FULL and existing logs are being re-written!\n";

}  // namespace

std::string FormatTraceStamp(const qmos::LocalTime& time) {
  char buffer[64];
  const int length = std::snprintf(buffer, sizeof buffer, kStampFormat, time.month, time.day,
                                   time.hour, time.minute, time.second, time.millisecond);
  if (length < 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(length) < sizeof buffer
                                 ? static_cast<std::size_t>(length)
                                 : sizeof buffer - 1);
}

std::string FormatTraceWarning(const qmos::LocalTime& time) {
  return FormatTraceStamp(time) + kWarningText;
}

TracePlacement PlaceTraceLine(std::int64_t fileSize, std::int64_t lineLength,
                              std::int32_t maxSize, std::int32_t writePosition) {
  TracePlacement placement;
  if (fileSize + lineLength < maxSize) return placement;
  placement.wrap = true;
  placement.offset = (writePosition < 0 || writePosition >= fileSize) ? 0 : writePosition;
  placement.warning = placement.offset == 0;
  return placement;
}

std::int32_t NextTracePosition(std::int64_t end, std::int32_t maxSize) {
  if (end < 0 || end >= maxSize) return 0;
  return static_cast<std::int32_t>(end);
}

}  // namespace vantiro
