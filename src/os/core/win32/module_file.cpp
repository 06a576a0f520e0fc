// The module that holds an address, and the file it was loaded from: its file
// name, grown until the whole path fits.
#include "core/module_handle.h"
#include "core/wide_text.h"
#include "qmos/paths.h"

#include <windows.h>

namespace qmos {

namespace detail {

void* ModuleHandleOf(const void* address) {
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
    return nullptr;
  return module;
}

}  // namespace detail

std::string ModuleFileOf(const void* address) {
  const auto module = static_cast<HMODULE>(detail::ModuleHandleOf(address));
  if (module == nullptr) return "";
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
