// The registry interface over the Windows registry itself, under a key of its own
// below HKEY_CURRENT_USER\Software\VantiroTest that each test removes again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "qmos/registry.h"

namespace qmos {
namespace {

using ::testing::UnorderedElementsAre;

constexpr RegRoot kHive = RegRoot::CurrentUser;

RegValue Bin(std::uint32_t type, std::vector<std::uint8_t> bytes) {
  RegValue v;
  v.kind = RegValueKind::Binary;
  v.hexType = type;
  v.bytes = std::move(bytes);
  return v;
}

// A value as one line: equal lines, equal values.
std::string Show(const RegValue& v) {
  std::string line = std::to_string(static_cast<int>(v.kind)) + "|" + v.text + "|" +
                     std::to_string(v.dword) + "|" + std::to_string(v.hexType);
  for (std::uint8_t b : v.bytes) line += "," + std::to_string(b);
  return line;
}

// Every value below the key, one line each, sorted: equal dumps, equal trees.
void Dump(const std::string& path, std::vector<std::string>& out) {
  const std::optional<RegKey> key = RegKey::Open(kHive, path);
  ASSERT_TRUE(key) << path;
  for (const std::string& name : key->ValueNames()) {
    const std::optional<RegValue> v = key->ReadValue(name);
    ASSERT_TRUE(v) << name;
    out.push_back(path + "|" + name + "|" + Show(*v));
  }
  for (const std::string& sub : key->SubKeyNames()) Dump(path + "\\" + sub, out);
}

std::vector<std::string> Tree(const std::string& path) {
  std::vector<std::string> lines;
  Dump(path, lines);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class WinRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    unique_ = std::to_string(now) + "-" + std::to_string(random());
    base_ = "Software\\VantiroTest\\" + unique_;
    file_ = std::filesystem::temp_directory_path() / ("vantiro-reg-" + unique_ + ".reg");
  }
  void TearDown() override {
    RegDeleteKey(kHive, base_);
    std::error_code ignored;
    std::filesystem::remove(file_, ignored);
    const std::optional<RegKey> parent = RegKey::Open(kHive, "Software\\VantiroTest");
    if (parent && parent->SubKeyNames().empty()) RegDeleteKey(kHive, "Software\\VantiroTest");
  }
  std::string unique_, base_;
  std::filesystem::path file_;
};

TEST_F(WinRegistryTest, KeysAreCreatedOnlyWhenAskedAndPathsNormalised) {
  EXPECT_FALSE(RegKey::Open(kHive, base_));
  EXPECT_FALSE(RegKeyExists(kHive, base_));
  const std::optional<RegKey> key = RegKey::Open(kHive, "\\" + base_ + "\\\\Sub\\", true);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->Path(), base_ + "\\Sub");
  EXPECT_TRUE(RegKeyExists(kHive, base_ + "\\SUB"));  // names match without regard to case
  EXPECT_EQ(RegistryFile(), "");
  std::string error;
  EXPECT_TRUE(RegCheckFile(error));
}

TEST_F(WinRegistryTest, ValuesKeepTheirTypeAndContent) {
  RegValue text, empty, dword;
  text.text = "Grüße, 日本語 😀";
  dword.kind = RegValueKind::DWord;
  dword.dword = 0xDEADBEEF;
  const std::vector<std::pair<std::string, RegValue>> table = {
      {"", text},  // the default value
      {"Ä name", text},
      {"empty", empty},
      {"dword", dword},
      {"binary", Bin(3, {0, 1, 0xFF})},
      {"no bytes", Bin(3, {})},
      {"expand", Bin(2, {'%', 0, 'X', 0, '%', 0, 0, 0})},
      {"qword", Bin(0xB, {1, 2, 3, 4, 5, 6, 7, 8})},
  };
  std::optional<RegKey> key = RegKey::Open(kHive, base_, true);
  ASSERT_TRUE(key);
  for (const auto& [name, value] : table) ASSERT_TRUE(key->WriteValue(name, value)) << name;
  for (const auto& [name, value] : table) {
    const std::optional<RegValue> read = key->ReadValue(name);
    ASSERT_TRUE(read) << name;
    EXPECT_EQ(Show(*read), Show(value)) << name;
  }
  std::string s;
  std::uint32_t d = 0;
  EXPECT_EQ(key->ReadString("ä NAME", s), RegResult::Ok);
  EXPECT_EQ(s, text.text);
  EXPECT_EQ(key->ReadDword("dword", d), RegResult::Ok);
  EXPECT_EQ(d, 0xDEADBEEFu);
  // Texts a .reg line cannot carry are refused, as on other systems.
  EXPECT_FALSE(key->WriteString("bad", "two\nlines"));
  EXPECT_FALSE(key->WriteString("bad\r", "x"));
}

TEST_F(WinRegistryTest, ReadsTellMissingFromWrongType) {
  std::optional<RegKey> key = RegKey::Open(kHive, base_, true);
  ASSERT_TRUE(key && key->WriteString("s", "x") && key->WriteDword("d", 1) &&
              key->WriteValue("b", Bin(3, {1, 2, 3, 4})));
  std::string s;
  std::uint32_t d = 0;
  EXPECT_EQ(key->ReadString("d", s), RegResult::WrongType);
  EXPECT_EQ(key->ReadString("b", s), RegResult::WrongType);
  EXPECT_EQ(key->ReadDword("s", d), RegResult::WrongType);
  EXPECT_EQ(key->ReadDword("b", d), RegResult::WrongType);
  EXPECT_EQ(key->ReadString("missing", s), RegResult::NotFound);
  EXPECT_FALSE(key->ValueExists("missing"));
  ASSERT_TRUE(RegDeleteKey(kHive, base_));
  EXPECT_EQ(key->ReadDword("d", d), RegResult::NotFound);  // the key itself is gone
  EXPECT_FALSE(key->DeleteValue("s"));
  EXPECT_TRUE(key->WriteDword("d", 2));  // a write creates it again
  EXPECT_EQ(key->ReadDword("d", d), RegResult::Ok);
  EXPECT_EQ(d, 2u);
}

TEST_F(WinRegistryTest, EnumeratesAndDeletesValuesAndTrees) {
  std::optional<RegKey> key = RegKey::Open(kHive, base_, true);
  ASSERT_TRUE(key);
  for (const char* sub : {"Zeta", "alpha", "Ünïcode\\Deeper\\Deepest"}) {
    ASSERT_TRUE(RegKey::Open(kHive, base_ + "\\" + sub, true));
  }
  ASSERT_TRUE(key->WriteString("one", "1") && key->WriteDword("two", 2));
  EXPECT_THAT(key->SubKeyNames(), UnorderedElementsAre("Zeta", "alpha", "Ünïcode"));
  EXPECT_THAT(key->ValueNames(), UnorderedElementsAre("one", "two"));
  EXPECT_TRUE(key->DeleteValue("ONE"));
  EXPECT_FALSE(key->DeleteValue("one"));
  EXPECT_THAT(key->ValueNames(), UnorderedElementsAre("two"));
  EXPECT_TRUE(key->DeleteAllValues());
  EXPECT_TRUE(key->ValueNames().empty());
  EXPECT_FALSE(RegDeleteKey(kHive, ""));  // never a whole hive
  EXPECT_TRUE(RegDeleteKey(kHive, base_ + "\\Ünïcode"));
  EXPECT_FALSE(RegKeyExists(kHive, base_ + "\\Ünïcode\\Deeper"));
  EXPECT_FALSE(RegDeleteKey(kHive, base_ + "\\Ünïcode"));
  EXPECT_THAT(key->SubKeyNames(), UnorderedElementsAre("Zeta", "alpha"));
}

TEST_F(WinRegistryTest, ExportedTreeImportsBackTheSameAndImportsApplyDeletions) {
  ASSERT_TRUE(RegKey::Open(kHive, base_ + "\\Empty", true));
  std::optional<RegKey> key = RegKey::Open(kHive, base_ + "\\A \"quoted\" [key]", true);
  ASSERT_TRUE(key && key->WriteString("", "default \"x\" \\ y") && key->WriteString("ü", "日本") &&
              key->WriteDword("d", 7) &&
              key->WriteValue("long", Bin(7, std::vector<std::uint8_t>(300, 0x41))));
  // A REG_SZ that a .reg line cannot carry as text: a line break, no final NUL.
  ASSERT_TRUE(key->WriteValue("sz bytes", Bin(1, {'a', 0, '\n', 0})));
  const std::vector<std::string> before = Tree(base_);
  std::string error;
  ASSERT_TRUE(RegExportKey(kHive, base_, file_.string(), error)) << error;
  ASSERT_TRUE(RegDeleteKey(kHive, base_));
  ASSERT_TRUE(RegImportFile(file_.string(), error)) << error;
  EXPECT_EQ(Tree(base_), before);
  EXPECT_TRUE(RegKeyExists(kHive, base_ + "\\Empty"));

  const std::string full = "HKEY_CURRENT_USER\\" + base_;
  std::ofstream(file_, std::ios::binary | std::ios::trunc)
      << "Windows Registry Editor Version 5.00\n\n[-" << full << "\\Empty]\n\n[" << full
      << "\\A \"quoted\" [key]]\n\"d\"=-\n\"new\"=dword:0000002a\n";
  ASSERT_TRUE(RegImportFile(file_.string(), error)) << error;
  EXPECT_FALSE(RegKeyExists(kHive, base_ + "\\Empty"));
  EXPECT_FALSE(key->ValueExists("d"));
  std::uint32_t d = 0;
  EXPECT_EQ(key->ReadDword("new", d), RegResult::Ok);
  EXPECT_EQ(d, 42u);

  // A syntax error anywhere writes nothing at all.
  std::ofstream(file_, std::ios::binary | std::ios::trunc)
      << "REGEDIT4\n[" << full << "\\Fresh]\n\"x\"=dword:1\n\"y\"=bogus\n";
  EXPECT_FALSE(RegImportFile(file_.string(), error));
  EXPECT_THAT(error, ::testing::HasSubstr("line 4"));
  EXPECT_FALSE(RegKeyExists(kHive, base_ + "\\Fresh"));
}

}  // namespace
}  // namespace qmos
