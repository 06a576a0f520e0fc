#include "plugin/server_module.h"

#include <atomic>

#include "qmos/paths.h"
#include "qmos/thread.h"

namespace vantiro {

namespace {

std::atomic<int> g_objects{0};
std::atomic<int> g_locks{0};

void DecrementNotBelowZero(std::atomic<int>& counter) {
  int value = counter.load();
  while (value > 0 && !counter.compare_exchange_weak(value, value - 1)) {
  }
}

}  // namespace

void ObjectCreated() { ++g_objects; }
void ObjectDestroyed() { DecrementNotBelowZero(g_objects); }
int ObjectCount() { return g_objects.load(); }

void LockModule() { ++g_locks; }
void UnlockModule() { DecrementNotBelowZero(g_locks); }
int LockCount() { return g_locks.load(); }

qmos::HRESULT CanUnloadModule() {
  if (g_objects.load() != 0 || g_locks.load() != 0) return qmos::S_FALSE;
  return qmos::TThread::RunningCount() == 0 ? qmos::S_OK : qmos::S_FALSE;
}

std::string ModuleFilePath() {
  return qmos::ModuleFileOf(reinterpret_cast<const void*>(&ModuleFilePath));
}

}  // namespace vantiro
