// Unnamed auto-reset events: one Set releases exactly one waiter (or the next one to
// wait, when nobody waits yet) and the event is clear again.
//
// Events are shared between threads as std::shared_ptr<Event>; a thread that still
// holds its reference may Set or wait on an event that another thread has already
// "closed" (dropped its reference), which is why there is no raw handle.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace qmos {

// Wait forever. Allowed, but every wait of the plug-in is bounded.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult {
  Signalled,  // the event was set; it is clear again
  Timeout,    // the time ran out before the event was set
};

class Event {
 public:
  // An unnamed auto-reset event, clear unless initiallySignalled.
  static std::shared_ptr<Event> Create(bool initiallySignalled = false);

  explicit Event(bool initiallySignalled = false) : signalled_(initiallySignalled ? 1 : 0) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Signals the event. If threads wait, one of them is released and the event is
  // clear again; otherwise the event stays set until the next wait.
  void Set();
  // Clears the event.
  void Reset();
  // Waits at most ms milliseconds (kInfinite: no limit) for the event; a successful
  // wait clears it.
  WaitResult WaitFor(std::uint32_t ms);
  // True when set (for diagnostics and tests; the answer may be stale at once).
  bool IsSet() const;

 private:
  // Clears the event when it is set; true when it did.
  bool TryTake();

  std::atomic<std::uint32_t> signalled_;  // 1 while set; the word waiters sleep on
  std::atomic<std::uint32_t> waiters_{0};  // threads inside WaitFor
};

}  // namespace qmos
