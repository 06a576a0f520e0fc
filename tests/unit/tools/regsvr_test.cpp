// regsvr: its command line, and the built program registering and unregistering
// the COM test server in a registry file of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "command_line.h"
#include "qmos/guid.h"
#include "qmos/registry.h"
#include "register_module.h"
#include "test_server.h"
#include "testsupport/child_process.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using testsupport::Result;

TEST(RegsvrCommandLine, SwitchesInEitherFormAndCase) {
  regsvr::CommandLine line;
  std::string error;
  ASSERT_TRUE(regsvr::ParseCommandLine({"/U", "-s", "--registry", "r.reg", "/usr/lib/m.so"}, line, error));
  EXPECT_TRUE(line.unregister);
  EXPECT_TRUE(line.silent);
  EXPECT_EQ(line.registry, "r.reg");
  EXPECT_EQ(line.module, "/usr/lib/m.so");  // a path, not a switch

  ASSERT_TRUE(regsvr::ParseCommandLine({"--registry=x.reg", "--", "/u"}, line, error));
  EXPECT_FALSE(line.unregister);
  EXPECT_EQ(line.module, "/u");
  ASSERT_TRUE(regsvr::ParseCommandLine({"/?"}, line, error));
  EXPECT_TRUE(line.help);
}

TEST(RegsvrCommandLine, UsageErrors) {
  regsvr::CommandLine line;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"/u"}, {"a.so", "b.so"}, {"/x", "a.so"}, {"--registry"}, {"--registry=", "a.so"},
           {"--registry", "a", "--registry", "b", "m.so"}, {"--verbose", "a.so"}, {""}}) {
    std::string error;
    EXPECT_FALSE(regsvr::ParseCommandLine(args, line, error)) << ::testing::PrintToString(args);
    EXPECT_FALSE(error.empty());
  }
}

TEST(RegsvrModuleFile, WindowsFormAndRelativePaths) {
  EXPECT_EQ(regsvr::ModuleFile("C:\\Plugins\\x.so"), "/Plugins/x.so");
  EXPECT_EQ(regsvr::ModuleFile("/opt/q/x.so"), "/opt/q/x.so");
  EXPECT_EQ(regsvr::ModuleFile("sub/../x.so"), (std::filesystem::current_path() / "x.so").string());
}

class Regsvr : public ::testing::Test {
 protected:
  void SetUp() override { qmos::SetRegistryFile(registry_); }
  void TearDown() override { qmos::SetRegistryFile(""); }

  Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--registry", registry_});
    return testsupport::RunProgram(Program(), args);
  }
  static std::string Program() { return std::string(std::getenv("QM_TEST_BIN_DIR")) + "/regsvr"; }
  static std::string ClassKey() { return "CLSID\\" + qmos::GuidToString(com_test::kServerClsid); }

  testsupport::TempDir dir_;
  std::string registry_ = dir_.File("registry.reg");
};

TEST_F(Regsvr, RegistersAndUnregistersTheModule) {
  const std::string module = REGSVR_TEST_SERVER;
  Result r = Run({module});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "DllRegisterServer in " + module + " succeeded.\n");
  EXPECT_EQ(r.err, "");
  auto inproc = qmos::RegKey::Open(qmos::RegRoot::ClassesRoot, ClassKey() + "\\InprocServer32");
  ASSERT_TRUE(inproc);
  std::string path;
  EXPECT_EQ(inproc->ReadString("", path), qmos::RegResult::Ok);
  EXPECT_TRUE(std::filesystem::equivalent(path, module));

  r = Run({"/u", module});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "DllUnregisterServer in " + module + " succeeded.\n");
  EXPECT_FALSE(qmos::RegKeyExists(qmos::RegRoot::ClassesRoot, ClassKey()));
}

TEST_F(Regsvr, SilentPrintsNothingOnSuccess) {
  for (const char* flag : {"/s", "-S"}) {
    Result r = Run({flag, REGSVR_TEST_SERVER});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
  EXPECT_TRUE(qmos::RegKeyExists(qmos::RegRoot::ClassesRoot, ClassKey()));
}

TEST_F(Regsvr, FailuresNameTheReasonAndExitWithOne) {
  const std::string missing = dir_.File("missing.so");
  Result r = Run({missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("The module \"" + missing + "\" failed to load.\n"));
  EXPECT_THAT(r.err, HasSubstr("CO_E_DLLNOTFOUND (0x800401F8)"));

  const std::string notAModule = dir_.File("text.so");
  testsupport::WriteFile(notAModule, "not a module\n");
  r = Run({notAModule});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("failed to load"));
  EXPECT_THAT(r.err, HasSubstr("CO_E_ERRORINDLL (0x800401F9)"));

  r = Run({"/s", REGSVR_TEST_SERVER_NO_ENTRY});  // silence keeps failures
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("was loaded but the entry-point DllRegisterServer was not found"));

  // A registry file that cannot be parsed makes the module's own registration fail.
  testsupport::WriteFile(registry_, "garbage\n");
  r = Run({"/s", REGSVR_TEST_SERVER});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("the call to DllRegisterServer failed with error code 0x80040201.\n"
                               "SELFREG_E_CLASS (0x80040201): Failed to register the class\n"));
  EXPECT_EQ(testsupport::ReadFile(registry_), "garbage\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(Regsvr, UsageAndHelp) {
  Result r = testsupport::RunProgram(Program(), {"/?"});
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.out, StartsWith("Usage: regsvr [/u] [/s] [--registry FILE] MODULE\n"));
  r = testsupport::RunProgram(Program(), {});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("ERROR: No module name given.\nUsage:"));
  EXPECT_FALSE(std::filesystem::exists(registry_));
}

}  // namespace
