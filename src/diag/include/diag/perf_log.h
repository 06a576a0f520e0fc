// The performance log: how long the multiplexor takes to answer each request, and
// when notices arrive compared with the time stamped in them. A text file beside
// the trace file (its path followed by ".perf"), only ever appended to, one line
// opened, written and closed at a time under the performance log's lock.
//
// Written only while the process-wide switch PerfLogEnabled is on; the product never
// turns it on, tests and benchmarks do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantiro {

// The file beside the trace log (a path of this system).
std::string PerfLogPath();

// Appends text and a line feed under the performance log's lock. A file that
// cannot be opened loses the line.
void WritePerfLine(std::string_view text);

// The 16 banner lines, the column header and its rule.
void WritePerfBanner();

// A moment as the log shows it: whole seconds since 1970 and milliseconds (held to
// 0..999 wherever a row shows or uses them).
struct PerfTime {
  std::int32_t seconds = 0;
  std::int32_t millis = 0;
};
PerfTime PerfNow();

// The row of an answer: the request's id and command, when it was sent and when its
// answer came, and the milliseconds between.
std::string AnswerRow(const std::string& id, const std::string& command, PerfTime sent,
                      PerfTime received);

// The row of a notice: its id, "command - activity", the time stamped in it and when
// it came, and the distance between the two clocks in milliseconds behind "*".
std::string ActivityRow(const std::string& id, const std::string& label, PerfTime stamped,
                        PerfTime received);

}  // namespace vantiro
