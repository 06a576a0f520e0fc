// The main queue's wake-up on Linux: an eventfd, readable while something is queued.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "app/main_queue_wake.h"
#include "qmos/application.h"

namespace qmos {

namespace detail {

int MakeQueueWake() { return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

// The host's loop polls the same descriptor whichever thread runs it.
void MoveQueueWakeToThisThread() {}

}  // namespace detail

void Application::SignalWake() {
  if (wakeFd_ < 0) return;
  const std::uint64_t one = 1;
  // Cannot fail short of counter overflow, which a drained counter never reaches.
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void Application::DrainWake() {
  if (wakeFd_ < 0) return;
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
}

}  // namespace qmos
