// Lasting<T>: process-wide state that worker threads can reach, made on first use
// and never destroyed under a thread that may still use it.
//
// A static object is destroyed when the process exits or its module is unloaded,
// while a detached thread (one that did not end within its bound) may still be
// inside it. A Lasting frees its instance at that moment only when no thread of the
// platform's runs any more; otherwise the instance is left to the end of the
// process. Declare it at namespace scope: its constructor is constexpr, so it is
// ready before any dynamic initialisation.
#pragma once

#include <atomic>

#include "qmos/thread.h"

namespace qmos {

template <class T>
class Lasting {
 public:
  constexpr Lasting() = default;
  Lasting(const Lasting&) = delete;
  Lasting& operator=(const Lasting&) = delete;

  ~Lasting() {
    if (TThread::RunningCount() == 0) delete instance_.exchange(nullptr, std::memory_order_acq_rel);
  }

  T& Get() {
    T* value = instance_.load(std::memory_order_acquire);
    if (value != nullptr) return *value;
    T* made = new T();
    if (instance_.compare_exchange_strong(value, made, std::memory_order_acq_rel)) return *made;
    delete made;  // another thread made it first
    return *value;
  }

 private:
  std::atomic<T*> instance_{nullptr};
};

}  // namespace qmos
