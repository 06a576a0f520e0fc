#include "com/module_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>

namespace qmos::com_detail {

std::string ModuleFilePath(std::string path) {
  if (path.find('\\') == std::string::npos) return path;
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.size() >= 2 && path[1] == ':' &&
      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')))
    path.erase(0, 2);
  return path;
}

void* OpenModule(const std::string& path, HRESULT& hr, std::string& error) {
  if (path.empty()) {
    hr = CO_E_DLLNOTFOUND;
    error = "empty module path";
    return nullptr;
  }
  // A path with a folder names a file: tell a missing file from one that fails to
  // load. A bare name is searched for by the loader.
  const bool hasFolder = path.find('/') != std::string::npos;
  if (hasFolder) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      int e = errno;
      hr = CO_E_DLLNOTFOUND;
      error = path + ": " + std::generic_category().message(e);
      return nullptr;
    }
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    error = why ? why : (path + ": cannot be loaded");
    hr = hasFolder ? CO_E_ERRORINDLL : CO_E_DLLNOTFOUND;
    return nullptr;
  }
  hr = S_OK;
  return handle;
}

void* ModuleSymbol(void* handle, const char* name) { return ::dlsym(handle, name); }

void CloseModule(void* handle) { ::dlclose(handle); }

}  // namespace qmos::com_detail
