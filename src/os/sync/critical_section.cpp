#include "qmos/critical_section.h"

namespace qmos {

// Only the holder ever stores its own id in owner_ (and clears it before it lets
// go), so a thread that reads its own id there holds the section, and one that
// reads anything else does not: the re-entry test needs no lock of its own.

void CriticalSection::Enter() {
  const std::thread::id self = std::this_thread::get_id();
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++depth_;
    return;
  }
  mutex_.lock();
  owner_.store(self, std::memory_order_relaxed);
  depth_ = 1;
}

bool CriticalSection::TryEnter() {
  const std::thread::id self = std::this_thread::get_id();
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++depth_;
    return true;
  }
  if (!mutex_.try_lock()) return false;
  owner_.store(self, std::memory_order_relaxed);
  depth_ = 1;
  return true;
}

bool CriticalSection::Leave() {
  if (owner_.load(std::memory_order_relaxed) != std::this_thread::get_id() || depth_ == 0) return false;
  if (--depth_ > 0) return true;
  owner_.store(std::thread::id(), std::memory_order_relaxed);
  mutex_.unlock();
  return true;
}

bool CriticalSection::HeldByCurrentThread() const {
  return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
}

}  // namespace qmos
