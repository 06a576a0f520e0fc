#include "qmos/event.h"

#include <chrono>

#include "sync/word_wait.h"

namespace qmos {

namespace {
using Clock = std::chrono::steady_clock;
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
  if (waiters_.load() > 0) detail::WakeOneWaiter(signalled_);
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
      detail::WaitWhileEqual(signalled_, 0, nullptr);
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    detail::WaitWhileEqual(signalled_, 0, &left);
  }
  waiters_.fetch_sub(1);
  // A Set that saw this waiter may have woken it just as its time ran out; the
  // signal it left is taken by the next wait, as it is when nobody waits.
  return result;
}

bool Event::IsSet() const { return signalled_.load() != 0; }

}  // namespace qmos
