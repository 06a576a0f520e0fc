// Activation through the registry with the test server modules.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>
#include <string>

#include "counted_object.h"
#include "loaded_module.h"
#include "qmos/activation.h"
#include "qmos/com_ptr.h"
#include "qmos/error_info.h"
#include "qmos/registry.h"
#include "testsupport/platform.h"
#include "testsupport/temp_dir.h"
#include "test_server.h"

using namespace qmos;
using com_test::ICounter;
using com_test::IID_ICounter;
using com_test::kServerClsid;

namespace {

bool ServerLoaded() { return com_test::ModuleLoaded(COM_TEST_SERVER); }

int ServerCount(const char* entry) { return com_test::CallModuleCount(COM_TEST_SERVER, entry); }

void RegisterClass(REFCLSID clsid, const std::string& modulePath) {
  auto key = RegKey::Open(RegRoot::ClassesRoot, "CLSID\\" + GuidToString(clsid) + "\\InprocServer32", true);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->WriteString("", modulePath));
}

class Activation : public testsupport::TempRegistryTest {
 protected:
  void SetUp() override {
    TempRegistryTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitializeApartment()));
    ClearErrorInfo();
    HRESULT hr = E_FAIL;
    std::string error;
    auto module = ComModule::Load(COM_TEST_SERVER, hr, error);
    ASSERT_TRUE(module) << error;
    ASSERT_EQ(module->RegisterServer(), S_OK);
  }
  void TearDown() override {
    CoFreeUnusedLibraries();
    CoUninitialize();
    TempRegistryTest::TearDown();
  }
};

}  // namespace

TEST_F(Activation, CreatesThroughProgIdAndClsid) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(com_test::kServerProgId, &clsid), S_OK);
  EXPECT_EQ(clsid, kServerClsid);
  ASSERT_EQ(CLSIDFromProgID(u"qmostest.counter", &clsid), S_OK);  // key names ignore case

  ComPtr<ICounter> a, b;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, a.OutVoid()), S_OK);
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_ICounter, b.OutVoid()), S_OK);
  LONG n = 0;
  EXPECT_EQ(a->Next(&n), S_OK);
  EXPECT_EQ(a->Next(&n), S_OK);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(b->Next(&n), S_OK);
  EXPECT_EQ(n, 1);  // two distinct objects
  EXPECT_EQ(ServerCount("TestServerObjectCount"), 2);
  EXPECT_EQ(CoLoadedModuleCount(), 1u);  // one module for both
}

TEST_F(Activation, UnknownClassesAndProgIds) {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID("QmosTest.Nothing", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID("", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromProgID("CLSID\\" + GuidToString(kServerClsid), &clsid), CO_E_CLASSSTRING);
  auto bad = RegKey::Open(RegRoot::ClassesRoot, "QmosTest.Broken\\CLSID", true);
  ASSERT_TRUE(bad && bad->WriteString("", "{not-a-guid}"));
  EXPECT_EQ(CLSIDFromProgID("QmosTest.Broken", &clsid), CO_E_CLASSSTRING);

  GUID unknown{};
  ASSERT_EQ(CoCreateGuid(&unknown), S_OK);
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
  // A class key without InprocServer32.
  ASSERT_TRUE(RegKey::Open(RegRoot::ClassesRoot, "CLSID\\" + GuidToString(unknown), true));
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  // Only in-process servers exist (on Windows, local servers are the system's to look for).
  if (!testsupport::kSystemCom) {
    EXPECT_EQ(CoCreateInstance(kServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p),
              REGDB_E_CLASSNOTREG);
  }
  // The module's factory serves only its own class.
  RegisterClass(unknown, COM_TEST_SERVER);
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
            CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(Activation, ModulesThatCannotServeAreReported) {
  if (testsupport::kSystemCom) GTEST_SKIP() << "ole32 reports modules that cannot serve with codes of its own";
  GUID clsid{};
  ASSERT_EQ(CoCreateGuid(&clsid), S_OK);
  void* p = nullptr;
  ErrorInfo info;

  const std::string missing = (Dir() / "gone.so").string();
  RegisterClass(clsid, missing);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), CO_E_DLLNOTFOUND);
  ASSERT_EQ(GetErrorInfo(info), S_OK);
  EXPECT_NE(info.description.find(missing), std::string::npos) << info.description;

  const std::string garbage = (Dir() / "garbage.so").string();
  std::ofstream(garbage) << "not a shared object";
  RegisterClass(clsid, garbage);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), CO_E_ERRORINDLL);
  ASSERT_EQ(GetErrorInfo(info), S_OK);  // the loader's own message
  EXPECT_NE(info.description.find("garbage.so"), std::string::npos) << info.description;

  RegisterClass(clsid, COM_TEST_SERVER_NO_ENTRY);
  EXPECT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p), CO_E_ERRORINDLL);
  ASSERT_EQ(GetErrorInfo(info), S_OK);
  EXPECT_NE(info.description.find("DllGetClassObject"), std::string::npos);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(CoLoadedModuleCount(), 0u);  // nothing kept of modules that failed

  HRESULT hr = S_OK;
  std::string error;
  EXPECT_FALSE(ComModule::Load(missing, hr, error));
  EXPECT_EQ(hr, CO_E_DLLNOTFOUND);
  EXPECT_FALSE(ComModule::Load(garbage, hr, error));
  EXPECT_EQ(hr, CO_E_ERRORINDLL);
  EXPECT_FALSE(error.empty());
  auto noEntry = ComModule::Load(COM_TEST_SERVER_NO_ENTRY, hr, error);
  ASSERT_TRUE(noEntry);
  EXPECT_EQ(noEntry->RegisterServer(), CO_E_ERRORINDLL);
  EXPECT_EQ(noEntry->CanUnloadNow(), S_OK);
}

TEST_F(Activation, RefusesAggregationAndUnknownInterfaces) {
  com_test::CountedObject outer;
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kServerClsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(ServerCount("TestServerObjectCount"), 0);  // the refused object is gone
  EXPECT_EQ(outer.refs, 1u);
}

TEST_F(Activation, ModuleIsFreedOnlyWhenItSaysSo) {
  CoFreeUnusedLibraries();
  ASSERT_FALSE(ServerLoaded());

  ComPtr<ICounter> counter;
  ASSERT_EQ(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, counter.OutVoid()), S_OK);
  ComPtr<ICounter> second = counter;
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ServerLoaded());
  counter.Reset();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ServerLoaded());  // one reference left
  second.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ServerLoaded());
  EXPECT_EQ(CoLoadedModuleCount(), 0u);

  // A lock on the server keeps it as well.
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(kServerClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.OutVoid()),
            S_OK);
  factory->LockServer(1);
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(ServerCount("TestServerLockCount"), 1);
  ASSERT_EQ(CoGetClassObject(kServerClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.OutVoid()),
            S_OK);
  factory->LockServer(0);
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ServerLoaded());
}

TEST_F(Activation, CreationRacesWithFreeingUnusedModules) {
  if (testsupport::kSystemCom) GTEST_SKIP() << "ole32 loads and frees the modules, apartment by apartment";
  // Threads create objects while others free unused modules: a module must never be
  // unloaded under a creation in progress. (Objects are kept until the end: a module
  // whose last object is being released is still running its code, which the module
  // itself has to allow for, as on Windows.)
  std::atomic<int> failures{0};
  std::vector<std::vector<ComPtr<ICounter>>> kept(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&failures, &kept, t] {
      for (int i = 0; i < 40; ++i) {
        if (t % 2 == 1) {
          CoFreeUnusedLibraries();
          continue;
        }
        ComPtr<ICounter> c;
        LONG n = 0;
        if (CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICounter, c.OutVoid()) != S_OK ||
            c->Next(&n) != S_OK || n != 1)
          ++failures;
        kept[t].push_back(std::move(c));
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(ServerCount("TestServerObjectCount"), 80);
  kept.clear();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ServerLoaded());
}

TEST_F(Activation, RegistrationToolRoundTrip) {
  HRESULT hr = E_FAIL;
  std::string error;
  auto module = ComModule::Load(COM_TEST_SERVER, hr, error);
  ASSERT_TRUE(module);
  EXPECT_TRUE(module->HasEntryPoint("DllUnregisterServer"));
  ASSERT_EQ(module->UnregisterServer(), S_OK);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(com_test::kServerProgId, &clsid), CO_E_CLASSSTRING);
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(kServerClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  ASSERT_EQ(module->RegisterServer(), S_OK);
  EXPECT_EQ(CLSIDFromProgID(com_test::kServerProgId, &clsid), S_OK);
  EXPECT_EQ(module->CanUnloadNow(), S_OK);
}

class ModulePath : public testsupport::TempRegistryTest {};

TEST_F(ModulePath, WindowsFormBecomesAFilePath) {
  if (testsupport::kSystemCom) GTEST_SKIP() << "the registry's paths are the system's own paths there";
  auto key = [](const std::string& path) {
    GUID clsid{};
    CoCreateGuid(&clsid);
    auto k = RegKey::Open(RegRoot::ClassesRoot, "CLSID\\" + GuidToString(clsid) + "\\InprocServer32", true);
    k->WriteString("", path);
    std::string out;
    GetInprocServerPath(clsid, out);
    RegDeleteKey(RegRoot::ClassesRoot, "CLSID\\" + GuidToString(clsid));
    return out;
  };
  EXPECT_EQ(key("C:\\Plugins\\VantiroPlugin.so"), "/Plugins/VantiroPlugin.so");
  EXPECT_EQ(key("/opt/quillmere/VantiroPlugin.so"), "/opt/quillmere/VantiroPlugin.so");
}
