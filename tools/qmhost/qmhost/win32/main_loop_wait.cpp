// The main loop's wait on Windows. The main thread's queue of libqmos is a
// message-only window of this thread: queued work arrives as a posted message,
// whose dispatch runs it. So the loop waits for the thread's messages and the wake
// event together (MsgWaitForMultipleObjectsEx, with a sleep's or wait's deadline as
// the time-out) and then dispatches what came. Command input is read by the
// reader's own thread, which signals the wake event when it has something.
#include <algorithm>
#include <cstdint>

#include "qmhost/line_reader.h"
#include "qmhost/main_loop.h"
#include "qmhost/wake_signal.h"
#include "qmos/clock.h"

#include <windows.h>

namespace qmhost {

namespace {

// Wait period when the system refused the wake event.
constexpr DWORD kFallbackWaitMs = 10;
// Messages dispatched in one turn at most: a window that keeps posting to itself
// must not keep the loop from its commands. What is left is dispatched next turn
// (the wait returns at once while messages are there).
constexpr int kMessagesPerTurn = 64;

void DispatchMessages() {
  MSG message;
  for (int i = 0; i < kMessagesPerTurn && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
    // The host ends with quit or the end of its input, not with a quit message.
    if (message.message == WM_QUIT) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

void MainLoop::WaitOnce() {
  const bool reading = mode_ == Mode::Reading && input_ < inputs_.size();
  // What the input's thread has read is taken without waiting; when it has nothing,
  // it reads on and signals the wake event once it has.
  if (reading && inputs_[input_]->Fill()) return;
  DWORD timeout = INFINITE;
  if (mode_ != Mode::Reading) {
    const std::int64_t left = std::max<std::int64_t>(0, deadline_ - qmos::MonotonicMs());
    timeout = static_cast<DWORD>(std::min<std::int64_t>(left, 1 << 30));
  }
  HANDLE wake = reinterpret_cast<HANDLE>(wake_.Native());
  if (wake == nullptr) timeout = std::min(timeout, kFallbackWaitMs);
  ::MsgWaitForMultipleObjectsEx(wake != nullptr ? 1 : 0, wake != nullptr ? &wake : nullptr, timeout,
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  // Dispatching the queue window's message runs the queued work here, on the main
  // thread; the loop's own ProcessMessages finds the queue empty then, and a message
  // still on its way finds it empty in turn: each function runs once.
  DispatchMessages();
  if (reading) inputs_[input_]->Fill();
}

}  // namespace qmhost
