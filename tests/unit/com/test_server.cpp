// A small in-process server for the activation tests: one class (a counter) whose
// objects and locks the module counts, with the four standard entry points.
#include <dlfcn.h>

#include <atomic>
#include <string>

#include "qmos/registry.h"
#include "test_server.h"

using namespace qmos;

namespace {

std::atomic<int> g_objects{0};
std::atomic<int> g_locks{0};

class Counter final : public com_test::ICounter {
 public:
  Counter() { ++g_objects; }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == com_test::IID_ICounter) {
      *ppv = static_cast<com_test::ICounter*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT Next(LONG* value) override {
    if (!value) return E_POINTER;
    *value = ++count_;
    return S_OK;
  }

 private:
  ~Counter() { --g_objects; }
  std::atomic<ULONG> refs_{1};
  LONG count_ = 0;
};

// The factory is static: it lives as long as the module and does not count.
class Factory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* c = new Counter;
    HRESULT hr = c->QueryInterface(riid, ppv);
    c->Release();
    return hr;
  }
  HRESULT LockServer(BOOL lock) override {
    lock ? ++g_locks : --g_locks;
    return S_OK;
  }
};

Factory g_factory;

std::string ModulePath() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&ModulePath), &info) || !info.dli_fname) return "";
  return info.dli_fname;
}

}  // namespace

extern "C" {

HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != com_test::kServerClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

HRESULT DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

HRESULT DllRegisterServer() {
  const std::string clsid = GuidToString(com_test::kServerClsid);
  auto inproc = RegKey::Open(RegRoot::ClassesRoot, "CLSID\\" + clsid + "\\InprocServer32", true);
  auto progId = RegKey::Open(RegRoot::ClassesRoot, std::string(com_test::kServerProgId) + "\\CLSID", true);
  if (!inproc || !progId) return SELFREG_E_CLASS;
  bool ok = inproc->WriteString("", ModulePath()) && inproc->WriteString("ThreadingModel", "Apartment") &&
            progId->WriteString("", clsid);
  return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT DllUnregisterServer() {
  RegDeleteKey(RegRoot::ClassesRoot, "CLSID\\" + GuidToString(com_test::kServerClsid));
  RegDeleteKey(RegRoot::ClassesRoot, com_test::kServerProgId);
  return S_OK;
}

int TestServerObjectCount() { return g_objects; }
int TestServerLockCount() { return g_locks; }

}  // extern "C"
