// The wake signal on Windows: an auto-reset event, which the loop's
// MsgWaitForMultipleObjectsEx watches beside the thread's messages.
#include "qmhost/wake_signal.h"

#include <windows.h>

namespace qmhost {

namespace {
HANDLE Handle(std::intptr_t native) { return reinterpret_cast<HANDLE>(native); }
}  // namespace

WakeSignal::WakeSignal()
    : native_(reinterpret_cast<std::intptr_t>(::CreateEventW(nullptr, FALSE, FALSE, nullptr))) {}

WakeSignal::~WakeSignal() {
  if (native_ != 0) ::CloseHandle(Handle(native_));
}

void WakeSignal::Signal() {
  if (native_ != 0) ::SetEvent(Handle(native_));
}

void WakeSignal::Drain() {
  if (native_ != 0) ::ResetEvent(Handle(native_));
}

}  // namespace qmhost
