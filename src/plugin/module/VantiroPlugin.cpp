// The entry points of the in-process server module VantiroPlugin.so. The module is
// built with hidden visibility; these four are its whole exported interface.
#include "plugin/class_factory.h"
#include "plugin/registration.h"
#include "plugin/server_module.h"

#define VANTIRO_EXPORT extern "C" __attribute__((visibility("default")))

using qmos::HRESULT;

VANTIRO_EXPORT HRESULT DllGetClassObject(qmos::REFCLSID clsid, qmos::REFIID riid, void** ppv) {
  return vantiro::GetVantiroClassObject(clsid, riid, ppv);
}

VANTIRO_EXPORT HRESULT DllCanUnloadNow() { return vantiro::CanUnloadModule(); }

VANTIRO_EXPORT HRESULT DllRegisterServer() {
  try {
    return vantiro::RegisterVantiroServer(vantiro::ModuleFilePath());
  } catch (...) {
    return qmos::SELFREG_E_CLASS;
  }
}

VANTIRO_EXPORT HRESULT DllUnregisterServer() {
  try {
    return vantiro::UnregisterVantiroServer();
  } catch (...) {
    return qmos::SELFREG_E_CLASS;
  }
}
