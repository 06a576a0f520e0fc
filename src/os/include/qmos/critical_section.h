// Re-entrant locks: the thread that holds a critical section may enter it again and
// must leave it as many times as it entered.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace qmos {

class CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  // Blocks until the calling thread holds the section (at once when it holds it).
  void Enter();
  // Enters without blocking; false when another thread holds the section.
  bool TryEnter();
  // Leaves once. A thread that does not hold the section changes nothing and gets
  // false (a caller's mistake gets a defined outcome instead of corrupting the lock).
  bool Leave();
  // True when the calling thread holds the section.
  bool HeldByCurrentThread() const;

 private:
  std::mutex mutex_;                   // held while a thread holds the section
  std::atomic<std::thread::id> owner_;  // that thread; only it stores its own id here
  unsigned depth_ = 0;                 // its entries; touched by the holder only
};

// Holds a critical section for the lifetime of the guard.
class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~CriticalSectionGuard() { section_.Leave(); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace qmos
