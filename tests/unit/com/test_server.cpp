// A small in-process server for the activation tests: one class (a counter) whose
// objects and locks the module counts, with the four standard entry points.
#include <atomic>
#include <string>

#include "qmos/registry.h"
#include "test_server.h"
#include "testsupport/com_server.h"

using namespace qmos;
using testsupport::StaticClassFactory;

namespace {

std::atomic<int> g_objects{0};
std::atomic<int> g_locks{0};

class Counter final : public com_test::ICounter {
 public:
  Counter() { ++g_objects; }
  HRESULT QMOS_COM_CALL QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == com_test::IID_ICounter) {
      *ppv = static_cast<com_test::ICounter*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG QMOS_COM_CALL AddRef() override { return ++refs_; }
  ULONG QMOS_COM_CALL Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT QMOS_COM_CALL Next(LONG* value) override {
    if (!value) return E_POINTER;
    *value = ++count_;
    return S_OK;
  }

 private:
  ~Counter() { --g_objects; }
  std::atomic<ULONG> refs_{1};
  LONG count_ = 0;
};

StaticClassFactory g_factory(g_locks, [] { return new Counter; });

}  // namespace

extern "C" {

HRESULT QMOS_COM_CALL DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != com_test::kServerClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

HRESULT QMOS_COM_CALL DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

HRESULT QMOS_COM_CALL DllRegisterServer() {
  const std::string clsid = GuidToString(com_test::kServerClsid);
  auto inproc = RegKey::Open(RegRoot::ClassesRoot, "CLSID\\" + clsid + "\\InprocServer32", true);
  auto progId = RegKey::Open(RegRoot::ClassesRoot, std::string(com_test::kServerProgId) + "\\CLSID", true);
  if (!inproc || !progId) return SELFREG_E_CLASS;
  bool ok = inproc->WriteString("", testsupport::ModulePathOf(&g_factory)) &&
            inproc->WriteString("ThreadingModel", "Apartment") &&
            progId->WriteString("", clsid);
  return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT QMOS_COM_CALL DllUnregisterServer() {
  RegDeleteKey(RegRoot::ClassesRoot, "CLSID\\" + GuidToString(com_test::kServerClsid));
  RegDeleteKey(RegRoot::ClassesRoot, com_test::kServerProgId);
  return S_OK;
}

int TestServerObjectCount() { return g_objects; }
int TestServerLockCount() { return g_locks; }

}  // extern "C"
