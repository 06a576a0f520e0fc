// Long runs of the plug-in's connection, each printing one JSON object on stdout:
//   soak_bench idle SECONDS        CPU time the connected plug-in spends while idle
//                                  (heartbeats only; run it with the time scale at 1)
//   soak_bench requests N          heap and RSS at the start, the middle and the end
//                                  of N requests, each answered and handled
//   soak_bench reconnects N        the same over N dropped and re-made connections
//                                  (run it with a small VANTIRO_TIME_SCALE)
// The peer runs in a child process, so that this process's CPU time and memory are
// the plug-in's (and this harness's main thread) alone. The child answers every frame
// with its id and "result:ok", followed by an activity notice that tells this side
// the answer was handled.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "plugin_session.h"
#include "tls_echo_peer.h"

namespace {

using bench::Clock;
using bench::PluginSession;

constexpr const char* kHoldQueue = "mc_hold_call";
constexpr const char* kHoldData = "call_id:17\ncall_ip_address:10.0.0.7\nmax_hold_time:60\ncall_channel:2\n";

// The peer in a child process, driven through two pipes: this side writes 'd' to
// drop every connection; the child writes one byte per answered login.
class PeerProcess {
 public:
  PeerProcess() {
    int control[2], logins[2], port[2];
    if (pipe2(control, O_CLOEXEC) != 0 || pipe2(logins, O_CLOEXEC) != 0 || pipe2(port, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      close(control[1]);
      close(logins[0]);
      close(port[0]);
      RunChild(control[0], logins[1], port[1]);
      _exit(0);
    }
    close(control[0]);
    close(logins[1]);
    close(port[1]);
    control_ = control[1];
    logins_ = logins[0];
    std::uint16_t value = 0;
    if (read(port[0], &value, sizeof value) != sizeof value) throw std::runtime_error("the peer did not start");
    close(port[0]);
    port_ = value;
  }
  ~PeerProcess() {
    close(control_);  // the child ends at the end of its control pipe
    int status = 0;
    waitpid(pid_, &status, 0);
    close(logins_);
  }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  std::uint16_t Port() const { return port_; }
  void DropClients() { Send('d'); }
  // Takes one login signal if there is one; does not wait.
  bool TakeLogin() {
    pollfd p{logins_, POLLIN, 0};
    char byte;
    return poll(&p, 1, 0) == 1 && read(logins_, &byte, 1) == 1;
  }

 private:
  static void RunChild(int control, int logins, int portOut) {
    bench::TlsEchoPeer peer;
    peer.SetNoticeAfterAnswer(true);
    peer.SetOnLogin([logins] {
      const char byte = 'l';
      if (write(logins, &byte, 1) != 1) return;
    });
    const std::uint16_t port = peer.Port();
    if (write(portOut, &port, sizeof port) != sizeof port) return;
    close(portOut);
    for (char command; read(control, &command, 1) == 1;) {
      if (command == 'd') peer.DropClients();
    }
  }
  void Send(char command) {
    if (write(control_, &command, 1) != 1) throw std::runtime_error("the peer is gone");
  }

  pid_t pid_ = -1;
  int control_ = -1, logins_ = -1;
  std::uint16_t port_ = 0;
};

struct Memory {
  double heapMiB;  // bytes in use from the allocator, including its mapped blocks
  double rssMiB;
};

Memory MemoryNow() {
  malloc_trim(0);  // what the allocator holds but does not use is not the plug-in's
  const struct mallinfo2 info = mallinfo2();
  double rssKiB = 0;
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) rssKiB = std::strtod(line.c_str() + 6, nullptr);
  }
  return Memory{static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0), rssKiB / 1024.0};
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

PluginSession* g_plugin = nullptr;

// Serves the main thread's queue, answering the plug-in's lookups, until done()
// holds; false after the time-out.
bool ServeUntil(const std::function<bool()>& done, std::chrono::seconds timeout = std::chrono::seconds(30)) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    PluginSession::ServeMainThread(1);
    if (g_plugin != nullptr) g_plugin->AnswerLookups();
  }
  return true;
}

// Publishes count requests and waits until every answer has been handled.
bool Requests(PluginSession& plugin, std::uint64_t count) {
  const std::uint64_t relayed = plugin.Activities();
  for (std::uint64_t i = 0; i < count; ++i) plugin.Publish(kHoldQueue, kHoldData);
  return plugin.WaitActivities(relayed + count) &&
         ServeUntil([] { return PluginSession::NothingOutstanding(); });
}

// cpuPerItem: this process's CPU time (the plug-in's threads and the harness's main
// thread; the peer is another process) per request or reconnect, in microseconds.
void PrintMemory(const char* what, std::uint64_t count, const Memory& start, const Memory& middle,
                 const Memory& end, double seconds, double cpuPerItem) {
  std::printf(
      "{\"what\": \"%s\", \"count\": %llu, \"seconds\": %.1f, \"cpu_us_each\": %.2f,"
      " \"heap_mib\": [%.2f, %.2f, %.2f], \"rss_mib\": [%.2f, %.2f, %.2f]}\n",
      what, static_cast<unsigned long long>(count), seconds, cpuPerItem, start.heapMiB, middle.heapMiB,
      end.heapMiB, start.rssMiB, middle.rssMiB, end.rssMiB);
}

int Idle(PluginSession& plugin, int seconds) {
  // One request first, so that everything the connection allocates once is there.
  if (!Requests(plugin, 1)) return 1;
  PluginSession::ServeMainThread(1000);
  const double cpuStart = CpuSeconds();
  const auto start = Clock::now();
  PluginSession::ServeMainThread(seconds * 1000);
  const double cpu = CpuSeconds() - cpuStart;
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  // Still connected: a request is answered.
  const bool alive = Requests(plugin, 1);
  std::printf("{\"what\": \"idle\", \"seconds\": %.1f, \"cpu_seconds\": %.4f, \"cpu_percent\": %.4f,"
              " \"connected\": %s}\n",
              wall, cpu, 100.0 * cpu / wall, alive ? "true" : "false");
  return alive ? 0 : 1;
}

int ManyRequests(PluginSession& plugin, std::uint64_t count) {
  constexpr std::uint64_t kBatch = 256;  // unread answers stay within the socket buffers
  const auto started = Clock::now();
  if (!Requests(plugin, kBatch)) return 1;  // warm-up
  const Memory start = MemoryNow();
  Memory middle = start;
  const double cpuStart = CpuSeconds();
  for (std::uint64_t done = 0; done < count;) {
    const std::uint64_t batch = std::min(kBatch, count - done);
    if (!Requests(plugin, batch)) {
      std::fprintf(stderr, "answers missing after %llu requests\n", static_cast<unsigned long long>(done));
      return 1;
    }
    const bool pastMiddle = done < count / 2 && done + batch >= count / 2;
    done += batch;
    if (pastMiddle) middle = MemoryNow();
  }
  const double cpu = CpuSeconds() - cpuStart;
  const Memory end = MemoryNow();
  PrintMemory("requests", count, start, middle, end,
              std::chrono::duration<double>(Clock::now() - started).count(),
              1e6 * cpu / static_cast<double>(count));
  return 0;
}

int Reconnects(PluginSession& plugin, PeerProcess& peer, std::uint64_t count) {
  const auto started = Clock::now();
  // One drop and reconnect: the plug-in finds the end, pauses, looks the multiplexor
  // up again (answered while waiting, as the client does), connects and logs in.
  const char* failedStep = "";
  auto reconnect = [&] {
    const int lookups = plugin.Lookups();
    peer.DropClients();
    failedStep = "no lookup after the drop";
    if (!ServeUntil([&] { return plugin.Lookups() > lookups; })) return false;
    failedStep = "no login after the lookup";
    if (!ServeUntil([&] { return peer.TakeLogin(); })) return false;
    failedStep = "the login's answer was not handled";
    return ServeUntil([] { return PluginSession::NothingOutstanding(); });
  };
  while (peer.TakeLogin()) {
  }  // the first login's signal
  if (!reconnect()) return 1;  // warm-up
  const Memory start = MemoryNow();
  Memory middle = start;
  const double cpuStart = CpuSeconds();
  for (std::uint64_t done = 0; done < count; ++done) {
    if (!reconnect()) {
      std::fprintf(stderr, "%s, after %llu reconnects\n", failedStep, static_cast<unsigned long long>(done));
      return 1;
    }
    if (done + 1 == count / 2) middle = MemoryNow();
  }
  const double cpu = CpuSeconds() - cpuStart;
  const Memory end = MemoryNow();
  PrintMemory("reconnects", count, start, middle, end,
              std::chrono::duration<double>(Clock::now() - started).count(),
              1e6 * cpu / static_cast<double>(count));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: soak_bench idle SECONDS | requests N | reconnects N\n");
    return 2;
  }
  const std::string mode = argv[1];
  const long long amount = std::atoll(argv[2]);
  if (amount <= 0 || (mode != "idle" && mode != "requests" && mode != "reconnects")) {
    std::fprintf(stderr, "usage: soak_bench idle SECONDS | requests N | reconnects N\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  try {
    PeerProcess peer;  // forked before this process starts any thread
    int rc = 1;
    {
      PluginSession plugin(peer.Port());
      g_plugin = &plugin;
      if (mode == "idle") rc = Idle(plugin, static_cast<int>(amount));
      if (mode == "requests") rc = ManyRequests(plugin, static_cast<std::uint64_t>(amount));
      if (mode == "reconnects") rc = Reconnects(plugin, peer, static_cast<std::uint64_t>(amount));
      g_plugin = nullptr;
    }
    return rc;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "soak_bench: %s\n", error.what());
    return 1;
  }
}
