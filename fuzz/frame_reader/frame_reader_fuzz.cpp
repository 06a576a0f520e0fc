// Feeds arbitrary bytes to the plug-in's reader as the stream from the multiplexor.
//
// The reader only reads through its TLS connection, so one TLS connection is made at
// start over a socket pair (the server end is driven here) and kept for every input.
// Each input runs a fresh reader, without a supervisor, over that connection: the
// input's bytes are written through the server end before the reader starts, followed
// by a tail that makes the reader end on its own, so the run is the same every time:
//   - nine 'x' bytes, a prefix that is not eight digits and a line feed, which the
//     reader must end on (they also complete a prefix the input left unfinished);
//   - before them, when the input ends inside a body that needs at most kMaxFill more
//     bytes, that many line feeds; a longer rest is never sent: the reader then waits
//     inside the body once it holds every byte, and is told to end.
// Checked for each input:
//   - the reader ends within a bound and the connection stays up (what it left unread
//     is drained before the next input);
//   - its operating-system thread is gone before the input ends, so what the thread
//     frees as it exits (OpenSSL's per-thread state) is freed within the input: the
//     input's allocations and frees balance, and no thread is half-way out when the
//     leak check runs at the end;
//   - it read no more than was sent, and at least up to the first place where it
//     may end: the end of a frame (a packet may end it) or of the bad prefix;
//   - no single allocation while it runs exceeds what its buffer may hold for the
//     bytes received: 64 KiB to begin with, then at most twice what came, whatever
//     length a prefix announces.
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <sanitizer/allocator_interface.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "connection/PluginThread.h"
#include "connection/ReadThread.h"
#include "frame.h"
#include "packet.h"
#include "qmos/application.h"
#include "qmos/registry.h"
#include "qmos/socket.h"
#include "testsupport/test_pki.h"
#include "testsupport/tls_server.h"
#include "tls/tls_connection.h"

namespace {

constexpr std::size_t kMaxInput = 16 * 1024;
constexpr std::size_t kMaxFill = 32 * 1024;
constexpr std::size_t kFirstBodyChunk = 65536;
constexpr std::size_t kPrefix = 9;
const std::string kBadPrefix(kPrefix, 'x');

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "frame_reader_fuzz: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// The largest single allocation since the last reset, over every thread.
std::atomic<std::size_t> g_largest{0};
std::atomic<bool> g_watching{false};

void OnMalloc(const volatile void*, std::size_t size) {
  if (!g_watching.load(std::memory_order_relaxed)) return;
  std::size_t seen = g_largest.load(std::memory_order_relaxed);
  while (size > seen && !g_largest.compare_exchange_weak(seen, size, std::memory_order_relaxed)) {
  }
}
void OnFree(const volatile void*) {}

// Both ends of the TLS connection the readers read from.
struct Link {
  SSL_CTX* serverCtx = nullptr;
  SSL_CTX* clientCtx = nullptr;
  SSL* server = nullptr;
  int serverFd = -1;
  std::shared_ptr<vantiro::TlsConnection> client;
};
Link* g_link = nullptr;

void Connect(Link& link) {
  int fds[2];
  Check(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0, "socketpair");
  link.serverFd = fds[1];
  link.server = SSL_new(link.serverCtx);
  Check(link.server != nullptr, "SSL_new");
  SSL_set_fd(link.server, link.serverFd);
  std::thread accept([&link] { Check(SSL_accept(link.server) == 1, "server handshake"); });
  vantiro::TlsOpenFailure failure;
  link.client = vantiro::TlsConnection::Open(link.clientCtx, qmos::Socket(fds[0]), 10000, {}, failure);
  accept.join();
  Check(link.client != nullptr, "client handshake");
}

// Where a reader given this stream may end: after each complete frame (a packet may
// end the reader), or after the first bad prefix. Also what to append so that it
// ends by itself, or nullopt when it must be told to end.
struct Plan {
  std::set<std::size_t> stops;
  std::optional<std::string> tail;
};

Plan MakePlan(std::string_view input) {
  Plan plan;
  std::size_t pos = 0;
  for (;;) {
    if (input.size() - pos < kPrefix) {
      // At a boundary, or inside a prefix: the tail's x's end it with a bad prefix.
      plan.tail = kBadPrefix;
      plan.stops.insert(pos + kPrefix);
      return plan;
    }
    const std::optional<std::size_t> length = vantiro::ParseFramePrefix(input.substr(pos, kPrefix));
    if (!length) {
      plan.tail = kBadPrefix;
      plan.stops.insert(pos + kPrefix);
      return plan;
    }
    const std::size_t end = pos + kPrefix + *length;
    if (end > input.size()) {
      const std::size_t missing = end - input.size();
      if (missing <= kMaxFill) {
        plan.tail = std::string(missing, '\n') + kBadPrefix;
        plan.stops.insert(end);
        plan.stops.insert(end + kPrefix);
      } else {
        plan.stops.insert(input.size());  // it holds everything and waits for more
      }
      return plan;
    }
    plan.stops.insert(end);
    pos = end;
  }
}

void WriteAll(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const int n = SSL_write(g_link->server, bytes.data() + done, static_cast<int>(bytes.size() - done));
    Check(n > 0, "server write");
    done += static_cast<std::size_t>(n);
  }
}

// Every byte written has left the socket and the TLS layer: the reader holds it.
bool AllTaken() {
  int queued = 0;
  Check(::ioctl(g_link->client->Fd(), FIONREAD, &queued) == 0, "FIONREAD");
  return queued == 0 && g_link->client->Pending() == 0;
}

// Waits until the thread with this id has fully exited (its entry under
// /proc/self/task goes once every thread-exit clean-up has run).
void AwaitThreadGone(std::uint32_t tid) {
  const std::string entry = "/proc/self/task/" + std::to_string(tid);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (::access(entry.c_str(), F_OK) == 0) {
    Check(std::chrono::steady_clock::now() < deadline, "the reader's thread did not exit");
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
}

std::size_t Drain() {
  std::size_t left = 0;
  char buffer[16384];
  for (;;) {
    std::size_t got = 0;
    const vantiro::TlsIo io = g_link->client->Read(buffer, sizeof buffer, got);
    if (io == vantiro::TlsIo::WouldBlock) return left;
    Check(io == vantiro::TlsIo::Done, "the connection ended under the reader");
    left += got;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Short waits: a reader told to end notices within a millisecond. No settings of
  // this machine are read, and notices count as closed at once.
  ::setenv("VANTIRO_TIME_SCALE", "0.01", 1);
  static char dir[] = "/tmp/frame_reader_fuzz.XXXXXX";
  Check(::mkdtemp(dir) != nullptr, "mkdtemp");
  qmos::SetRegistryFile(std::string(dir) + "/registry.reg");
  qmos::Application::Instance().SetMainThread();
  qmos::Application::Instance().StopServing();
  PH_init();

  static Link link;
  const testsupport::TestPki pki(dir, "fuzz", "Fuzz CA");
  link.serverCtx = testsupport::MakeServerContext(pki);
  SSL_CTX_set_num_tickets(link.serverCtx, 0);
  link.clientCtx = SSL_CTX_new(TLS_client_method());
  Check(link.clientCtx != nullptr, "client context");
  SSL_CTX_set_verify(link.clientCtx, SSL_VERIFY_NONE, nullptr);
  Connect(link);
  g_link = &link;
  // This thread's OpenSSL error state is freed before the leak check at exit (the
  // main thread runs no thread-exit clean-up of its own).
  std::atexit([] { OPENSSL_thread_stop(); });
  __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const Plan plan = MakePlan(input);
  const std::string stream = input + plan.tail.value_or("");
  if (!stream.empty()) WriteAll(stream);

  g_largest = 0;
  g_watching = true;
  const auto reader = qmos::TThread::StartNew<vantiro::ReadThread>(g_link->client, std::weak_ptr<vantiro::PluginThread>());
  Check(reader != nullptr, "reader not started");
  if (!plan.tail) {
    while (!reader->Finished() && !AllTaken()) std::this_thread::sleep_for(std::chrono::microseconds(20));
    reader->Terminate();
  }
  Check(reader->WaitFor(10000), "the reader did not end");
  AwaitThreadGone(reader->ThreadID());
  g_watching = false;

  const std::size_t read = stream.size() - Drain();
  // The reader reads ahead of the frame it works on, so it may have taken more than
  // the frame it ended on; never less than the first place it may end.
  if (read > stream.size() || read < *plan.stops.begin()) {
    std::fprintf(stderr, "frame_reader_fuzz: the reader read %zu of %zu bytes, before it could end\n",
                 read, stream.size());
    std::abort();
  }
  const std::size_t allowed = std::max(kFirstBodyChunk, 2 * stream.size()) + 4096;
  if (g_largest > allowed) {
    std::fprintf(stderr, "frame_reader_fuzz: an allocation of %zu bytes after %zu received\n",
                 g_largest.load(), stream.size());
    std::abort();
  }
  return 0;
}
