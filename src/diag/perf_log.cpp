#include "diag/perf_log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "diag/format_text.h"
#include "diag/trace_file.h"
#include "diag/trace_log.h"
#include "qmos/clock.h"
#include "qmos/critical_section.h"
#include "qmos/paths.h"

namespace vantiro {

namespace {

constexpr const char* kBanner[] = {
    "*********************************************************",
    "* This log file is used for logging performance numbers *",
    "* that can help show the throughput that the Vantiro    *",
    "* middle-ware is delivering.  Some numbers can          *",
    "* be interpreted directly.  These are numbers where we  *",
    "* send a packet and we can measure the time taken to get*",
    "* a response.  Some numbers can only be used relatively,*",
    "* e.g, when we get an activity packet.  Because system  *",
    "* clocks can never be synchronized perfectly, we can't  *",
    "* actually tell what time the packet was sent in terms  *",
    "* of the Quillmere Client clock.  We can however use    *",
    "* the numbers to judge if the performance is degrading  *",
    "* or improving over time.  Numbers that cannot be       *",
    "* interpreted literally will be preceded by an asterisk *",
    "*********************************************************",
    "",
    "Packet ID                        Command              Sent            Received       Elapsed ms",
    "================================ ==================== =============== ============== ==========",
};

// A moment's milliseconds held to 0..999: a stamp from a notice may carry any
// number there.
std::int32_t HeldMillis(std::int32_t millis) { return std::clamp(millis, 0, 999); }

// Milliseconds from a to b, all in 64 bits, so that neither a far-off stamp nor a
// long wait can overflow or wrap the figure.
std::int64_t MillisBetween(PerfTime a, PerfTime b) {
  return (static_cast<std::int64_t>(b.seconds) - a.seconds) * 1000 +
         (static_cast<std::int64_t>(HeldMillis(b.millis)) - HeldMillis(a.millis));
}

}  // namespace

std::string PerfLogPath() { return TraceLogSystemPath() + ".perf"; }

void WritePerfLine(std::string_view text) {
  qmos::CriticalSectionGuard guard(PerfLock());
  AppendFileLine(PerfLogPath(), text);
}

void WritePerfBanner() {
  for (const char* line : kBanner) WritePerfLine(line);
}

PerfTime PerfNow() {
  const std::int64_t now = qmos::WallClockMs();
  return PerfTime{static_cast<std::int32_t>(now / 1000), static_cast<std::int32_t>(now % 1000)};
}

std::string AnswerRow(const std::string& id, const std::string& command, PerfTime sent,
                      PerfTime received) {
  return FormatText("%s %-20s %11ld.%03d %10ld.%03d %10lld", id.c_str(), command.c_str(),
                static_cast<long>(sent.seconds), HeldMillis(sent.millis),
                static_cast<long>(received.seconds), HeldMillis(received.millis), static_cast<long long>(MillisBetween(sent, received)));
}

std::string ActivityRow(const std::string& id, const std::string& label, PerfTime stamped,
                        PerfTime received) {
  const std::string difference =
      FormatText("*%lld", static_cast<long long>(std::llabs(MillisBetween(stamped, received))));
  return FormatText("%s %-20s *%10ld.%03d %ld.%03d %10s", id.c_str(), label.c_str(),
                static_cast<long>(stamped.seconds), HeldMillis(stamped.millis),
                static_cast<long>(received.seconds), HeldMillis(received.millis), difference.c_str());
}

}  // namespace vantiro
