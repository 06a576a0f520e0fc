#include "plugin/class_factory.h"

#include <new>

#include "plugin/VantiroImpl.h"
#include "plugin/VantiroPlugin_TLB.h"
#include "plugin/server_module.h"

namespace vantiro {

namespace {

using qmos::HRESULT;

// One factory for the life of the module. Its references do not count: a host
// that keeps the factory keeps the module loaded with LockServer, as COM asks.
class TVantiroFactory final : public qmos::IClassFactory {
 public:
  HRESULT QMOS_COM_CALL QueryInterface(qmos::REFIID riid, void** ppv) override {
    if (ppv == nullptr) return qmos::E_POINTER;
    if (riid == qmos::IID_IUnknown || riid == qmos::IID_IClassFactory) {
      *ppv = static_cast<qmos::IClassFactory*>(this);
      return qmos::S_OK;
    }
    *ppv = nullptr;
    return qmos::E_NOINTERFACE;
  }
  qmos::ULONG QMOS_COM_CALL AddRef() override { return 2; }
  qmos::ULONG QMOS_COM_CALL Release() override { return 1; }

  HRESULT QMOS_COM_CALL CreateInstance(qmos::IUnknown* outer, qmos::REFIID riid, void** ppv) override {
    if (ppv == nullptr) return qmos::E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return qmos::CLASS_E_NOAGGREGATION;
    TVantiroImpl* object = nullptr;
    try {
      object = new TVantiroImpl();
    } catch (const std::bad_alloc&) {
      return qmos::E_OUTOFMEMORY;
    } catch (...) {
      return qmos::E_FAIL;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();  // the creation reference; a failed query frees the object
    return hr;
  }

  HRESULT QMOS_COM_CALL LockServer(qmos::BOOL lock) override {
    if (lock)
      LockModule();
    else
      UnlockModule();
    return qmos::S_OK;
  }
};

TVantiroFactory g_factory;

}  // namespace

HRESULT GetVantiroClassObject(qmos::REFCLSID clsid, qmos::REFIID riid, void** ppv) {
  if (ppv == nullptr) return qmos::E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_Vantiro) return qmos::CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

}  // namespace vantiro
