// Writing one line to the trace file: the file is opened, written and closed for
// every line, so no handle stays open between lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qmos/clock.h"

namespace vantiro {

// The size limit in force and the place of the next wrapped line; the write
// updates the position.
struct TraceFileState {
  std::int32_t maxSize = 0;
  std::int32_t writePosition = 0;
};

// Appends (or, once the limit is reached, overwrites from the write position) the
// line stamp-of-time + text + line feed in the file at filePath (a path of this
// system). A file that cannot be opened or created loses the line, and so does one
// that may not be written (qmos/log_file.h: a link, a file of another user's or
// with a second name); a write error drops the rest of the line.
void WriteTraceFileLine(const std::string& filePath, const qmos::LocalTime& time,
                        std::string_view text, TraceFileState& state);

// Appends text and a line feed to the file at filePath, creating it readable and
// writable by its owner only. Like the trace file it is written only as a usable
// file reached without a link; any other file loses the line.
void AppendFileLine(const std::string& filePath, std::string_view text);

// Deletes the trace file; a missing file is no error.
void DeleteTraceFile(const std::string& filePath);

}  // namespace vantiro
