#include "diag/trace_file.h"

#include <cstdint>
#include <limits>

#include "diag/trace_line.h"
#include "qmos/log_file.h"

namespace vantiro {

namespace {

// The line as it goes into the file: stamp, text, line feed, behind the warning
// line when there is one. One write puts it all in place.
std::string LineBytes(std::string_view warning, std::string_view stamp, std::string_view text) {
  std::string bytes;
  bytes.reserve(warning.size() + stamp.size() + text.size() + 1);
  bytes.append(warning).append(stamp).append(text).push_back('\n');
  return bytes;
}

// The offset as a write position; one beyond the 32-bit range starts over at 0.
std::int32_t PositionOf(std::int64_t offset) {
  if (offset < 0 || offset > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(offset);
}

}  // namespace

void WriteTraceFileLine(const std::string& filePath, const qmos::LocalTime& time,
                        std::string_view text, TraceFileState& state) {
  const std::string stamp = FormatTraceStamp(time);
  // The file holds call data: it is written only as this user's own file, never
  // through a link (qmos/log_file.h).
  qmos::LogFile file;
  qmos::LogOpen opened = file.OpenExisting(filePath);
  if (opened == qmos::LogOpen::Missing) {
    opened = file.CreateNew(filePath);
    if (opened == qmos::LogOpen::Opened) {
      // A new file: the line is its first content.
      const std::size_t written = file.Write(LineBytes({}, stamp, text), 0);
      state.writePosition = PositionOf(static_cast<std::int64_t>(written));
      return;
    }
    // Another writer created it in the meantime: it is written as an existing file.
    if (opened == qmos::LogOpen::Exists) opened = file.OpenExisting(filePath);
  }
  if (opened != qmos::LogOpen::Opened) return;

  // The size the file has now: someone may have emptied it since the last line.
  std::int64_t size = 0;
  if (!file.Usable(&size)) return;
  const TracePlacement placement =
      PlaceTraceLine(size, static_cast<std::int64_t>(stamp.size() + text.size()), state.maxSize,
                     state.writePosition);
  std::int64_t offset = size;
  std::string warning;
  if (placement.wrap) {
    state.writePosition = placement.offset;
    offset = placement.offset;
    if (placement.warning) warning = FormatTraceWarning(time);
  }
  const std::size_t written = file.Write(LineBytes(warning, stamp, text), offset);
  const std::int64_t end = offset + static_cast<std::int64_t>(written);
  state.writePosition = NextTracePosition(end, state.maxSize);
}

void DeleteTraceFile(const std::string& filePath) { qmos::RemoveLogFile(filePath); }

void AppendFileLine(const std::string& filePath, std::string_view text) {
  qmos::LogFile file;
  if (file.OpenForAppend(filePath) != qmos::LogOpen::Opened) return;
  if (file.Usable()) file.Write(LineBytes({}, {}, text), 0);
}

}  // namespace vantiro
