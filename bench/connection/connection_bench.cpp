// The plug-in's multiplexor connection against a bare OpenSSL client, side by side in
// one run, over loopback TLS to the same in-process peer (which answers each frame
// with its id and "result:ok"):
//   RoundTrip   one "mc_hold_call" Publish into the plug-in until the answer has been
//               handled (its entry removed from the sent-packet table) / one frame
//               written and its answer read. The peer follows each answer with an
//               activity notice in the same write, which the plug-in relays to the
//               client after handling the answer: the plug-in's time ends when the
//               relay reaches the client; the bare client reads both frames.
//   Pipelined   N requests queued until every answer has been handled / N frames
//               written, then the 2N answers and notices read
//   Delivered   N requests queued until the peer has received all N / N frames
//               written until the peer has received them (answers drained untimed)
//   RoundTrip/plugin_traced   the plug-in's round trip with the trace log on
// Round trips also report their 50th and 99th percentiles (p50_us, p99_us). At the
// end the plug-in / bare ratios are printed (medians with --benchmark_repetitions);
// with --benchmark_out=FILE the figures go to FILE as JSON too (scripts/bench.sh).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bare_client.h"
#include "diag/trace_log.h"
#include "plugin_session.h"
#include "tls_echo_peer.h"

namespace {

using bench::BareClient;
using bench::Clock;
using bench::PluginSession;
using bench::TlsEchoPeer;

constexpr const char* kHoldQueue = "mc_hold_call";
constexpr const char* kHoldData = "call_id:17\ncall_ip_address:10.0.0.7\nmax_hold_time:60\ncall_channel:2\n";

struct World {
  TlsEchoPeer& peer;
  PluginSession& plugin;
  BareClient& bare;
  std::string holdFrame;  // the text of the plug-in's call_hold frame, for the bare client
};

// The whole process's CPU time (all threads, the peer's too), in seconds.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Reports the process's CPU time per request over the loop as cpu_us: on a machine
// with fewer cores than busy threads the pipelined rates follow it.
class CpuPerRequest {
 public:
  CpuPerRequest() : start_(ProcessCpuSeconds()) {}
  void Report(benchmark::State& state, std::uint64_t requests) const {
    if (requests == 0) return;
    state.counters["cpu_us"] = (ProcessCpuSeconds() - start_) * 1e6 / static_cast<double>(requests);
  }

 private:
  double start_;
};

// Latency percentiles of one run, in microseconds, as counters.
class Percentiles {
 public:
  void Add(double seconds) { samples_.push_back(seconds * 1e6); }
  void Report(benchmark::State& state) {
    if (samples_.empty()) return;
    std::sort(samples_.begin(), samples_.end());
    state.counters["p50_us"] = At(0.50);
    state.counters["p99_us"] = At(0.99);
  }

 private:
  double At(double q) const {
    return samples_[std::min(samples_.size() - 1, static_cast<std::size_t>(q * samples_.size()))];
  }
  std::vector<double> samples_;
};

// The plug-in's times end when the reader relays the notice that follows the answer
// (so after it has removed the answer's entry), taken on the reader's thread: waking
// this waiting thread is the benchmark's cost, not the plug-in's, and the bare client,
// which reads its answers itself, has no such cost. Also splits the time: the Publish
// call, and until the peer has the frame (the call, the writer's wake-up and write),
// in microseconds per request.
void PluginRoundTrip(benchmark::State& state, World& w) {
  w.peer.SetNoticeAfterAnswer(true);
  double toPeer = 0, publishCall = 0;
  Percentiles latency;
  for (auto _ : state) {
    const std::uint64_t relayed = w.plugin.Activities();
    const Clock::time_point start = Clock::now();
    const bool published = w.plugin.Publish(kHoldQueue, kHoldData);
    const Clock::time_point returned = Clock::now();
    if (!published || !w.plugin.WaitActivities(relayed + 1) || !PluginSession::NothingOutstanding()) {
      state.SkipWithError("no answer");
      break;
    }
    const double seconds = std::chrono::duration<double>(w.plugin.LastActivity() - start).count();
    state.SetIterationTime(seconds);
    latency.Add(seconds);
    toPeer += std::chrono::duration<double, std::micro>(w.peer.LastArrival() - start).count();
    publishCall += std::chrono::duration<double, std::micro>(returned - start).count();
  }
  w.peer.SetNoticeAfterAnswer(false);
  latency.Report(state);
  state.counters["publish_us"] = benchmark::Counter(publishCall, benchmark::Counter::kAvgIterations);
  state.counters["to_peer_us"] = benchmark::Counter(toPeer, benchmark::Counter::kAvgIterations);
}

void BareRoundTrip(benchmark::State& state, World& w) {
  w.peer.SetNoticeAfterAnswer(true);
  std::string answer, notice;
  double toPeer = 0;
  Percentiles latency;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    if (!w.bare.WriteFrame(w.holdFrame) || !w.bare.ReadFrame(answer) || !w.bare.ReadFrame(notice)) {
      state.SkipWithError("no answer");
      break;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(seconds);
    latency.Add(seconds);
    toPeer += std::chrono::duration<double, std::micro>(w.peer.LastArrival() - start).count();
  }
  w.peer.SetNoticeAfterAnswer(false);
  latency.Report(state);
  state.counters["to_peer_us"] = benchmark::Counter(toPeer, benchmark::Counter::kAvgIterations);
}

// The same round trip with the trace log on (the session's folder holds the file);
// also reports how many trace lines one request writes.
void PluginRoundTripTraced(benchmark::State& state, World& w, double linesPerRequest) {
  vantiro::SetTraceEnabled(true);
  PluginRoundTrip(state, w);
  vantiro::SetTraceEnabled(false);
  state.counters["trace_lines"] = linesPerRequest;
}

// Each answer is followed by an activity notice, which the plug-in relays after it has
// handled the answer: the batch is done when the last notice has reached the client.
// The bare client reads the same 2N frames.
void PluginPipelined(benchmark::State& state, World& w) {
  const auto n = static_cast<std::uint64_t>(state.range(0));
  w.peer.SetNoticeAfterAnswer(true);
  const CpuPerRequest cpu;
  for (auto _ : state) {
    const std::uint64_t relayed = w.plugin.Activities();
    const Clock::time_point start = Clock::now();
    for (std::uint64_t i = 0; i < n; ++i) w.plugin.Publish(kHoldQueue, kHoldData);
    if (!w.plugin.WaitActivities(relayed + n) || !PluginSession::NothingOutstanding()) {
      state.SkipWithError("answers missing");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(w.plugin.LastActivity() - start).count());
  }
  w.peer.SetNoticeAfterAnswer(false);
  cpu.Report(state, state.iterations() * n);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BarePipelined(benchmark::State& state, World& w) {
  const auto n = state.range(0);
  w.peer.SetNoticeAfterAnswer(true);
  std::string answer;
  const CpuPerRequest cpu;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < n; ++i) w.bare.WriteFrame(w.holdFrame);
    bool complete = true;
    for (long i = 0; i < 2 * n && complete; ++i) complete = w.bare.ReadFrame(answer);
    if (!complete) {
      state.SkipWithError("answers missing");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
  w.peer.SetNoticeAfterAnswer(false);
  cpu.Report(state, static_cast<std::uint64_t>(state.iterations() * n));
  state.SetItemsProcessed(state.iterations() * n);
}

// Waits (untimed) until the plug-in has handled every answer so far: one more request
// whose answer carries a notice, handled after all earlier answers.
bool DrainPlugin(World& w) {
  w.peer.SetNoticeAfterAnswer(true);
  const std::uint64_t relayed = w.plugin.Activities();
  const bool drained = w.plugin.Publish(kHoldQueue, kHoldData) && w.plugin.WaitActivities(relayed + 1);
  w.peer.SetNoticeAfterAnswer(false);
  return drained;
}

void PluginDelivered(benchmark::State& state, World& w) {
  const auto n = static_cast<std::uint64_t>(state.range(0));
  for (auto _ : state) {
    const std::uint64_t base = w.peer.Received();
    const Clock::time_point start = Clock::now();
    for (std::uint64_t i = 0; i < n; ++i) w.plugin.Publish(kHoldQueue, kHoldData);
    Clock::time_point last;
    if (!w.peer.WaitReceived(base + n, last) || !DrainPlugin(w)) {
      state.SkipWithError("frames missing");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(last - start).count());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BareDelivered(benchmark::State& state, World& w) {
  const auto n = state.range(0);
  std::string answer;
  for (auto _ : state) {
    const std::uint64_t base = w.peer.Received();
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < n; ++i) w.bare.WriteFrame(w.holdFrame);
    Clock::time_point last;
    if (!w.peer.WaitReceived(base + static_cast<std::uint64_t>(n), last)) {
      state.SkipWithError("frames missing");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(last - start).count());
    for (long i = 0; i < n; ++i) w.bare.ReadFrame(answer);
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// Prints the usual table and keeps each benchmark's time per iteration and rate.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With --benchmark_repetitions the median of the repetitions counts, otherwise
    // the one run.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      if (run.run_type == Run::RT_Iteration && run.repetitions <= 1)
        timeOf_[run.run_name.str()] = run.GetAdjustedRealTime();
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        timeOf_[run.run_name.str()] = run.GetAdjustedRealTime();
    }
  }
  // plug-in time / bare time of the same measurement.
  void PrintRatios(const std::string& n) const {
    std::printf("\nplug-in / bare (time per iteration; > 1 means the plug-in is slower):\n");
    Ratio("round trip", "RoundTrip/plugin/manual_time", "RoundTrip/bare/manual_time");
    Ratio("pipelined, until answered", "Pipelined/plugin/" + n + "/manual_time",
          "Pipelined/bare/" + n + "/manual_time");
    Ratio("pipelined, until delivered", "Delivered/plugin/" + n + "/manual_time",
          "Delivered/bare/" + n + "/manual_time");
    std::printf("(the rate ratio plug-in / bare is the inverse)\n");
  }

 private:
  void Ratio(const char* what, const std::string& plugin, const std::string& bare) const {
    const auto p = FindPrefix(plugin), b = FindPrefix(bare);
    if (p <= 0 || b <= 0) return;
    std::printf("  %-28s %.2f   (rate ratio %.2f)\n", what, p / b, b / p);
  }
  double FindPrefix(const std::string& name) const {
    for (const auto& [k, v] : timeOf_)
      if (k.rfind(name, 0) == 0) return v;
    return 0;
  }
  std::map<std::string, double> timeOf_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  constexpr int kBatch = 256;  // small enough that unread answers fit in the socket buffers

  TlsEchoPeer peer;
  PluginSession plugin(peer.Port());
  BareClient bare(peer.Port());
  // One request through the plug-in gives the frame the bare client sends.
  World world{peer, plugin, bare, {}};
  if (!DrainPlugin(world)) {
    std::fprintf(stderr, "the plug-in's first request was not answered\n");
    return 1;
  }
  world.holdFrame = peer.LastFrame("call_hold");
  if (world.holdFrame.empty()) {
    std::fprintf(stderr, "the peer has no call_hold frame from the plug-in\n");
    return 1;
  }

  // How many trace lines one request writes: a hundred requests into an empty file.
  double linesPerRequest = 0;
  {
    const std::filesystem::path file = plugin.Folder() / "VantiroBackend.out";
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    vantiro::SetTraceEnabled(true);
    constexpr int kCounted = 100;
    for (int i = 0; i < kCounted; ++i) DrainPlugin(world);
    vantiro::SetTraceEnabled(false);
    std::ifstream in(file);
    const auto lines = std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n');
    linesPerRequest = static_cast<double>(lines) / kCounted;
  }

  benchmark::RegisterBenchmark("RoundTrip/plugin", PluginRoundTrip, std::ref(world))->UseManualTime();
  benchmark::RegisterBenchmark("RoundTrip/bare", BareRoundTrip, std::ref(world))->UseManualTime();
  benchmark::RegisterBenchmark("RoundTrip/plugin_traced", PluginRoundTripTraced, std::ref(world), linesPerRequest)
      ->UseManualTime();
  benchmark::RegisterBenchmark("Pipelined/plugin", PluginPipelined, std::ref(world))->Arg(kBatch)->UseManualTime();
  benchmark::RegisterBenchmark("Pipelined/bare", BarePipelined, std::ref(world))->Arg(kBatch)->UseManualTime();
  benchmark::RegisterBenchmark("Delivered/plugin", PluginDelivered, std::ref(world))->Arg(kBatch)->UseManualTime();
  benchmark::RegisterBenchmark("Delivered/bare", BareDelivered, std::ref(world))->Arg(kBatch)->UseManualTime();

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios(std::to_string(kBatch));
  benchmark::Shutdown();
  return 0;
}
