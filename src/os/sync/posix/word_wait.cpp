// Word waits on Linux: private futexes.
#include "sync/word_wait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

namespace qmos::detail {

void WaitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                    const std::chrono::nanoseconds* timeout) {
  timespec relative{};
  if (timeout != nullptr) {
    relative.tv_sec = static_cast<std::time_t>(timeout->count() / 1000000000);
    relative.tv_nsec = static_cast<long>(timeout->count() % 1000000000);
  }
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected,
            timeout != nullptr ? &relative : nullptr, nullptr, 0);
}

void WakeOneWaiter(std::atomic<std::uint32_t>& word) {
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace qmos::detail
