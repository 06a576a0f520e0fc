// A loaded module is found by its file name (the loader knows it by its own form of
// the path), without taking a reference.
#include "loaded_module.h"
#include "test_server.h"

#include <filesystem>

#undef SUCCEEDED
#undef FAILED
#include <windows.h>

namespace com_test {
namespace {

HMODULE Find(const char* path) {
  return ::GetModuleHandleW(std::filesystem::path(path).filename().wstring().c_str());
}

}  // namespace

bool ModuleLoaded(const char* path) { return Find(path) != nullptr; }

int CallModuleCount(const char* path, const char* name) {
  HMODULE module = Find(path);
  if (!module) return -1;
  auto fn = reinterpret_cast<PfnCount>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return fn ? fn() : -1;
}

}  // namespace com_test
