// The pieces of a trace line and where in the file it goes. A line is a time stamp,
// the text and a line feed; once the file would reach its size limit, lines go back
// to the top of the file (behind a warning line when they start at offset 0) and
// overwrite what was there.
#pragma once

#include <cstdint>
#include <string>

#include "qmos/clock.h"

namespace vantiro {

// "[MM/DD hh:mm:ss.mmm] ": 21 characters for a time in range.
std::string FormatTraceStamp(const qmos::LocalTime& time);

// The line written at offset 0 before the first wrapped line, with the time of
// the line it precedes.
std::string FormatTraceWarning(const qmos::LocalTime& time);

// Where the next line goes in a file of fileSize bytes.
struct TracePlacement {
  bool wrap = false;         // overwrite from writePosition instead of appending
  std::int32_t offset = 0;   // wrap only: where the line (or its warning) starts
  bool warning = false;      // wrap only: the warning line comes first
};

// lineLength is the length of the stamp and the text (the line feed is not
// counted). A position at or past the end of the file, or negative, starts over
// at 0.
TracePlacement PlaceTraceLine(std::int64_t fileSize, std::int64_t lineLength,
                              std::int32_t maxSize, std::int32_t writePosition);

// The write position after a line that ended at offset end: 0 once the limit is
// reached.
std::int32_t NextTracePosition(std::int64_t end, std::int32_t maxSize);

}  // namespace vantiro
