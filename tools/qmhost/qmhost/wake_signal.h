// A descriptor the main loop polls: any thread signals it, the loop drains it.
#pragma once

namespace qmhost {

class WakeSignal {
 public:
  WakeSignal();
  ~WakeSignal();
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  // -1 when the system refused an eventfd; the loop then polls with a short period.
  int Fd() const { return fd_; }
  void Signal();
  void Drain();

 private:
  int fd_;
};

}  // namespace qmhost
