// The soak run: the plug-in in qmhost against muxsim through thousands of dropped
// connections, with notices and rejections mixed in. The host's file descriptors,
// threads and memory are read once the run has settled and again at the end; they
// must stay flat, every drop must be followed by a new login, and no password may
// reach the trace.
//
// SOAK_CYCLES (default 10000) drops are made; SOAK_TIME_SCALE (default 0.002) scales
// the plug-in's pauses and heartbeats.
#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "connection_fixture.h"

namespace {

using namespace connection_e2e;

struct Resources {
  long fds = 0;
  long threads = 0;
  long rssKb = 0;
  long dataKb = 0;
};

long CountFds(pid_t pid) {
  DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (dir == nullptr) return -1;
  long count = 0;
  while (const dirent* entry = ::readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  ::closedir(dir);
  return count;
}

long Threads(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("Threads:", 0) == 0) return std::atol(line.c_str() + 8);
  return -1;
}

Resources Read(pid_t pid) {
  return Resources{CountFds(pid), Threads(pid), e2e::StatusKb(pid, "VmRSS"), e2e::StatusKb(pid, "VmData")};
}

long EnvNumber(const char* name, long fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atol(value) : fallback;
}

class SoakTest : public ConnectionTest {
 protected:
  void SetUp() override {
    const char* scale = std::getenv("SOAK_TIME_SCALE");
    world.SetTimeScale(scale != nullptr && *scale != '\0' ? scale : "0.002");
    ConnectionTest::SetUp();
  }

  // Waits for the next login and its answer; false when none comes.
  bool NextLogin() {
    if (NextHello().is_null()) return false;
    return !mux->WaitEvent("sent", {{"kind", "answer"}}).is_null();
  }

  // The host keeps the event lines no `wait` has consumed yet (up to a bound): a
  // marker published and waited for consumes them, so that the figures are the
  // plug-in's.
  void ConsumeHostLines() {
    const std::string marker = "soak-mark-" + std::to_string(++markers_);
    host->Send("publish soak_mark " + marker);
    host->Send("wait " + marker + " 60000");
  }

  long markers_ = 0;

  // The host at rest: connected, and a moment for the workers of the login to settle.
  Resources Settled() {
    ConsumeHostLines();
    host->Send("sleep 300");
    host->Send("get mc_profile");
    host->WaitEvent("setting");
    return Read(host->Pid());
  }
};

TEST_F(SoakTest, ThousandsOfDropsLeaveTheHostAsItWas) {
  const long cycles = EnvNumber("SOAK_CYCLES", 10000);
  ASSERT_FALSE(Login().is_null());
  ASSERT_FALSE(mux->WaitEvent("sent", {{"kind", "answer"}}).is_null());
  // A first round lets the allocator and the TLS library reach their working sizes.
  const long warmUp = cycles / 100 + 1;
  for (long i = 0; i < warmUp; ++i) {
    Mux("abort");
    ASSERT_TRUE(NextLogin()) << "no login after warm-up drop " << i;
  }
  const Resources start = Settled();

  long notices = 0, rejections = 0;
  for (long i = 1; i <= cycles; ++i) {
    if (i % 10 == 0) {
      const std::string call = "c" + std::to_string(i);
      mux->Send("activity call_id=" + call + " state=ringing");
      ASSERT_FALSE(HostPublication("mc_activity", "call_id:" + call + "\nstate:ringing\n").is_null());
      ++notices;
    }
    if (i % 50 == 0) {
      // A rejection the plug-in answers by connecting again.
      mux->Send("rejection too_many_clients");
      ++rejections;
    } else {
      mux->Send(i % 2 == 0 ? "abort" : "close");
    }
    ASSERT_TRUE(NextLogin()) << "no login after drop " << i;
    if (i % 100 == 0) ConsumeHostLines();
    if (i % 1000 == 0) std::fprintf(stderr, "soak: %ld of %ld drops\n", i, cycles);
  }
  const Resources end = Settled();

  std::printf("soak: %ld drops (%ld rejections), %ld notices relayed, a new login after each drop\n",
              cycles, rejections, notices);
  std::printf("soak: %-16s %10s %10s\n", "qmhost", "start", "end");
  std::printf("soak: %-16s %10ld %10ld\n", "file descriptors", start.fds, end.fds);
  std::printf("soak: %-16s %10ld %10ld\n", "threads", start.threads, end.threads);
  std::printf("soak: %-16s %10ld %10ld\n", "VmRSS kB", start.rssKb, end.rssKb);
  std::printf("soak: %-16s %10ld %10ld\n", "VmData kB", start.dataKb, end.dataKb);
  EXPECT_LE(end.fds, start.fds);
  EXPECT_LE(end.threads, start.threads);
  // Flat within the allocator's slack: a leak of one small block per drop would
  // already pass this bound after 10000 drops.
  EXPECT_LE(end.rssKb, start.rssKb + start.rssKb / 10 + 2048);
  EXPECT_LE(end.dataKb, start.dataKb + start.dataKb / 10 + 2048);
  Finish();
}

}  // namespace
