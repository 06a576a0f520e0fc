// What the main loop waits on besides its input: any thread signals it, the loop
// drains it. An eventfd on Linux, an auto-reset event on Windows.
#pragma once

#include <cstdint>

namespace qmhost {

class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  // What the loop's wait watches: the eventfd (-1 when the system refused one) or the
  // event's handle (0 when refused). Without it the loop looks again on a short period.
  std::intptr_t Native() const { return native_; }
  void Signal();
  void Drain();

 private:
  std::intptr_t native_;
};

}  // namespace qmhost
