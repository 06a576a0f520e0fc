#include <gtest/gtest.h>

#include <string>

#include "qmos/registry.h"
#include "qmos/type_lib.h"
#include "testsupport/temp_dir.h"

using namespace qmos;

namespace {

constexpr GUID kLib = {0x1E2D3C4B, 0x5A69, 0x4788, {0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0, 0x0F}};
constexpr GUID kOtherLib = {0x2E2D3C4B, 0x5A69, 0x4788, {0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0, 0x0F}};
constexpr IID kDual = {0xA0000001, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
constexpr IID kAuto = {0xA0000002, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};
constexpr IID kCustom = {0xA0000003, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

TypeLibDesc Library() {
  TypeLibDesc d;
  d.libid = kLib;
  d.name = "TestLib";
  d.helpString = "Test Library";
  d.lcid = 0x409;
  d.interfaces = {{kDual, "IDualThing", true, true},
                  {kAuto, "IAutoThing", false, true},
                  {kCustom, "ICustomThing", false, false}};
  return d;
}

std::string Default(const std::string& path) {
  auto key = RegKey::Open(RegRoot::ClassesRoot, path);
  std::string value = "<missing>";
  if (key) key->ReadString("", value);
  return value;
}

class TypeLib : public testsupport::TempRegistryTest {};

}  // namespace

TEST_F(TypeLib, RegistersLibraryAndAutomationInterfaces) {
  const std::string module = "/opt/quillmere/plugins/VantiroPlugin.so";
  ASSERT_EQ(RegisterTypeLib(Library(), module), S_OK);
  const std::string lib = "TypeLib\\" + GuidToString(kLib);
  EXPECT_EQ(Default(lib + "\\1.0"), "Test Library");
  EXPECT_EQ(Default(lib + "\\1.0\\FLAGS"), "0");
  EXPECT_EQ(Default(lib + "\\1.0\\HELPDIR"), "/opt/quillmere/plugins");
  EXPECT_EQ(Default(lib + "\\1.0\\0\\win32"), module);
  std::string path;
  ASSERT_EQ(QueryPathOfRegTypeLib(kLib, 1, 0, path), S_OK);
  EXPECT_EQ(path, module);

  for (IID iid : {kDual, kAuto}) {
    const std::string itf = "Interface\\" + GuidToString(iid);
    EXPECT_EQ(Default(itf + "\\ProxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(Default(itf + "\\ProxyStubClsid"), "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(Default(itf + "\\TypeLib"), GuidToString(kLib));
    auto tl = RegKey::Open(RegRoot::ClassesRoot, itf + "\\TypeLib");
    std::string version;
    ASSERT_TRUE(tl);
    EXPECT_EQ(tl->ReadString("Version", version), RegResult::Ok);
    EXPECT_EQ(version, "1.0");
  }
  EXPECT_EQ(Default("Interface\\" + GuidToString(kDual)), "IDualThing");
  EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, "Interface\\" + GuidToString(kCustom)));
}

TEST_F(TypeLib, UnregisterRemovesOnlyWhatIsItsOwn) {
  ASSERT_EQ(RegisterTypeLib(Library(), "/m/a.so"), S_OK);
  TypeLibDesc v2 = Library();
  v2.minorVersion = 10;
  v2.interfaces.clear();
  ASSERT_EQ(RegisterTypeLib(v2, "/m/b.so"), S_OK);
  EXPECT_TRUE(RegKeyExists(RegRoot::ClassesRoot, "TypeLib\\" + GuidToString(kLib) + "\\1.a"));
  // Another library has since claimed one of the interfaces.
  TypeLibDesc other;
  other.libid = kOtherLib;
  other.name = "Other";
  other.interfaces = {{kAuto, "IAutoThing", false, true}};
  ASSERT_EQ(RegisterTypeLib(other, "/m/c.so"), S_OK);

  ASSERT_EQ(UnRegisterTypeLib(Library()), S_OK);
  EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, "TypeLib\\" + GuidToString(kLib) + "\\1.0"));
  EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, "Interface\\" + GuidToString(kDual)));
  EXPECT_EQ(Default("Interface\\" + GuidToString(kAuto) + "\\TypeLib"), GuidToString(kOtherLib));
  std::string path;
  EXPECT_EQ(QueryPathOfRegTypeLib(kLib, 1, 10, path), S_OK);  // the other version stays

  ASSERT_EQ(UnRegisterTypeLib(v2), S_OK);
  EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, "TypeLib\\" + GuidToString(kLib)));
  EXPECT_EQ(UnRegisterTypeLib(v2), TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(QueryPathOfRegTypeLib(kLib, 1, 10, path), TYPE_E_LIBNOTREGISTERED);
}
