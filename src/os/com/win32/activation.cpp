// Class activation through the system's COM runtime (ole32). The runtime loads and
// unloads the server modules itself; the paths of the modules it was asked for are
// kept to tell how many of them are still loaded.
#include <mutex>
#include <set>

#include "core/wide_text.h"
#include "qmos/activation.h"
#include "qmos/error_info.h"

#undef SUCCEEDED
#undef FAILED
#include <windows.h>
#include <objbase.h>

namespace qmos {
namespace {

constexpr const char* kErrorSource = "qmos.com";

const ::GUID& Theirs(REFGUID guid) { return reinterpret_cast<const ::GUID&>(guid); }

class UsedModules {
 public:
  static UsedModules& Instance() {
    static UsedModules* modules = new UsedModules;  // lives as long as the process
    return *modules;
  }
  void Remember(REFCLSID clsid) {
    std::string path;
    if (FAILED(GetInprocServerPath(clsid, path))) return;
    std::lock_guard lock(mutex_);
    paths_.insert(path);
  }
  std::size_t LoadedCount() {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (const auto& path : paths_)
      if (::GetModuleHandleW(detail::WideFromUtf8(path).c_str()) != nullptr) ++count;
    return count;
  }

 private:
  std::mutex mutex_;
  std::set<std::string> paths_;
};

// A failure the runtime gave without error information gets a text naming the class.
HRESULT Failed(HRESULT hr, REFCLSID clsid) {
  if (!HasErrorInfo()) {
    std::string module;
    GetInprocServerPath(clsid, module);
    ReportError(hr, IID_NULL, kErrorSource,
                "class " + GuidToString(clsid) + (module.empty() ? "" : " (" + module + ")") +
                    ": " + HResultText(hr));
  }
  return hr;
}

}  // namespace

HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  if (progId.empty()) return CO_E_CLASSSTRING;
  const std::wstring name = detail::WideFromUtf8(std::string(progId));
  return ::CLSIDFromProgID(name.c_str(), reinterpret_cast<::CLSID*>(clsid));
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void* serverInfo, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const HRESULT hr = ::CoGetClassObject(Theirs(clsid), clsctx,
                                        static_cast<::COSERVERINFO*>(serverInfo), Theirs(riid), ppv);
  if (FAILED(hr)) return Failed(hr, clsid);
  UsedModules::Instance().Remember(clsid);
  return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const HRESULT hr = ::CoCreateInstance(Theirs(clsid), reinterpret_cast<::IUnknown*>(outer), clsctx,
                                        Theirs(riid), ppv);
  if (FAILED(hr)) {
    *ppv = nullptr;
    return Failed(hr, clsid);
  }
  UsedModules::Instance().Remember(clsid);
  return hr;
}

// Modules that say they may go are unloaded at once, not after the runtime's delay.
void CoFreeUnusedLibraries() { ::CoFreeUnusedLibrariesEx(0, 0); }

std::size_t CoLoadedModuleCount() { return UsedModules::Instance().LoadedCount(); }

HRESULT CoInitializeApartment() { return ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

void CoUninitialize() { ::CoUninitialize(); }

}  // namespace qmos
