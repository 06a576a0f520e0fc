// The module is loaded exactly when dlopen with RTLD_NOLOAD finds it.
#include "loaded_module.h"
#include "test_server.h"

#include <dlfcn.h>

namespace com_test {

bool ModuleLoaded(const char* path) {
  void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

int CallModuleCount(const char* path, const char* name) {
  void* h = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
  if (!h) return -1;
  auto fn = reinterpret_cast<PfnCount>(dlsym(h, name));
  int n = fn ? fn() : -1;
  dlclose(h);
  return n;
}

}  // namespace com_test
