// The main loop's wait on Linux: poll on the wake eventfd, the application's
// main-queue eventfd and, while reading commands, the input.
#include <poll.h>

#include <algorithm>

#include "qmhost/line_reader.h"
#include "qmhost/main_loop.h"
#include "qmhost/wake_signal.h"
#include "qmos/application.h"
#include "qmos/clock.h"

namespace qmhost {

namespace {
// Poll period when a wake descriptor is missing (the system refused an eventfd).
constexpr int kFallbackPollMs = 10;
}  // namespace

void MainLoop::WaitOnce() {
  pollfd fds[3];
  nfds_t count = 0;
  bool fallback = false;
  for (const int fd : {static_cast<int>(wake_.Native()), qmos::Application::Instance().WakeFd()}) {
    if (fd < 0) {
      fallback = true;
      continue;
    }
    fds[count++] = pollfd{fd, POLLIN, 0};
  }
  int inputSlot = -1;
  if (mode_ == Mode::Reading && input_ < inputs_.size()) {
    inputSlot = static_cast<int>(count);
    fds[count++] = pollfd{inputs_[input_]->Fd(), POLLIN, 0};
  }
  int timeout = -1;
  if (mode_ != Mode::Reading) {
    const std::int64_t left = std::max<std::int64_t>(0, deadline_ - qmos::MonotonicMs());
    timeout = static_cast<int>(std::min<std::int64_t>(left, 1 << 30));
  }
  if (fallback && (timeout < 0 || timeout > kFallbackPollMs)) timeout = kFallbackPollMs;
  const int ready = ::poll(fds, count, timeout);
  if (ready > 0 && inputSlot >= 0 && fds[inputSlot].revents != 0) inputs_[input_]->Fill();
}

}  // namespace qmhost
