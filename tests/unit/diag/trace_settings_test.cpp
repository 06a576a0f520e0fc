// The trace settings as read from the registry: defaults, write-backs and bounds.
#include <gtest/gtest.h>

#include <fstream>

#include "trace_test_support.h"

namespace {

using diagtest::TraceTest;
using qmos::RegValueKind;

using TraceSettings = TraceTest;

TEST_F(TraceSettings, MissingValuesTakeDefaultsAndSizesAreWrittenBack) {
  EXPECT_EQ(vantiro::ReadTraceSettings(), "\\VantiroBackend.out");
  EXPECT_FALSE(vantiro::TraceEnabled());
  EXPECT_FALSE(vantiro::TraceRemovalPending());
  for (const char* name : {"maxfilesize_vtbackend", "logfileposition_vtbackend"}) {
    auto value = Value(name);
    ASSERT_TRUE(value) << name;
    EXPECT_EQ(value->kind, RegValueKind::DWord);
    EXPECT_EQ(value->dword, 0u);
  }
  EXPECT_FALSE(Value("TraceFilesDir"));
  EXPECT_FALSE(Value("TraceEnabled"));
  vantiro::OpenTraceLog(vantiro::TraceFilePath());
  EXPECT_EQ(vantiro::TraceMaxSize(), 10485760);
}

TEST_F(TraceSettings, ValuesOfTheWrongTypeTakeTheirDefaults) {
  SetDword("TraceFilesDir", 7);
  SetString("TraceEnabled", "1");
  SetString("RemoveTraceFiles", "1");
  SetString("maxfilesize_vtbackend", "2000");
  SetString("logfileposition_vtbackend", "12");
  EXPECT_EQ(vantiro::ReadTraceSettings(), "C:\\VantiroBackend.out");
  EXPECT_FALSE(vantiro::TraceEnabled());
  EXPECT_FALSE(vantiro::TraceRemovalPending());
  EXPECT_EQ(vantiro::TraceWritePosition(), 0);
  // A size that cannot be read as an integer is replaced by 0.
  EXPECT_EQ(Value("maxfilesize_vtbackend")->kind, RegValueKind::DWord);
  EXPECT_EQ(Value("logfileposition_vtbackend")->dword, 0u);
}

TEST_F(TraceSettings, ConfiguredValuesAreUsed) {
  SetString("TraceFilesDir", "D:\\Logs\\Vantiro");
  SetDword("TraceEnabled", 2);
  SetDword("maxfilesize_vtbackend", 4096);
  SetDword("logfileposition_vtbackend", 123);
  EXPECT_EQ(vantiro::ReadTraceSettings(), "D:\\Logs\\Vantiro\\VantiroBackend.out");
  EXPECT_EQ(vantiro::TraceFilePath(), "D:\\Logs\\Vantiro\\VantiroBackend.out");
  EXPECT_TRUE(vantiro::TraceEnabled());
  EXPECT_EQ(vantiro::TraceMaxSize(), 4096);
  EXPECT_EQ(vantiro::TraceWritePosition(), 123);
  EXPECT_EQ(Value("maxfilesize_vtbackend")->dword, 4096u);
  SetDword("TraceEnabled", 0);
  vantiro::ReadTraceSettings();
  EXPECT_FALSE(vantiro::TraceEnabled());
}

TEST_F(TraceSettings, SizeLimitIsBoundedWhenTheLogOpens) {
  const std::pair<std::uint32_t, std::int32_t> cases[] = {
      {1, 1},
      {10485759, 10485759},
      {10485760, 10485760},
      {10485761, 10485760},
      {0x7FFFFFFF, 10485760},
      {0xFFFFFFFF, 10485760},  // -1
      {0x80000000, 10485760},  // the most negative
      {0, 10485760},
  };
  for (auto [configured, used] : cases) {
    SetDword("maxfilesize_vtbackend", configured);
    Reopen();
    EXPECT_EQ(vantiro::TraceMaxSize(), used) << configured;
    // The registry keeps what was configured.
    EXPECT_EQ(Value("maxfilesize_vtbackend")->dword, configured);
  }
}

TEST_F(TraceSettings, UnusableRegistryGivesDefaultsWithoutWriting) {
  const std::string file = (dir_ / "registry.reg").string();
  std::ofstream(file) << "not a registry file\n";
  EXPECT_EQ(vantiro::ReadTraceSettings(), "\\VantiroBackend.out");
  EXPECT_FALSE(vantiro::TraceEnabled());
  vantiro::SaveTracePosition();  // swallowed
  std::ifstream in(file);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "not a registry file");
}

}  // namespace
