// The cost of one line in the trace log and in the performance log, each against a
// bare loop that opens the file for appending, writes the same bytes and closes it;
// and the cost of a trace call while the trace is switched off (what every trace
// call site costs the product).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "diag/perf_log.h"
#include "diag/trace_line.h"
#include "diag/trace_log.h"
#include "qmos/clock.h"

namespace {

// A typical line of the reader's.
constexpr const char* kTraceFormat = "ReadThread::ProcessPacket(): id=[%s]";
constexpr const char* kPacketId = "vt-4f1c2a9e-000017-00000042";

// A private folder for the files, removed at the end.
class Folder {
 public:
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantiro-diag-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

Folder& Files() {
  static Folder folder;
  return folder;
}

// The trace log pointed at the folder (its Windows form is the same path).
void OpenTrace() {
  vantiro::OpenTraceLog((Files().Path() / "VantiroBackend.out").string());
  vantiro::SetTraceEnabled(true);
}

// Opens path for appending, writes bytes, closes it: the least a line can cost.
void BareAppend(benchmark::State& state, const std::string& path, const std::string& bytes) {
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      state.SkipWithError("cannot append");
      break;
    }
    ::close(fd);
  }
  std::filesystem::remove(path);
}

void TraceLine(benchmark::State& state) {
  OpenTrace();
  for (auto _ : state) vantiro::Trace(kTraceFormat, kPacketId);
}

void TraceBare(benchmark::State& state) {
  const std::string line = vantiro::FormatTraceStamp(qmos::LocalNow()) + "ReadThread::ProcessPacket(): id=[" +
                           kPacketId + "]\n";
  BareAppend(state, (Files().Path() / "bare.out").string(), line);
}

std::string PerfRow() {
  return vantiro::AnswerRow(kPacketId, "call_hold", vantiro::PerfNow(), vantiro::PerfNow());
}

void PerfLine(benchmark::State& state) {
  OpenTrace();  // the performance log lies beside the trace file
  const std::string row = PerfRow();
  for (auto _ : state) vantiro::WritePerfLine(row);
}

void PerfBare(benchmark::State& state) { BareAppend(state, (Files().Path() / "bare.perf").string(), PerfRow() + "\n"); }

void TraceOff(benchmark::State& state) {
  vantiro::SetTraceEnabled(false);
  for (auto _ : state) vantiro::Trace(kTraceFormat, kPacketId);
}

BENCHMARK(TraceLine)->Name("TraceLine/trace_log");
BENCHMARK(TraceBare)->Name("TraceLine/bare");
BENCHMARK(PerfLine)->Name("PerfLine/perf_log");
BENCHMARK(PerfBare)->Name("PerfLine/bare");
BENCHMARK(TraceOff)->Name("TraceCall/off");

}  // namespace

BENCHMARK_MAIN();
