#include "qmos/critical_section.h"

namespace qmos {

void CriticalSection::Enter() {
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock<std::mutex> lock(mutex_);
  if (depth_ > 0 && owner_ == self) {
    ++depth_;
    return;
  }
  released_.wait(lock, [this] { return depth_ == 0; });
  owner_ = self;
  depth_ = 1;
}

bool CriticalSection::TryEnter() {
  const std::thread::id self = std::this_thread::get_id();
  std::lock_guard<std::mutex> lock(mutex_);
  if (depth_ > 0 && owner_ != self) return false;
  owner_ = self;
  ++depth_;
  return true;
}

bool CriticalSection::Leave() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (depth_ == 0 || owner_ != std::this_thread::get_id()) return false;
    if (--depth_ > 0) return true;
    owner_ = std::thread::id();
  }
  released_.notify_one();
  return true;
}

bool CriticalSection::HeldByCurrentThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return depth_ > 0 && owner_ == std::this_thread::get_id();
}

}  // namespace qmos
