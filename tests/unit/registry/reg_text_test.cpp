// The .reg text parser: every construct, and faults reported with their line.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "registry/reg_text.h"
#include "test_support.h"

namespace qmos::reg {
namespace {

using ::testing::HasSubstr;
using namespace std::string_literals;

std::vector<RegKeyOp> ParseOk(std::string_view text) {
  std::vector<RegKeyOp> ops;
  RegTextError error;
  EXPECT_TRUE(ParseRegText(text, ops, error)) << error.ToString();
  return ops;
}

RegTextError ParseFails(std::string_view bytes) {
  std::vector<RegKeyOp> ops;
  RegTextError error;
  EXPECT_FALSE(ParseRegBytes(bytes, ops, error)) << "accepted: " << bytes.substr(0, 200);
  return error;
}

TEST(RegTextParse, EveryConstruct) {
  const auto ops = ParseOk(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "; a comment\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Q]\n"
      "@=\"default \\\"quoted\\\" C:\\\\dir\"\n"
      "\"Name\"=\"text\"\n"
      "  \"Spaced\" = dword:a\n"
      "\"Full\"=dword:FFFFFFFF\n"
      "\"Bin\"=hex:00,ff,10\n"
      "\"Multi\"=hex(7):41,00,00,00,\\\n"
      "  00,00\n"
      "\"Empty\"=hex(0):\n"
      "\"Gone\"=-\n"
      "@=-\n"
      "\n"
      "[-HKEY_CURRENT_USER\\Old\\Tree]\n"
      "[HKCR\\CLSID]\n");
  ASSERT_EQ(ops.size(), 3u);
  const RegKeyOp& q = ops[0];
  EXPECT_FALSE(q.remove);
  EXPECT_EQ(q.root, RegRoot::LocalMachine);
  EXPECT_EQ(q.path, (KeyPath{"SOFTWARE", "Q"}));
  EXPECT_EQ(q.line, 4u);
  ASSERT_EQ(q.values.size(), 9u);
  EXPECT_EQ(q.values[0].name, "");
  EXPECT_EQ(q.values[0].value->text, "default \"quoted\" C:\\dir");
  EXPECT_EQ(q.values[1].value->text, "text");
  EXPECT_EQ(q.values[2].name, "Spaced");
  EXPECT_EQ(q.values[2].value->kind, RegValueKind::DWord);
  EXPECT_EQ(q.values[2].value->dword, 10u);
  EXPECT_EQ(q.values[3].value->dword, 0xFFFFFFFFu);
  EXPECT_EQ(q.values[4].value->kind, RegValueKind::Binary);
  EXPECT_EQ(q.values[4].value->hexType, 3u);
  EXPECT_EQ(q.values[4].value->bytes, (std::vector<std::uint8_t>{0x00, 0xFF, 0x10}));
  EXPECT_EQ(q.values[5].value->hexType, 7u);
  EXPECT_EQ(q.values[5].value->bytes, (std::vector<std::uint8_t>{0x41, 0, 0, 0, 0, 0}));
  EXPECT_EQ(q.values[6].value->hexType, 0u);
  EXPECT_TRUE(q.values[6].value->bytes.empty());
  EXPECT_EQ(q.values[7].name, "Gone");
  EXPECT_FALSE(q.values[7].value.has_value());
  EXPECT_EQ(q.values[8].name, "");
  EXPECT_FALSE(q.values[8].value.has_value());

  EXPECT_TRUE(ops[1].remove);
  EXPECT_EQ(ops[1].root, RegRoot::CurrentUser);
  EXPECT_EQ(ops[1].path, (KeyPath{"Old", "Tree"}));
  // HKEY_CLASSES_ROOT resolves to HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
  EXPECT_EQ(ops[2].root, RegRoot::LocalMachine);
  EXPECT_EQ(ops[2].path, (KeyPath{"SOFTWARE", "Classes", "CLSID"}));
}

TEST(RegTextParse, AcceptsRegedit4AndEveryEncoding) {
  const std::string body = "\r\n[HKEY_CURRENT_USER\\K\xC3\xA9]\r\n\"n\"=\"\xE2\x82\xAC \xF0\x9F\x98\x80\"\r\n";
  for (const std::string& header : {std::string("REGEDIT4"), std::string(kHeaderV5)}) {
    const std::string text = header + body;
    for (const std::string& bytes :
         {text, "\xEF\xBB\xBF" + text, regtest::Utf16Le(text, true), regtest::Utf16Le(text, false)}) {
      std::vector<RegKeyOp> ops;
      RegTextError error;
      ASSERT_TRUE(ParseRegBytes(bytes, ops, error)) << error.ToString();
      ASSERT_EQ(ops.size(), 1u);
      EXPECT_EQ(ops[0].path, KeyPath{"K\xC3\xA9"});
      EXPECT_EQ(ops[0].values.at(0).value->text, "\xE2\x82\xAC \xF0\x9F\x98\x80");
    }
  }
}

TEST(RegTextParse, FaultsCarryTheirLine) {
  const std::string h = std::string(kHeaderV5) + "\n";
  const struct {
    std::string text;
    std::size_t line;
    const char* message;
  } cases[] = {
      {"", 1, "empty"},
      {"\n  \n", 1, "empty"},
      {"REGEDIT5\n[HKEY_CURRENT_USER\\A]\n", 1, "missing header"},
      {"; comment first\n" + h, 1, "missing header"},
      {h + "\"v\"=\"x\"\n", 2, "before any key"},
      {h + "[HKEY_USERS\\S-1]\n", 2, "unknown hive"},
      {h + "[HKEY_CURRENT_USER\\A\n", 2, "closing"},
      {h + "[-HKEY_CURRENT_USER]\n", 2, "whole hive"},
      {h + "[-HKEY_CURRENT_USER\\A]\n\"v\"=\"x\"\n", 3, "deleted key"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"a\\nb\"\n", 3, "unknown escape"},
      {h + "[HKEY_CURRENT_USER\\A]\n\n\"v\"=\"abc\n", 4, "unterminated"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v=\"abc\"\n", 3, "expected '='"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"abc\" x\n", 3, "after the closing quote"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:123456789\n", 3, "dword"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:\n", 3, "dword"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=dword:-1\n", 3, "dword"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:0g\n", 3, "bad hex byte"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:100\n", 3, "bad hex byte"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,,02\n", 3, "bad hex byte"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,02,\n", 3, "bad hex byte"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex(zz):01\n", 3, "hex(N)"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex(2)01\n", 3, "':'"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=hex:01,\\\n", 3, "past the end"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=str:x\n", 3, "unrecognised value"},
      {h + "[HKEY_CURRENT_USER\\A]\nv=1\n", 3, "unrecognised line"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"a\0b\"\n"s, 3, "NUL"},
      {h + "[HKEY_CURRENT_USER\\A]\n\"v\"=\"a\rb\"\n", 3, "carriage return"},
      {h + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\n", 2, "255"},
  };
  for (const auto& c : cases) {
    const RegTextError error = ParseFails(c.text);
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_THAT(error.message, HasSubstr(c.message)) << c.text;
  }
}

TEST(RegTextParse, HostileBytesAreRefusedWithoutHarm) {
  const std::string text = std::string(kHeaderV5) + "\r\n[HKEY_CURRENT_USER\\A]\r\n\"v\"=\"x\"\r\n";
  const std::string utf16 = regtest::Utf16Le(text, true);
  // Odd byte count: a truncated UTF-16 file.
  EXPECT_THAT(ParseFails(utf16.substr(0, utf16.size() - 1)).message, HasSubstr("odd number"));
  // Lone surrogates, high at the end and low on its own, on line 2.
  const std::string prefix = regtest::Utf16Le(std::string(kHeaderV5) + "\r\n", true);
  EXPECT_EQ(ParseFails(prefix + std::string("\x00\xD8", 2)).line, 2u);
  EXPECT_THAT(ParseFails(prefix + std::string("\x00\xDC\x41\x00", 4)).message, HasSubstr("low surrogate"));
  EXPECT_THAT(ParseFails(prefix + std::string("\x00\xD8\x41\x00", 4)).message, HasSubstr("high surrogate"));
  // Every truncation of a valid file either parses or fails cleanly.
  for (std::size_t n = 0; n < utf16.size(); ++n) {
    std::vector<RegKeyOp> ops;
    RegTextError error;
    ParseRegBytes(utf16.substr(0, n), ops, error);
  }
  // Above the size cap.
  EXPECT_THAT(ParseFails(std::string(kMaxRegFileBytes + 1, ' ')).message, HasSubstr("MiB"));
}

TEST(RegTextParse, HugeValuesAndDeepPathsStayBounded) {
  const std::string h = std::string(kHeaderV5) + "\n";
  const std::string big(4 << 20, 'x');
  auto ops = ParseOk(h + "[HKEY_CURRENT_USER\\A]\n\"big\"=\"" + big + "\"\n");
  EXPECT_EQ(ops.at(0).values.at(0).value->text.size(), big.size());

  std::string hex;
  for (int i = 0; i < 100000; ++i) hex += (i % 20 == 19) ? "ab,\\\n  " : "ab,";
  hex += "cd";
  ops = ParseOk(h + "[HKEY_CURRENT_USER\\A]\n\"bin\"=hex:" + hex + "\n");
  EXPECT_EQ(ops.at(0).values.at(0).value->bytes.size(), 100001u);

  std::string deep = "HKEY_CURRENT_USER";
  for (std::size_t i = 0; i < kMaxKeyDepth; ++i) deep += "\\k";
  EXPECT_EQ(ParseOk(h + "[" + deep + "]\n").at(0).path.size(), kMaxKeyDepth);
  EXPECT_THAT(ParseFails(h + "[" + deep + "\\k]\n").message, HasSubstr("512"));
  // HKEY_CLASSES_ROOT adds two levels when it is resolved.
  std::string deepClasses = "HKEY_CLASSES_ROOT";
  for (std::size_t i = 0; i + 1 < kMaxKeyDepth; ++i) deepClasses += "\\k";
  EXPECT_THAT(ParseFails(h + "[" + deepClasses + "]\n").message, HasSubstr("512"));
}

TEST(RegTextParse, RandomDamageNeverCrashes) {
  const std::string valid = std::string(kHeaderV5) +
                            "\n[HKEY_CURRENT_USER\\A\\B]\n@=\"d\\\\x\"\n\"n\"=dword:0a\n"
                            "\"h\"=hex(2):41,00,\\\n  42,00\n[-HKCR\\Z]\n";
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = round % 2 ? valid : regtest::Utf16Le(valid, true);
    const int edits = 1 + static_cast<int>(random() % 6);
    for (int e = 0; e < edits && !bytes.empty(); ++e) {
      const std::size_t at = random() % bytes.size();
      switch (random() % 3) {
        case 0: bytes[at] = static_cast<char>(random()); break;
        case 1: bytes.erase(at, 1 + random() % 4); break;
        default: bytes.insert(at, 1, static_cast<char>(random())); break;
      }
    }
    std::vector<RegKeyOp> ops;
    RegTextError error;
    if (!ParseRegBytes(bytes, ops, error)) {
      EXPECT_FALSE(error.message.empty());
    }
  }
}

}  // namespace
}  // namespace qmos::reg
