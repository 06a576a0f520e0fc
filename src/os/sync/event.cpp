#include "qmos/event.h"

#include <chrono>

namespace qmos {

std::shared_ptr<Event> Event::Create(bool initiallySignalled) {
  return std::make_shared<Event>(initiallySignalled);
}

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  // One waiter is enough: whoever wakes first takes the signal and clears it.
  cv_.notify_one();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
}

WaitResult Event::WaitFor(std::uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ms == kInfinite) {
    cv_.wait(lock, [this] { return signalled_; });
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; })) {
    return WaitResult::Timeout;
  }
  signalled_ = false;
  return WaitResult::Signalled;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return signalled_;
}

}  // namespace qmos
