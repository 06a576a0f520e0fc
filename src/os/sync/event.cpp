#include "qmos/event.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <ctime>

namespace qmos {

namespace {

using Clock = std::chrono::steady_clock;

// Sleeps while *word holds expected, at most timeout (nullptr: no limit). Returns
// at once when the word already differs; may also return early for no reason, so
// callers look again.
void FutexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected, const timespec* timeout) {
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_PRIVATE, expected, timeout,
            nullptr, 0);
}

void FutexWakeOne(std::atomic<std::uint32_t>& word) {
  ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

}  // namespace

std::shared_ptr<Event> Event::Create(bool initiallySignalled) {
  return std::make_shared<Event>(initiallySignalled);
}

// Set and a waiter meet through two words: the waiter counts itself in waiters_
// before it looks at signalled_, and Set stores signalled_ before it looks at
// waiters_ (both in sequential order), so either Set sees the waiter and wakes it,
// or the waiter sees the signal and does not sleep. A Set with nobody waiting costs
// no system call.
void Event::Set() {
  signalled_.store(1);
  if (waiters_.load() > 0) FutexWakeOne(signalled_);
}

void Event::Reset() { signalled_.store(0); }

bool Event::TryTake() {
  std::uint32_t expected = 1;
  return signalled_.compare_exchange_strong(expected, 0);
}

WaitResult Event::WaitFor(std::uint32_t ms) {
  if (TryTake()) return WaitResult::Signalled;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  waiters_.fetch_add(1);
  WaitResult result = WaitResult::Timeout;
  for (;;) {
    if (TryTake()) {
      result = WaitResult::Signalled;
      break;
    }
    if (ms == kInfinite) {
      FutexWait(signalled_, 0, nullptr);
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    timespec timeout{};
    timeout.tv_sec = static_cast<std::time_t>(left.count() / 1000000000);
    timeout.tv_nsec = static_cast<long>(left.count() % 1000000000);
    FutexWait(signalled_, 0, &timeout);
  }
  waiters_.fetch_sub(1);
  // A Set that saw this waiter may have woken it just as its time ran out; the
  // signal it left is taken by the next wait, as it is when nobody waits.
  return result;
}

bool Event::IsSet() const { return signalled_.load() != 0; }

}  // namespace qmos
