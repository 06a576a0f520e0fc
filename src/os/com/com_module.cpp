// A server module loaded by path for registration tools.
#include "com/module_loader.h"
#include "qmos/activation.h"

namespace qmos {

std::unique_ptr<ComModule> ComModule::Load(const std::string& path, HRESULT& hr,
                                           std::string& error) {
  std::string file = com_detail::ModuleFilePath(path);
  void* handle = com_detail::OpenModule(file, hr, error);
  if (!handle) return nullptr;
  error.clear();
  return std::unique_ptr<ComModule>(new ComModule(file, handle));
}

ComModule::~ComModule() { com_detail::CloseModule(handle_); }

void* ComModule::Symbol(const char* name) const { return com_detail::ModuleSymbol(handle_, name); }

bool ComModule::HasEntryPoint(const char* name) const { return Symbol(name) != nullptr; }

HRESULT ComModule::RegisterServer() {
  auto fn = reinterpret_cast<PfnDllRegisterServer>(Symbol("DllRegisterServer"));
  return fn ? fn() : CO_E_ERRORINDLL;
}

HRESULT ComModule::UnregisterServer() {
  auto fn = reinterpret_cast<PfnDllUnregisterServer>(Symbol("DllUnregisterServer"));
  return fn ? fn() : CO_E_ERRORINDLL;
}

HRESULT ComModule::CanUnloadNow() {
  auto fn = reinterpret_cast<PfnDllCanUnloadNow>(Symbol("DllCanUnloadNow"));
  return fn ? fn() : CO_E_ERRORINDLL;
}

HRESULT ComModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  auto fn = reinterpret_cast<PfnDllGetClassObject>(Symbol("DllGetClassObject"));
  return fn ? fn(clsid, riid, ppv) : CO_E_ERRORINDLL;
}

}  // namespace qmos
