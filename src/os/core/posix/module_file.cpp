// The file a module was loaded from, from the dynamic loader.
#include <dlfcn.h>

#include "qmos/paths.h"

namespace qmos {

std::string ModuleFileOf(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return "";
  return info.dli_fname;
}

}  // namespace qmos
