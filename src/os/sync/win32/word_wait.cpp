// Word waits on Windows: WaitOnAddress and WakeByAddressSingle, which sleep on a
// word's address as a futex does.
#include "sync/word_wait.h"

#include <windows.h>

namespace qmos::detail {

void WaitWhileEqual(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                    const std::chrono::nanoseconds* timeout) {
  DWORD ms = INFINITE;
  if (timeout != nullptr) {
    // Rounded up, so that a wait never ends before its time; at most just under
    // INFINITE.
    const auto rounded = (timeout->count() + 999999) / 1000000;
    ms = rounded >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(rounded);
  }
  ::WaitOnAddress(reinterpret_cast<volatile VOID*>(&word), &expected, sizeof expected, ms);
}

void WakeOneWaiter(std::atomic<std::uint32_t>& word) { ::WakeByAddressSingle(reinterpret_cast<PVOID>(&word)); }

}  // namespace qmos::detail
