// What is written reads back the same: tree -> text -> tree, and a file as
// regedit exports it imported and exported again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "registry/reg_text.h"
#include "registry/posix/reg_tree.h"
#include "test_support.h"

namespace qmos::reg {
namespace {

RegValue Str(std::string text) {
  RegValue v;
  v.text = std::move(text);
  return v;
}
RegValue Dword(std::uint32_t d) {
  RegValue v;
  v.kind = RegValueKind::DWord;
  v.dword = d;
  return v;
}
RegValue Hex(std::uint32_t type, std::size_t count) {
  RegValue v;
  v.kind = RegValueKind::Binary;
  v.hexType = type;
  for (std::size_t i = 0; i < count; ++i) v.bytes.push_back(static_cast<std::uint8_t>(i * 37));
  return v;
}

std::string Dump(const RegTree& tree) {
  std::string text = FormatRegHeader();
  FormatKeyTree(tree.Hive(RegRoot::LocalMachine), "HKEY_LOCAL_MACHINE", false, text);
  FormatKeyTree(tree.Hive(RegRoot::CurrentUser), "HKEY_CURRENT_USER", false, text);
  return text;
}

void Load(std::string_view bytes, RegTree& tree) {
  std::vector<RegKeyOp> ops;
  RegTextError error;
  ASSERT_TRUE(ParseRegBytes(bytes, ops, error)) << error.ToString();
  std::string applyError;
  ASSERT_TRUE(tree.Apply(ops, applyError)) << applyError;
}

TEST(RegRoundTrip, TreeToTextToTreeKeepsEverything) {
  RegTree tree;
  RegNode& a = *tree.Ensure(RegRoot::LocalMachine, {"SOFTWARE", "Quillmere", "Viewer"});
  ASSERT_TRUE(tree.SetValue(a, "", Str("default with \"quotes\" and C:\\path\\")));
  ASSERT_TRUE(tree.SetValue(a, "name \"with\" \\ odd = chars", Str("")));
  ASSERT_TRUE(tree.SetValue(a, "Unicode \xC3\xA9", Str("\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80 \xC3\xBC")));
  ASSERT_TRUE(tree.SetValue(a, "zero", Dword(0)));
  ASSERT_TRUE(tree.SetValue(a, "max", Dword(0xFFFFFFFF)));
  ASSERT_TRUE(tree.SetValue(a, "emptyhex", Hex(3, 0)));
  ASSERT_TRUE(tree.SetValue(a, "one", Hex(3, 1)));
  ASSERT_TRUE(tree.SetValue(a, "expand", Hex(2, 25)));
  ASSERT_TRUE(tree.SetValue(a, "multi", Hex(7, 300)));
  ASSERT_TRUE(tree.SetValue(a, "qword", Hex(0xB, 8)));
  ASSERT_TRUE(tree.SetValue(a, "odd type", Hex(0xFFFF0000, 3)));
  ASSERT_TRUE(tree.SetValue(a, std::string(200, 'n'), Hex(0, 40)));
  RegNode& b = *tree.Ensure(RegRoot::CurrentUser, {"Key with ] and [ and spaces", "Sub"});
  ASSERT_TRUE(tree.SetValue(b, "", Dword(7)));
  tree.Ensure(RegRoot::CurrentUser, {"Empty", "Leaf"});

  const std::string text = Dump(tree);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    // regedit keeps hex lists within 80 columns (a long name alone may pass them).
    if (line.rfind("  ", 0) == 0 || line.find("=hex") < 40) {
      EXPECT_LE(line.size(), 80u) << line.substr(0, 40);
    }
  }
  RegTree again;
  Load(text, again);
  EXPECT_EQ(Dump(again), text);
  EXPECT_EQ(again.Items(), tree.Items());
  const RegNode* read = again.Find(RegRoot::LocalMachine, {"software", "QUILLMERE", "viewer"});
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->Value("multi")->bytes, Hex(7, 300).bytes);
  EXPECT_EQ(read->Value("ODD TYPE")->hexType, 0xFFFF0000u);
  EXPECT_EQ(read->Value("")->text, "default with \"quotes\" and C:\\path\\");
  EXPECT_NE(again.Find(RegRoot::CurrentUser, {"empty", "leaf"}), nullptr);
}

// A file as regedit exports it: UTF-16LE with byte-order mark, CR LF line ends,
// REG_EXPAND_SZ / REG_MULTI_SZ / REG_BINARY values continued over lines.
std::string RegeditExport() {
  return "Windows Registry Editor Version 5.00\r\n"
         "\r\n"
         "[HKEY_CLASSES_ROOT\\VantiroPlugin.Vantiro]\r\n"
         "@=\"Vantiro\"\r\n"
         "\r\n"
         "[HKEY_CLASSES_ROOT\\VantiroPlugin.Vantiro\\CLSID]\r\n"
         "@=\"{0A1B2C3D-1111-2222-3333-444455556666}\"\r\n"
         "\r\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmere\\Viewer\\Settings]\r\n"
         "\"InstallDir\"=\"C:\\\\Program Files\\\\Quillmere\"\r\n"
         "\"TraceEnabled\"=dword:00000001\r\n"
         "\"LogPath\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,5c,00,71,00,6d,00,2e,00,\\\r\n"
         "  6c,00,6f,00,67,00,00,00\r\n"
         "\"Servers\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
         "\"Blob\"=hex:de,ad,be,ef,00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,\\\r\n"
         "  12,13,14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,\\\r\n"
         "  2b\r\n"
         "\"Stored as sz\"=hex(1):41,00,00,00\r\n"
         "\r\n"
         "[HKEY_CURRENT_USER\\SOFTWARE\\Quillmere\\Viewer\\PluginData]\r\n"
         "\"HelpURL\"=\"http://help.example/\xC3\xA9t\xC3\xA9\"\r\n"
         "\"ServerMode\"=dword:00000002\r\n"
         "\r\n";
}

TEST(RegRoundTrip, RegeditFileImportsAndExportsIntact) {
  testsupport::ScopedRegistry registry;
  const std::string source = registry.Dir().File("regedit.reg");
  testsupport::WriteFile(source, regtest::Utf16Le(RegeditExport(), true));
  std::string error;
  ASSERT_TRUE(RegImportFile(source, error)) << error;

  auto settings = RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Quillmere\\Viewer\\Settings");
  ASSERT_TRUE(settings);
  std::string text;
  EXPECT_EQ(settings->ReadString("InstallDir", text), RegResult::Ok);
  EXPECT_EQ(text, "C:\\Program Files\\Quillmere");
  EXPECT_EQ(settings->ReadValue("LogPath")->bytes.size(), 28u);
  EXPECT_EQ(settings->ReadValue("Blob")->bytes.size(), 48u);
  EXPECT_EQ(settings->ReadValue("Stored as sz")->hexType, 1u);
  auto progId = RegKey::Open(RegRoot::ClassesRoot, "VantiroPlugin.Vantiro\\CLSID");
  ASSERT_TRUE(progId);
  EXPECT_EQ(progId->ReadString("", text), RegResult::Ok);
  EXPECT_EQ(text, "{0A1B2C3D-1111-2222-3333-444455556666}");

  // Export each part, import the exports into an empty registry: same content.
  const std::string exports[] = {registry.Dir().File("a.reg"), registry.Dir().File("b.reg"),
                                 registry.Dir().File("c.reg")};
  ASSERT_TRUE(RegExportKey(RegRoot::ClassesRoot, "VantiroPlugin.Vantiro", exports[0], error)) << error;
  ASSERT_TRUE(RegExportKey(RegRoot::LocalMachine, "SOFTWARE\\Quillmere", exports[1], error)) << error;
  ASSERT_TRUE(RegExportKey(RegRoot::CurrentUser, "SOFTWARE", exports[2], error)) << error;
  EXPECT_THAT(testsupport::ReadFile(exports[0]), ::testing::HasSubstr("[HKEY_CLASSES_ROOT\\VantiroPlugin.Vantiro]\n@=\"Vantiro\"\n"));

  RegTree original;
  Load(regtest::Utf16Le(RegeditExport(), true), original);
  RegTree rebuilt;
  for (const std::string& file : exports) Load(testsupport::ReadFile(file), rebuilt);
  EXPECT_EQ(Dump(rebuilt), Dump(original));
  // And the registry file itself holds the same.
  RegTree stored;
  Load(testsupport::ReadFile(registry.File()), stored);
  EXPECT_EQ(Dump(stored), Dump(original));
}

}  // namespace
}  // namespace qmos::reg
