// Loading server modules by path with the system's loader.
#include "com/module_loader.h"
#include "core/system_message.h"
#include "core/wide_text.h"

#undef SUCCEEDED
#undef FAILED
#include <windows.h>

namespace qmos::com_detail {

std::string ModuleFilePath(std::string path) { return path; }

void* OpenModule(const std::string& path, HRESULT& hr, std::string& error) {
  if (path.empty()) {
    hr = CO_E_DLLNOTFOUND;
    error = "empty module path";
    return nullptr;
  }
  // A path with a folder names a file: tell a missing file from one that fails to
  // load. A bare name is searched for by the loader.
  const bool hasFolder = path.find_first_of("\\/") != std::string::npos;
  const std::wstring file = detail::WideFromUtf8(path);
  if (hasFolder && ::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    hr = CO_E_DLLNOTFOUND;
    error = path + ": " + detail::SystemMessage(code);
    return nullptr;
  }
  // The module's own folder is searched for the libraries it needs.
  HMODULE module = ::LoadLibraryExW(file.c_str(), nullptr,
                                    hasFolder ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
  if (!module) {
    const DWORD code = ::GetLastError();
    const std::string why = detail::SystemMessage(code);
    error = path + ": " + (why.empty() ? "cannot be loaded" : why);
    hr = hasFolder ? CO_E_ERRORINDLL : CO_E_DLLNOTFOUND;
    return nullptr;
  }
  hr = S_OK;
  return module;
}

void* ModuleSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseModule(void* handle) { ::FreeLibrary(static_cast<HMODULE>(handle)); }

}  // namespace qmos::com_detail
