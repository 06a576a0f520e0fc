// The RegKey interface: names, the HKEY_CLASSES_ROOT view, types, deletion.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "qmos/registry.h"
#include "test_support.h"

namespace qmos {
namespace {

using ::testing::ElementsAre;

TEST(RegApi, NamesMatchWithoutCaseAndKeepTheirCase) {
  testsupport::ScopedRegistry registry;
  EXPECT_FALSE(RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Quillmere"));
  auto key = RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Quillmere\\Viewer", true);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->WriteString("InstallDir", "C:\\Q"));
  ASSERT_TRUE(key->WriteDword("Count", 3));

  auto same = RegKey::Open(RegRoot::LocalMachine, "software\\QUILLMERE\\viewer\\");
  ASSERT_TRUE(same);
  std::string text;
  EXPECT_EQ(same->ReadString("installdir", text), RegResult::Ok);
  EXPECT_EQ(text, "C:\\Q");
  ASSERT_TRUE(same->WriteString("INSTALLDIR", "D:\\Q"));  // overwrites, keeps the stored name
  EXPECT_THAT(key->ValueNames(), ElementsAre("InstallDir", "Count"));
  EXPECT_THAT(RegKey::Open(RegRoot::LocalMachine, "Software")->SubKeyNames(), ElementsAre("Quillmere"));
  // The hives are distinct.
  EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "SOFTWARE\\Quillmere"));
}

TEST(RegApi, ClassesRootIsAViewOfLocalMachineClasses) {
  testsupport::ScopedRegistry registry;
  auto viaView = RegKey::Open(RegRoot::ClassesRoot, "CLSID\\{ABC}\\InprocServer32", true);
  ASSERT_TRUE(viaView);
  ASSERT_TRUE(viaView->WriteString("", "/opt/vantiro/VantiroPlugin.so"));
  auto direct = RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Classes\\clsid\\{abc}\\InprocServer32");
  ASSERT_TRUE(direct);
  std::string text;
  EXPECT_EQ(direct->ReadString("", text), RegResult::Ok);
  EXPECT_EQ(text, "/opt/vantiro/VantiroPlugin.so");
  ASSERT_TRUE(direct->WriteString("ThreadingModel", "Apartment"));
  EXPECT_TRUE(viaView->ValueExists("threadingmodel"));
  EXPECT_TRUE(RegDeleteKey(RegRoot::LocalMachine, "SOFTWARE\\Classes\\CLSID"));
  EXPECT_FALSE(RegKeyExists(RegRoot::ClassesRoot, "CLSID"));
  EXPECT_TRUE(RegKeyExists(RegRoot::ClassesRoot, ""));

  auto parsed = ParseRegKeyName("hkcr\\CLSID");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->root, RegRoot::LocalMachine);
  EXPECT_EQ(parsed->path, "SOFTWARE\\Classes\\CLSID");
  EXPECT_EQ(SplitRegKeyName("HKEY_CLASSES_ROOT")->root, RegRoot::ClassesRoot);
  EXPECT_EQ(ParseRegKeyName("HKEY_CURRENT_USER\\A\\\\B\\")->path, "A\\B");
  EXPECT_FALSE(ParseRegKeyName("HKEY_USERS\\x"));
  EXPECT_FALSE(ParseRegKeyName("HKEY_LOCAL_MACHINEX"));
  EXPECT_EQ(FormatRegKeyName(RegRoot::ClassesRoot, "A"), "HKEY_CLASSES_ROOT\\A");
  EXPECT_EQ(FormatRegKeyName(RegRoot::CurrentUser, ""), "HKEY_CURRENT_USER");
}

TEST(RegApi, ReadsReportMissingAndWrongType) {
  testsupport::ScopedRegistry registry;
  auto key = RegKey::Open(RegRoot::CurrentUser, "S", true);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->WriteString("s", "text"));
  ASSERT_TRUE(key->WriteDword("d", 42));
  RegValue bin;
  bin.kind = RegValueKind::Binary;
  bin.hexType = 2;
  bin.bytes = {0x41, 0};
  ASSERT_TRUE(key->WriteValue("b", bin));

  std::string text = "untouched";
  std::uint32_t number = 9;
  EXPECT_EQ(key->ReadString("d", text), RegResult::WrongType);
  EXPECT_EQ(key->ReadString("b", text), RegResult::WrongType);
  EXPECT_EQ(key->ReadString("missing", text), RegResult::NotFound);
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(key->ReadDword("s", number), RegResult::WrongType);
  EXPECT_EQ(key->ReadDword("d", number), RegResult::Ok);
  EXPECT_EQ(number, 42u);
  EXPECT_EQ(key->ReadValue("b")->bytes, bin.bytes);
  EXPECT_FALSE(key->ReadValue("missing"));
  EXPECT_FALSE(key->DeleteValue("missing"));
  EXPECT_TRUE(key->DeleteValue("S"));
  EXPECT_EQ(key->ReadString("s", text), RegResult::NotFound);
  // Texts the file cannot carry are refused, not mangled.
  EXPECT_FALSE(key->WriteString("x", "two\nlines"));
  EXPECT_FALSE(key->WriteString("bad\rname", "x"));
  EXPECT_FALSE(key->ValueExists("x"));
}

TEST(RegApi, DeleteKeyTreeThenWriteRecreatesIt) {
  testsupport::ScopedRegistry registry;
  auto key = RegKey::Open(RegRoot::CurrentUser, "A\\B", true);
  ASSERT_TRUE(key);
  ASSERT_TRUE(RegKey::Open(RegRoot::CurrentUser, "A\\B\\C\\D", true));
  ASSERT_TRUE(key->WriteDword("v", 1));
  EXPECT_FALSE(RegDeleteKey(RegRoot::CurrentUser, ""));  // a hive stays
  EXPECT_TRUE(RegDeleteKey(RegRoot::CurrentUser, "a"));
  EXPECT_FALSE(RegDeleteKey(RegRoot::CurrentUser, "A"));
  EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "A\\B\\C"));
  EXPECT_FALSE(key->ValueExists("v"));
  EXPECT_TRUE(key->SubKeyNames().empty());
  EXPECT_FALSE(key->DeleteAllValues());
  ASSERT_TRUE(key->WriteString("w", "again"));
  EXPECT_TRUE(RegKeyExists(RegRoot::CurrentUser, "A\\B"));
  EXPECT_THAT(key->ValueNames(), ElementsAre("w"));
  EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "A\\B\\C"));
  EXPECT_TRUE(key->DeleteAllValues());
  EXPECT_TRUE(key->ValueNames().empty());
}

TEST(RegApi, PathsBeyondTheLimitsAreRefused) {
  testsupport::ScopedRegistry registry;
  std::string deep;
  for (int i = 0; i < 513; ++i) deep += "k\\";
  EXPECT_FALSE(RegKey::Open(RegRoot::CurrentUser, deep, true));
  EXPECT_FALSE(RegKey::Open(RegRoot::CurrentUser, std::string(256, 'x'), true));
  EXPECT_FALSE(RegKey::Open(RegRoot::CurrentUser, std::string("a\nb"), true));
  EXPECT_FALSE(testsupport::Exists(registry.File()));
}

TEST(RegApi, RegistryFileFollowsItsSettings) {
  const char* saved[] = {std::getenv("QUILLMERE_REGISTRY"), std::getenv("XDG_CONFIG_HOME")};
  const std::string keep[] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : ""};
  SetRegistryFile("");
  ::setenv("QUILLMERE_REGISTRY", "/x/explicit.reg", 1);
  EXPECT_EQ(RegistryFile(), "/x/explicit.reg");
  ::unsetenv("QUILLMERE_REGISTRY");
  ::setenv("XDG_CONFIG_HOME", "/x/config", 1);
  EXPECT_EQ(RegistryFile(), "/x/config/quillmere/registry.reg");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_THAT(RegistryFile(), ::testing::EndsWith("/.config/quillmere/registry.reg"));
  SetRegistryFile("/x/set.reg");
  EXPECT_EQ(RegistryFile(), "/x/set.reg");
  SetRegistryFile("");
  if (saved[0]) ::setenv("QUILLMERE_REGISTRY", keep[0].c_str(), 1);
  if (saved[1]) ::setenv("XDG_CONFIG_HOME", keep[1].c_str(), 1);
}

}  // namespace
}  // namespace qmos
