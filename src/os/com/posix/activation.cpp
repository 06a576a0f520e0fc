// Class activation through the registry, and the table of loaded server modules:
// this platform's own COM runtime for in-process servers.
#include "qmos/activation.h"

#include <map>
#include <memory>
#include <mutex>

#include "com/module_loader.h"
#include "qmos/bstr.h"
#include "qmos/error_info.h"
#include "qmos/registry.h"

namespace qmos {
namespace {

constexpr const char* kErrorSource = "qmos.com";

struct LoadedModule {
  std::string path;
  void* handle = nullptr;
  PfnDllGetClassObject getClassObject = nullptr;
  PfnDllCanUnloadNow canUnloadNow = nullptr;
  int busy = 0;  // activations running in the module; it is not freed meanwhile
};

// Modules loaded by activation, one per path. Loaded modules stay until
// CoFreeUnusedLibraries; the table itself lives for the whole process (modules
// still loaded at exit are left to the system).
class ModuleTable {
 public:
  static ModuleTable& Instance() {
    static ModuleTable* table = new ModuleTable;
    return *table;
  }

  // Finds or loads the module and marks an activation running in it.
  HRESULT Acquire(const std::string& path, LoadedModule*& out) {
    std::lock_guard lock(mutex_);
    auto it = modules_.find(path);
    if (it == modules_.end()) {
      HRESULT hr = S_OK;
      std::string error;
      void* handle = com_detail::OpenModule(path, hr, error);
      if (!handle) return ReportError(hr, IID_NULL, kErrorSource, error);
      auto module = std::make_unique<LoadedModule>();
      module->path = path;
      module->handle = handle;
      module->getClassObject =
          reinterpret_cast<PfnDllGetClassObject>(com_detail::ModuleSymbol(handle, "DllGetClassObject"));
      module->canUnloadNow =
          reinterpret_cast<PfnDllCanUnloadNow>(com_detail::ModuleSymbol(handle, "DllCanUnloadNow"));
      if (!module->getClassObject) {
        com_detail::CloseModule(handle);
        return ReportError(CO_E_ERRORINDLL, IID_NULL, kErrorSource,
                           path + ": the module does not export DllGetClassObject");
      }
      it = modules_.emplace(path, std::move(module)).first;
    }
    ++it->second->busy;
    out = it->second.get();
    return S_OK;
  }

  void Release(LoadedModule* module) {
    std::lock_guard lock(mutex_);
    --module->busy;
  }

  void FreeUnused() {
    std::lock_guard lock(mutex_);
    for (auto it = modules_.begin(); it != modules_.end();) {
      LoadedModule& m = *it->second;
      // A module without DllCanUnloadNow cannot say it is unused: it stays.
      if (m.busy == 0 && m.canUnloadNow && m.canUnloadNow() == S_OK) {
        com_detail::CloseModule(m.handle);
        it = modules_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return modules_.size();
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<LoadedModule>> modules_;
};

// Keeps a module marked busy for the scope.
class ModuleUse {
 public:
  ModuleUse() = default;
  ~ModuleUse() {
    if (module_) ModuleTable::Instance().Release(module_);
  }
  ModuleUse(const ModuleUse&) = delete;
  ModuleUse& operator=(const ModuleUse&) = delete;

  HRESULT Acquire(REFCLSID clsid, DWORD clsctx) {
    if (!(clsctx & CLSCTX_INPROC_SERVER)) return REGDB_E_CLASSNOTREG;
    std::string path;
    HRESULT hr = GetInprocServerPath(clsid, path);
    if (FAILED(hr)) return hr;
    return ModuleTable::Instance().Acquire(path, module_);
  }
  LoadedModule* operator->() const { return module_; }

 private:
  LoadedModule* module_ = nullptr;
};

}  // namespace

HRESULT CLSIDFromProgID(std::string_view progId, CLSID* clsid) {
  if (!clsid) return E_INVALIDARG;
  // A ProgID is one key name: a backslash would walk into other keys.
  if (progId.empty() || progId.find('\\') != std::string_view::npos) return CO_E_CLASSSTRING;
  std::string path(progId);
  path += "\\CLSID";
  auto key = RegKey::Open(RegRoot::ClassesRoot, path);
  if (!key) return CO_E_CLASSSTRING;
  std::string text;
  if (key->ReadString("", text) != RegResult::Ok) return CO_E_CLASSSTRING;
  auto guid = GuidFromString(text);
  if (!guid) return CO_E_CLASSSTRING;
  *clsid = *guid;
  return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD clsctx, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ModuleUse module;
  HRESULT hr = module.Acquire(clsid, clsctx);
  if (FAILED(hr)) return hr;
  hr = module->getClassObject(clsid, riid, ppv);
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsctx, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  ModuleUse module;
  HRESULT hr = module.Acquire(clsid, clsctx);
  if (FAILED(hr)) return hr;
  void* factoryPtr = nullptr;
  hr = module->getClassObject(clsid, IID_IClassFactory, &factoryPtr);
  if (FAILED(hr)) return hr;
  if (!factoryPtr) return E_UNEXPECTED;
  auto* factory = static_cast<IClassFactory*>(factoryPtr);
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  if (FAILED(hr)) *ppv = nullptr;
  return hr;
}

void CoFreeUnusedLibraries() { ModuleTable::Instance().FreeUnused(); }

std::size_t CoLoadedModuleCount() { return ModuleTable::Instance().Count(); }

// Every thread may activate classes here: there is nothing to set up.
HRESULT CoInitializeApartment() { return S_OK; }
void CoUninitialize() {}

}  // namespace qmos
