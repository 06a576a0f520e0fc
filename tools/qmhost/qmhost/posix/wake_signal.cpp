#include "qmhost/wake_signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace qmhost {

WakeSignal::WakeSignal() : native_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeSignal::~WakeSignal() {
  if (native_ >= 0) ::close(static_cast<int>(native_));
}

void WakeSignal::Signal() {
  if (native_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(static_cast<int>(native_), &one, sizeof one);
}

void WakeSignal::Drain() {
  if (native_ < 0) return;
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = ::read(static_cast<int>(native_), &count, sizeof count);
}

}  // namespace qmhost
