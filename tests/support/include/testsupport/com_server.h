// Parts of the in-process COM servers the tests build as loadable modules: a class
// factory that lives as long as its module, and the module's own path.
#pragma once

#include <atomic>
#include <string>

#include "qmos/com.h"
#include "qmos/paths.h"

namespace testsupport {

// A factory held in a static of its module: references are not counted and it does
// not keep the module loaded; LockServer counts in locks. make() returns a new object
// holding one reference.
template <class Make>
class StaticClassFactory final : public qmos::IClassFactory {
 public:
  StaticClassFactory(std::atomic<int>& locks, Make make) : locks_(locks), make_(make) {}

  qmos::HRESULT QMOS_COM_CALL QueryInterface(qmos::REFIID riid, void** ppv) override {
    if (!ppv) return qmos::E_POINTER;
    if (riid == qmos::IID_IUnknown || riid == qmos::IID_IClassFactory) {
      *ppv = static_cast<qmos::IClassFactory*>(this);
      return qmos::S_OK;
    }
    *ppv = nullptr;
    return qmos::E_NOINTERFACE;
  }
  qmos::ULONG QMOS_COM_CALL AddRef() override { return 2; }
  qmos::ULONG QMOS_COM_CALL Release() override { return 1; }
  qmos::HRESULT QMOS_COM_CALL CreateInstance(qmos::IUnknown* outer, qmos::REFIID riid, void** ppv) override {
    if (!ppv) return qmos::E_POINTER;
    *ppv = nullptr;
    if (outer) return qmos::CLASS_E_NOAGGREGATION;
    auto* object = make_();
    const qmos::HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  qmos::HRESULT QMOS_COM_CALL LockServer(qmos::BOOL lock) override {
    lock ? ++locks_ : --locks_;
    return qmos::S_OK;
  }

 private:
  std::atomic<int>& locks_;
  Make make_;
};

// The path of the loaded module that holds address (pass the address of a static
// of the module itself), or "".
inline std::string ModulePathOf(const void* address) { return qmos::ModuleFileOf(address); }

}  // namespace testsupport
