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
  // The file's size after the last line written to it, so that a line needs no look
  // at the file beyond opening it: this process is the file's only writer. -1 when
  // not known (at first, after a failed write, when the file could not be opened or
  // was removed): the next line asks the file.
  std::int64_t knownSize = -1;
};

// Appends (or, once the limit is reached, overwrites from the write position) the
// line stamp-of-time + text + line feed in the file at filePath (a path of this
// system). A file that cannot be opened or created loses the line; a write error
// drops the rest of the line.
void WriteTraceFileLine(const std::string& filePath, const qmos::LocalTime& time,
                        std::string_view text, TraceFileState& state);

// Appends text and a line feed to the file at filePath, creating it readable and
// writable by its owner only. Like the trace file it is written only as a regular
// file reached without a symbolic link; a file that cannot be opened loses the line.
void AppendFileLine(const std::string& filePath, std::string_view text);

// Deletes the trace file; a missing file is no error.
void DeleteTraceFile(const std::string& filePath);

}  // namespace vantiro
