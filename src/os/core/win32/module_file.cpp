// The file a module was loaded from: the module that holds the address, then its
// file name, grown until the whole path fits.
#include "core/wide_text.h"
#include "qmos/paths.h"

#include <windows.h>

namespace qmos {

std::string ModuleFileOf(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
    return "";
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) return "";
    if (n < name.size()) {
      name.resize(n);
      return detail::Utf8FromWide(name);
    }
    if (name.size() >= 32768) return "";
    name.resize(name.size() * 2);
  }
}

}  // namespace qmos
