#include "diag/trace_line.h"

#include <cstdio>

namespace vantiro {

namespace {

constexpr const char* kStampFormat = "[%02d/%02d %02d:%02d:%02d.%03d] ";
constexpr const char* kWarningText = "Warning:Log file is FULL and existing logs are being re-written!\n";

}  // namespace

namespace {

// Appends value as exactly width digits; false when it does not fit them.
bool PutDigits(std::string& out, int value, int width) {
  if (value < 0) return false;
  char digits[4];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  if (value != 0) return false;
  out.append(digits, static_cast<std::size_t>(width));
  return true;
}

}  // namespace

std::string FormatTraceStamp(const qmos::LocalTime& time) {
  // Every line has a stamp: the usual case is built digit by digit, without the
  // format machinery; a field out of its range goes through the format below.
  struct Field {
    int value;
    int width;
    char after;
  };
  const Field fields[] = {{time.month, 2, '/'},  {time.day, 2, ' '},    {time.hour, 2, ':'},
                          {time.minute, 2, ':'}, {time.second, 2, '.'}, {time.millisecond, 3, ']'}};
  std::string stamp(1, '[');
  stamp.reserve(21);
  bool inRange = true;
  for (const Field& field : fields) {
    inRange = PutDigits(stamp, field.value, field.width);
    if (!inRange) break;
    stamp += field.after;
  }
  if (inRange) {
    stamp += ' ';
    return stamp;
  }
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
