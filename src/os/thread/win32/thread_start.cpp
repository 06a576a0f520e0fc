// Threads on Windows: system threads started through the C run-time (so that its
// per-thread state is set up and freed with the thread), whose handle is closed at
// once (nobody joins them: a TThread reports its own end); thread ids are the
// system's.
#include <windows.h>
#include <process.h>

#include <cstdint>
#include <new>

#include "qmos/thread.h"
#include "thread/thread_start.h"

namespace qmos {

ThreadId CurrentThreadId() { return static_cast<ThreadId>(::GetCurrentThreadId()); }

namespace detail {

namespace {

struct Start {
  void (*procedure)(void*);
  void* argument;
};

unsigned __stdcall Trampoline(void* arg) {
  const Start start = *static_cast<Start*>(arg);
  delete static_cast<Start*>(arg);
  start.procedure(start.argument);
  return 0;
}

}  // namespace

bool StartDetachedThread(void (*procedure)(void*), void* argument) {
  auto* start = new (std::nothrow) Start{procedure, argument};
  if (start == nullptr) return false;
  const std::uintptr_t handle = ::_beginthreadex(nullptr, 0, &Trampoline, start, 0, nullptr);
  if (handle == 0) {
    delete start;
    return false;
  }
  ::CloseHandle(reinterpret_cast<HANDLE>(handle));
  return true;
}

}  // namespace detail
}  // namespace qmos
