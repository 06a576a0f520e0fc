// The built module VantiroPlugin.so: registration into a temporary registry,
// activation through COM, and unloading only once nothing of it is in use.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>

#include "plugin/VantiroPlugin_TLB.h"
#include "plugin/registration.h"
#include "plugin_fixture.h"
#include "qmos/activation.h"
#include "qmos/com_ptr.h"
#include "qmos/type_lib.h"
#include "testsupport/platform.h"

namespace plugin_test {
namespace {

using namespace std::chrono_literals;
using qmos::ComPtr;
using qmos::RegKey;
using qmos::RegRoot;
using qmos::RegValueKind;

std::string ModulePath() { return testsupport::PluginModulePath(); }

std::string ClassKey() { return "CLSID\\" + qmos::GuidToString(vantiro::CLSID_Vantiro); }

std::string DefaultOf(const std::string& path) {
  auto key = RegKey::Open(RegRoot::ClassesRoot, path);
  std::string value;
  if (!key || key->ReadString("", value) != qmos::RegResult::Ok) return "<missing>";
  return value;
}

// The module path the type library is registered with (on Windows under its locale,
// 0x409, which the query must find).
std::string RegisteredLibraryPath() {
  std::string path;
  if (qmos::QueryPathOfRegTypeLib(vantiro::LIBID_VantiroPlugin, 1, 0, path) != qmos::S_OK) return "<missing>";
  return path;
}

class RegistrationTest : public PluginTest {
 protected:
  std::unique_ptr<qmos::ComModule> LoadModule() {
    qmos::HRESULT hr = qmos::S_OK;
    std::string error;
    auto module = qmos::ComModule::Load(ModulePath(), hr, error);
    EXPECT_EQ(hr, qmos::S_OK) << error;
    return module;
  }
};

TEST(InstallDateTime, FourteenDigitsOfLocalTime) {
  qmos::LocalTime t;
  t.year = 2026, t.month = 12, t.day = 6, t.hour = 21, t.minute = 48, t.second = 59;
  EXPECT_EQ(vantiro::FormatInstallDateTime(t), "20261206214859");
  t.month = 1, t.day = 2, t.hour = 3, t.minute = 4, t.second = 5;
  EXPECT_EQ(vantiro::FormatInstallDateTime(t), "20260102030405");
}

TEST_F(RegistrationTest, RegisterWritesHostKeyClassAndTypeLibraryAndUnregisterRemovesThem) {
  auto module = LoadModule();
  ASSERT_TRUE(module);
  ASSERT_EQ(module->RegisterServer(), qmos::S_OK);
  ASSERT_EQ(module->RegisterServer(), qmos::S_OK);  // again: overwrites in place

  // The host plug-in key: eight values, in order, with their types.
  const std::string hostKeyPath = std::string(quillmere::kPluginsKey) + "\\{8E902927-A1DF-4A2F-8739-7725DBAEE5C7}";
  auto hostKey = RegKey::Open(RegRoot::LocalMachine, hostKeyPath);
  ASSERT_TRUE(hostKey);
  std::vector<std::string> names = hostKey->ValueNames();
  std::vector<std::string> written = {"short_description", "long_description", "version", "install_datetime",
                                      "update_check_frequency", "mandatory", "has_gui", "customer"};
  if (testsupport::kSystemCom) {  // Wine's registry lists a key's values sorted by name
    std::sort(names.begin(), names.end());
    std::sort(written.begin(), written.end());
  }
  EXPECT_EQ(names, written);
  const std::vector<std::pair<std::string, std::string>> texts = {
      {"short_description", "Vantiro Backend"},
      {"long_description", "Supplies the necessary connectivity to the Unified Messaging mailbox"},
      {"version", ""},
      {"customer", ""}};
  for (const auto& [name, text] : texts) {
    auto value = hostKey->ReadValue(name);
    ASSERT_TRUE(value) << name;
    EXPECT_EQ(value->kind, RegValueKind::String) << name;
    EXPECT_EQ(value->text, text) << name;
  }
  const std::vector<std::pair<std::string, std::uint32_t>> numbers = {
      {"update_check_frequency", 180}, {"mandatory", 0}, {"has_gui", 0}};
  for (const auto& [name, number] : numbers) {
    auto value = hostKey->ReadValue(name);
    ASSERT_TRUE(value) << name;
    EXPECT_EQ(value->kind, RegValueKind::DWord) << name;
    EXPECT_EQ(value->dword, number) << name;
  }
  std::string installed;
  ASSERT_EQ(hostKey->ReadString("install_datetime", installed), qmos::RegResult::Ok);
  EXPECT_EQ(installed.size(), 14u);
  EXPECT_TRUE(std::all_of(installed.begin(), installed.end(), [](unsigned char c) { return std::isdigit(c); }))
      << installed;
  EXPECT_EQ(installed.substr(0, 2), "20");

  // The COM class.
  EXPECT_EQ(DefaultOf(ClassKey()), "Vantiro");
  EXPECT_EQ(DefaultOf(ClassKey() + "\\InprocServer32"), ModulePath());
  auto inproc = RegKey::Open(RegRoot::ClassesRoot, ClassKey() + "\\InprocServer32");
  std::string model;
  ASSERT_TRUE(inproc);
  EXPECT_EQ(inproc->ReadString("ThreadingModel", model), qmos::RegResult::Ok);
  EXPECT_EQ(model, "Apartment");
  EXPECT_EQ(DefaultOf(ClassKey() + "\\ProgID"), "VantiroPlugin.Vantiro");
  EXPECT_EQ(DefaultOf(ClassKey() + "\\Version"), "1.0");
  EXPECT_EQ(DefaultOf(ClassKey() + "\\Typelib"), "{557FA17D-8169-4A4A-8F05-DA9CD98F5623}");
  EXPECT_EQ(DefaultOf("VantiroPlugin.Vantiro"), "Vantiro");
  qmos::CLSID clsid{};
  ASSERT_EQ(qmos::CLSIDFromProgID("VantiroPlugin.Vantiro", &clsid), qmos::S_OK);
  EXPECT_TRUE(clsid == vantiro::CLSID_Vantiro);

  // The type library and its three interfaces.
  EXPECT_EQ(RegisteredLibraryPath(), ModulePath());
  EXPECT_EQ(DefaultOf("TypeLib\\{557FA17D-8169-4A4A-8F05-DA9CD98F5623}\\1.0"), "Vantiro Plugin Library");
  EXPECT_EQ(DefaultOf("Interface\\{30A7297B-8347-4E92-ADE1-D88C59742B23}"), "IVantiro");
  EXPECT_EQ(DefaultOf("Interface\\" + qmos::GuidToString(quillmere::IID_IQMViewerPlugin)), "IQMViewerPlugin");
  EXPECT_EQ(DefaultOf("Interface\\" + qmos::GuidToString(quillmere::IID_IQMViewerMenu)), "IQMViewerMenu");

  ASSERT_EQ(module->UnregisterServer(), qmos::S_OK);
  EXPECT_FALSE(qmos::RegKeyExists(RegRoot::LocalMachine, hostKeyPath));
  EXPECT_FALSE(qmos::RegKeyExists(RegRoot::ClassesRoot, ClassKey()));
  EXPECT_FALSE(qmos::RegKeyExists(RegRoot::ClassesRoot, "VantiroPlugin.Vantiro"));
  EXPECT_EQ(qmos::CLSIDFromProgID("VantiroPlugin.Vantiro", &clsid), qmos::CO_E_CLASSSTRING);
  EXPECT_EQ(RegisteredLibraryPath(), ModulePath());
  // Unregistering what is not there is no failure.
  EXPECT_EQ(module->UnregisterServer(), qmos::S_OK);
}

TEST_F(RegistrationTest, UnwritableRegistryIsReportedAsFailure) {
  if (testsupport::kSystemCom) GTEST_SKIP() << "the system's registry is not a file to block";
  auto module = LoadModule();
  ASSERT_TRUE(module);
  // The registry file's folder is an ordinary file: nothing can be written there.
  { std::ofstream(Dir() / "blocker") << "x"; }
  qmos::SetRegistryFile((Dir() / "blocker" / "registry.reg").string());
  EXPECT_TRUE(FAILED(module->RegisterServer()));
  EXPECT_TRUE(FAILED(module->UnregisterServer()));
  qmos::SetRegistryFile((Dir() / "registry.reg").string());
}

TEST_F(RegistrationTest, ActivationCreatesObjectsAndTheModuleUnloadsOnlyWhenUnused) {
  {
    auto module = LoadModule();
    ASSERT_TRUE(module);
    ASSERT_EQ(module->RegisterServer(), qmos::S_OK);
  }
  qmos::CLSID clsid{};
  ASSERT_EQ(qmos::CLSIDFromProgID("VantiroPlugin.Vantiro", &clsid), qmos::S_OK);

  // No aggregation.
  FakeHost outer;
  ComPtr<qmos::IUnknown> aggregated;
  EXPECT_EQ(qmos::CoCreateInstance(clsid, &outer, qmos::CLSCTX_INPROC_SERVER, qmos::IID_IUnknown,
                                   aggregated.OutVoid()),
            qmos::CLASS_E_NOAGGREGATION);

  ComPtr<quillmere::IQMViewerPlugin> plugin;
  ASSERT_EQ(qmos::CoCreateInstance(clsid, nullptr, qmos::CLSCTX_INPROC_SERVER, quillmere::IID_IQMViewerPlugin,
                                   plugin.OutVoid()),
            qmos::S_OK);
  ASSERT_EQ(qmos::CoLoadedModuleCount(), 1u);
  // Each CreateInstance makes its own object.
  ComPtr<quillmere::IQMViewerPlugin> second;
  ASSERT_EQ(qmos::CoCreateInstance(clsid, nullptr, qmos::CLSCTX_INPROC_SERVER, quillmere::IID_IQMViewerPlugin,
                                   second.OutVoid()),
            qmos::S_OK);
  EXPECT_NE(static_cast<void*>(plugin.Get()), static_cast<void*>(second.Get()));
  second.Reset();

  // The version comes from the module file itself (the client's folder has none).
  qmos::Bstr shortText, longText, version, tab;
  ASSERT_EQ(plugin->PlugInInfo(shortText.Out(), longText.Out(), version.Out(), tab.Out()), qmos::S_OK);
  EXPECT_EQ(version.Utf8(), VANTIRO_VERSION_TEXT);

  FakeHost host;
  ASSERT_EQ(plugin->Initialize(&host), qmos::S_OK);
  ASSERT_TRUE(host.WaitForPublication("service_lookup_request", 10s));
  qmos::CoFreeUnusedLibraries();
  EXPECT_EQ(qmos::CoLoadedModuleCount(), 1u);  // an object lives

  // Released without Terminate: the supervisor still runs, so the module stays.
  plugin.Reset();
  qmos::CoFreeUnusedLibraries();
  EXPECT_EQ(qmos::CoLoadedModuleCount(), 1u);

  // A new object's Terminate stops the supervisor of the process.
  ASSERT_EQ(qmos::CoCreateInstance(clsid, nullptr, qmos::CLSCTX_INPROC_SERVER, quillmere::IID_IQMViewerPlugin,
                                   plugin.OutVoid()),
            qmos::S_OK);
  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
  plugin.Reset();
  ASSERT_TRUE(WaitUntil([] { return qmos::TThread::RunningCount() == 0; }));

  // A lock held through the factory keeps it loaded too.
  ComPtr<qmos::IClassFactory> factory;
  ASSERT_EQ(qmos::CoGetClassObject(clsid, qmos::CLSCTX_INPROC_SERVER, nullptr, qmos::IID_IClassFactory,
                                   factory.OutVoid()),
            qmos::S_OK);
  ASSERT_EQ(factory->LockServer(1), qmos::S_OK);
  qmos::CoFreeUnusedLibraries();
  EXPECT_EQ(qmos::CoLoadedModuleCount(), 1u);
  ASSERT_EQ(factory->LockServer(0), qmos::S_OK);
  factory.Reset();

  qmos::CoFreeUnusedLibraries();
  EXPECT_EQ(qmos::CoLoadedModuleCount(), 0u);
  EXPECT_TRUE(TraceHas("TVantiroImpl::~TVantiroImpl(): Plugin terminating"));
}

}  // namespace
}  // namespace plugin_test
