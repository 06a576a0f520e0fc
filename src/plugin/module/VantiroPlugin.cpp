// The entry points of the in-process server module (VantiroPlugin.so,
// VantiroPlugin.dll): these four are its whole exported interface.
#include "module_export.h"
#include "plugin/class_factory.h"
#include "plugin/registration.h"
#include "plugin/server_module.h"

using qmos::HRESULT;

VANTIRO_EXPORT HRESULT QMOS_COM_CALL DllGetClassObject(qmos::REFCLSID clsid, qmos::REFIID riid, void** ppv) {
  return vantiro::GetVantiroClassObject(clsid, riid, ppv);
}

VANTIRO_EXPORT HRESULT QMOS_COM_CALL DllCanUnloadNow() { return vantiro::CanUnloadModule(); }

VANTIRO_EXPORT HRESULT QMOS_COM_CALL DllRegisterServer() {
  try {
    return vantiro::RegisterVantiroServer(vantiro::ModuleFilePath());
  } catch (...) {
    return qmos::SELFREG_E_CLASS;
  }
}

VANTIRO_EXPORT HRESULT QMOS_COM_CALL DllUnregisterServer() {
  try {
    return vantiro::UnregisterVantiroServer();
  } catch (...) {
    return qmos::SELFREG_E_CLASS;
  }
}
