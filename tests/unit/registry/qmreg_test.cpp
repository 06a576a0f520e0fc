// qmreg end to end: the built program against a registry file in a temp folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testsupport::Result;

constexpr const char* kOk = "The operation completed successfully.\n";
constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";
constexpr const char* kCancelled = "The operation was cancelled by the user.\n";

class Qmreg : public ::testing::Test {
 protected:
  Result Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--registry", file_});
    return testsupport::RunProgram(regtest::QmregPath(), args, {}, input);
  }
  std::string Content() { return testsupport::ReadFile(file_); }

  testsupport::TempDir dir_;
  std::string file_ = dir_.File("sub/registry.reg");
};

TEST_F(Qmreg, AddThenQueryPrintsLikeReg) {
  EXPECT_EQ(Run({"add", "HKLM\\SOFTWARE\\Q", "/v", "Name", "/d", "some text"}).out, kOk);
  EXPECT_EQ(Run({"ADD", "hklm\\SOFTWARE\\Q", "/V", "Count", "/T", "reg_dword", "/D", "0x1F"}).status, 0);
  EXPECT_EQ(Run({"add", "HKLM\\SOFTWARE\\Q", "-ve", "-d", "def"}).status, 0);
  EXPECT_EQ(Run({"add", "HKLM\\SOFTWARE\\Q\\Sub", "/v", "Max", "/t", "REG_DWORD", "/d", "4294967295"}).status, 0);
  EXPECT_EQ(Run({"add", "HKCR\\Empty"}).status, 0);
  const std::string hex = dir_.File("hex.reg");
  testsupport::WriteFile(hex, "REGEDIT4\n[HKLM\\SOFTWARE\\Q\\Sub]\n\"e\"=hex(2):41,00\n\"u\"=hex(5):01\n");
  ASSERT_EQ(Run({"import", hex}).status, 0);

  Result r = Run({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Q"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q\n"
            "    Name    REG_SZ    some text\n"
            "    Count    REG_DWORD    0x1f\n"
            "    (Default)    REG_SZ    def\n"
            "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q\\Sub\n\n");
  r = Run({"query", "HKLM\\SOFTWARE\\Q", "/s"});
  EXPECT_THAT(r.out, HasSubstr("\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q\\Sub\n"
                               "    Max    REG_DWORD    0xffffffff\n"
                               "    e    REG_EXPAND_SZ    4100\n"
                               "    u    REG_UNKNOWN    01\n"));
  r = Run({"query", "HKLM\\SOFTWARE\\Q", "/v", "count"});
  EXPECT_EQ(r.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Q\n    Count    REG_DWORD    0x1f\n\n");
  EXPECT_THAT(Run({"query", "HKLM\\SOFTWARE\\Classes\\empty"}).out, HasSubstr("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\empty"));

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"query", "HKLM\\SOFTWARE\\Nope"}, {"query", "HKLM\\SOFTWARE\\Q", "/v", "nope"},
           {"query", "HKLM\\SOFTWARE\\Q\\Sub", "/ve"}, {"delete", "HKCU\\Nope", "/f"}}) {
    r = Run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, kNotFound);
  }
}

TEST_F(Qmreg, QuestionsWithoutAYesChangeNothing) {
  ASSERT_EQ(Run({"add", "HKCU\\K", "/v", "v", "/d", "old"}).status, 0);
  const std::string before = Content();
  for (const char* input : {"", "n\n", "maybe\n"}) {
    Result r = Run({"add", "HKCU\\K", "/v", "v", "/d", "new"}, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, StartsWith("Value v exists, overwrite(Yes/No)?"));
    EXPECT_THAT(r.out, HasSubstr(kCancelled));
    r = Run({"delete", "HKCU\\K", "/v", "v"}, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, StartsWith("Delete the registry value v (Yes/No)?"));
    r = Run({"delete", "HKCU\\K"}, input);
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.out, StartsWith("Permanently delete the registry key HKEY_CURRENT_USER\\K (Yes/No)?"));
  }
  EXPECT_EQ(Content(), before);

  EXPECT_EQ(Run({"add", "HKCU\\K", "/v", "v", "/d", "new"}, "Yes\n").status, 0);
  EXPECT_THAT(Run({"query", "HKCU\\K", "/v", "v"}).out, HasSubstr("REG_SZ    new"));
  EXPECT_EQ(Run({"delete", "HKCU\\K", "/v", "v"}, "y\n").status, 0);
  EXPECT_EQ(Run({"add", "HKCU\\K", "/v", "w"}).status, 0);
  EXPECT_EQ(Run({"delete", "HKCU\\K", "/va", "/f"}).status, 0);
  EXPECT_EQ(Run({"query", "HKCU\\K"}).out, "\nHKEY_CURRENT_USER\\K\n\n");
  EXPECT_EQ(Run({"delete", "HKCU\\K"}, "yes\n").status, 0);
  EXPECT_EQ(Run({"query", "HKCU\\K"}).status, 1);
}

TEST_F(Qmreg, BadInputIsAnErrorAndLeavesTheFileAlone) {
  ASSERT_EQ(Run({"add", "HKCU\\K", "/v", "v", "/d", "x"}).status, 0);
  const std::string before = Content();
  const std::string badImport = dir_.File("bad.reg");
  testsupport::WriteFile(badImport, "Windows Registry Editor Version 5.00\n\n[HKCU\\K]\n\"v\"=\"y\"\n\"w\"=dword:xyz\n");
  const std::vector<std::vector<std::string>> cases = {
      {"frobnicate", "HKCU\\K"},
      {"add", "HKCU\\K", "/q"},
      {"add", "HKCU\\K", "/v"},
      {"add", "HKCU\\K", "/v", "a", "/ve"},
      {"add", "HKCU\\K", "/v", "a", "/v", "b"},
      {"add", "HKCU\\K", "/v", "a", "/t", "REG_BINARY", "/d", "00"},
      {"add", "HKCU\\K", "/v", "a", "/t", "REG_DWORD", "/d", "4294967296"},
      {"add", "HKCU\\K", "/v", "a", "/t", "REG_DWORD", "/d", "-1"},
      {"add", "HKCU\\K", "/v", "a", "/t", "REG_DWORD", "/d", "0xfffffffff"},
      {"add", "HKCU\\K", "/v", "a", "/t", "REG_DWORD", "/d", "12abc"},
      {"add", "HKEY_USERS\\K"},
      {"add"},
      {"query", "HKCU\\K", "extra"},
      {"query", "HKCU\\K", "/f"},
      {"delete", "HKCU", "/f"},
      {"import", badImport},
      {"export", "HKCU\\K"},
  };
  for (const auto& args : cases) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_THAT(r.err, StartsWith("ERROR: ")) << args[0];
  }
  EXPECT_THAT(Run({"import", badImport}).err, HasSubstr("line 5"));
  EXPECT_EQ(Content(), before);

  // A registry file that cannot be parsed is reported and left as it is.
  const std::string damaged = "Windows Registry Editor Version 5.00\n\"v\"=\"x\"\n";
  testsupport::WriteFile(file_, damaged);
  const Result r = Run({"add", "HKCU\\K", "/v", "v", "/d", "y", "/f"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("line 2"));
  EXPECT_EQ(Content(), damaged);
}

TEST_F(Qmreg, ImportAndExport) {
  const std::string in = dir_.File("in.reg");
  testsupport::WriteFile(in, regtest::Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\P.X]\r\n@=\"X\"\r\n", true));
  EXPECT_EQ(Run({"import", in}).out, kOk);
  const std::string out = dir_.File("out.reg");
  EXPECT_EQ(Run({"export", "HKCR\\P.X", out}).status, 0);
  const std::string expected = "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\P.X]\n@=\"X\"\n\n";
  EXPECT_EQ(testsupport::ReadFile(out), expected);

  ASSERT_EQ(Run({"add", "HKCR\\P.X", "/ve", "/d", "Y", "/f"}).status, 0);
  Result r = Run({"export", "HKCR\\P.X", out});  // exists, no answer
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr("already exists"));
  EXPECT_EQ(testsupport::ReadFile(out), expected);
  EXPECT_EQ(Run({"export", "HKCR\\P.X", out}, "y\n").status, 0);
  EXPECT_THAT(testsupport::ReadFile(out), HasSubstr("@=\"Y\""));
  EXPECT_EQ(Run({"export", "HKCR\\P.X", out, "/y"}).status, 0);
  EXPECT_EQ(Run({"export", "HKCR\\Nope", dir_.File("nope.reg")}).err, kNotFound);
  EXPECT_FALSE(testsupport::Exists(dir_.File("nope.reg")));
}

TEST_F(Qmreg, UsageWithoutArguments) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"/?"}}) {
    const Result r = testsupport::RunProgram(regtest::QmregPath(), args);
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("qmreg query KEY"));
  }
}

}  // namespace
