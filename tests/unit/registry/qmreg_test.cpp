// qmreg end to end: the built program against a registry file in a temp folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using regtest::ProcessResult;

constexpr const char* kOk = "The operation completed successfully.\n";
constexpr const char* kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";
constexpr const char* kCancelled = "The operation was cancelled by the user.\n";

class Qmreg : public ::testing::Test {
 protected:
  ProcessResult Run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"--registry", file_});
    return regtest::RunProgram(regtest::QmregPath(), args, input);
  }
  std::string Content() { return regtest::ReadBytes(file_); }

  regtest::TempDir dir_;
  std::string file_ = dir_.File("sub/registry.reg");
};

TEST_F(Qmreg, AddThenQueryPrintsLikeReg) {
  EXPECT_EQ(Run({"add", "HKLM\\SOFTWARE\\Q", "/v", "Name", "/d", "some text"}).out, kOk);
  EXPECT_EQ(Run({"ADD", "hklm\\SOFTWARE\\Q", "/V", "Count", "/T", "reg_dword", "/D", "0x1F"}).exitCode, 0);
  EXPECT_EQ(Run({"add", "HKLM\\SOFTWARE\\Q", "-ve", "-d", "def"}).exitCode, 0);
  EXPECT_EQ(Run({"add", "HKLM\\SOFTWARE\\Q\\Sub", "/v", "Max", "/t", "REG_DWORD", "/d", "4294967295"}).exitCode, 0);
  EXPECT_EQ(Run({"add", "HKCR\\Empty"}).exitCode, 0);
  const std::string hex = dir_.File("hex.reg");
  regtest::WriteBytes(hex, "REGEDIT4\n[HKLM\\SOFTWARE\\Q\\Sub]\n\"e\"=hex(2):41,00\n\"u\"=hex(5):01\n");
  ASSERT_EQ(Run({"import", hex}).exitCode, 0);

  ProcessResult r = Run({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Q"});
  EXPECT_EQ(r.exitCode, 0);
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
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, kNotFound);
  }
}

TEST_F(Qmreg, QuestionsWithoutAYesChangeNothing) {
  ASSERT_EQ(Run({"add", "HKCU\\K", "/v", "v", "/d", "old"}).exitCode, 0);
  const std::string before = Content();
  for (const char* input : {"", "n\n", "maybe\n"}) {
    ProcessResult r = Run({"add", "HKCU\\K", "/v", "v", "/d", "new"}, input);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, StartsWith("Value v exists, overwrite(Yes/No)?"));
    EXPECT_THAT(r.out, HasSubstr(kCancelled));
    r = Run({"delete", "HKCU\\K", "/v", "v"}, input);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, StartsWith("Delete the registry value v (Yes/No)?"));
    r = Run({"delete", "HKCU\\K"}, input);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_THAT(r.out, StartsWith("Permanently delete the registry key HKEY_CURRENT_USER\\K (Yes/No)?"));
  }
  EXPECT_EQ(Content(), before);

  EXPECT_EQ(Run({"add", "HKCU\\K", "/v", "v", "/d", "new"}, "Yes\n").exitCode, 0);
  EXPECT_THAT(Run({"query", "HKCU\\K", "/v", "v"}).out, HasSubstr("REG_SZ    new"));
  EXPECT_EQ(Run({"delete", "HKCU\\K", "/v", "v"}, "y\n").exitCode, 0);
  EXPECT_EQ(Run({"add", "HKCU\\K", "/v", "w"}).exitCode, 0);
  EXPECT_EQ(Run({"delete", "HKCU\\K", "/va", "/f"}).exitCode, 0);
  EXPECT_EQ(Run({"query", "HKCU\\K"}).out, "\nHKEY_CURRENT_USER\\K\n\n");
  EXPECT_EQ(Run({"delete", "HKCU\\K"}, "yes\n").exitCode, 0);
  EXPECT_EQ(Run({"query", "HKCU\\K"}).exitCode, 1);
}

TEST_F(Qmreg, BadInputIsAnErrorAndLeavesTheFileAlone) {
  ASSERT_EQ(Run({"add", "HKCU\\K", "/v", "v", "/d", "x"}).exitCode, 0);
  const std::string before = Content();
  const std::string badImport = dir_.File("bad.reg");
  regtest::WriteBytes(badImport, "Windows Registry Editor Version 5.00\n\n[HKCU\\K]\n\"v\"=\"y\"\n\"w\"=dword:xyz\n");
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
    const ProcessResult r = Run(args);
    EXPECT_EQ(r.exitCode, 1) << args[0];
    EXPECT_THAT(r.err, StartsWith("ERROR: ")) << args[0];
  }
  EXPECT_THAT(Run({"import", badImport}).err, HasSubstr("line 5"));
  EXPECT_EQ(Content(), before);

  // A registry file that cannot be parsed is reported and left as it is.
  const std::string damaged = "Windows Registry Editor Version 5.00\n\"v\"=\"x\"\n";
  regtest::WriteBytes(file_, damaged);
  const ProcessResult r = Run({"add", "HKCU\\K", "/v", "v", "/d", "y", "/f"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.err, HasSubstr("line 2"));
  EXPECT_EQ(Content(), damaged);
}

TEST_F(Qmreg, ImportAndExport) {
  const std::string in = dir_.File("in.reg");
  regtest::WriteBytes(in, regtest::Utf16Le("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\P.X]\r\n@=\"X\"\r\n", true));
  EXPECT_EQ(Run({"import", in}).out, kOk);
  const std::string out = dir_.File("out.reg");
  EXPECT_EQ(Run({"export", "HKCR\\P.X", out}).exitCode, 0);
  const std::string expected = "Windows Registry Editor Version 5.00\n\n[HKEY_CLASSES_ROOT\\P.X]\n@=\"X\"\n\n";
  EXPECT_EQ(regtest::ReadBytes(out), expected);

  ASSERT_EQ(Run({"add", "HKCR\\P.X", "/ve", "/d", "Y", "/f"}).exitCode, 0);
  ProcessResult r = Run({"export", "HKCR\\P.X", out});  // exists, no answer
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_THAT(r.out, HasSubstr("already exists"));
  EXPECT_EQ(regtest::ReadBytes(out), expected);
  EXPECT_EQ(Run({"export", "HKCR\\P.X", out}, "y\n").exitCode, 0);
  EXPECT_THAT(regtest::ReadBytes(out), HasSubstr("@=\"Y\""));
  EXPECT_EQ(Run({"export", "HKCR\\P.X", out, "/y"}).exitCode, 0);
  EXPECT_EQ(Run({"export", "HKCR\\Nope", dir_.File("nope.reg")}).err, kNotFound);
  EXPECT_FALSE(regtest::Exists(dir_.File("nope.reg")));
}

TEST_F(Qmreg, UsageWithoutArguments) {
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {"/?"}}) {
    const ProcessResult r = regtest::RunProgram(regtest::QmregPath(), args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_THAT(r.out, HasSubstr("qmreg query KEY"));
  }
}

}  // namespace
