// Threads on POSIX: detached pthreads; thread ids are the kernel's.
#include <pthread.h>
#include <unistd.h>

#include <new>

#include "qmos/thread.h"
#include "thread/thread_start.h"

namespace qmos {

ThreadId CurrentThreadId() { return static_cast<ThreadId>(::gettid()); }

namespace detail {

namespace {

struct Start {
  void (*procedure)(void*);
  void* argument;
};

void* Trampoline(void* arg) {
  const Start start = *static_cast<Start*>(arg);
  delete static_cast<Start*>(arg);
  start.procedure(start.argument);
  return nullptr;
}

}  // namespace

bool StartDetachedThread(void (*procedure)(void*), void* argument) {
  auto* start = new (std::nothrow) Start{procedure, argument};
  if (start == nullptr) return false;
  pthread_attr_t attr;
  int rc = ::pthread_attr_init(&attr);
  if (rc == 0) {
    rc = ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t handle;
    if (rc == 0) rc = ::pthread_create(&handle, &attr, &Trampoline, start);
    ::pthread_attr_destroy(&attr);
  }
  if (rc != 0) delete start;
  return rc == 0;
}

}  // namespace detail
}  // namespace qmos
