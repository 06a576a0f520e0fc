// The trace file and the performance log on Windows: lines go to their offsets and
// to the end; a new file belongs to the user and lets only the user and SYSTEM in;
// a file with a second name or a folder gets nothing. (Links and another user's
// file are not tested: Wine 8 makes no symbolic link and keeps the Unix owner.)
#include "diag/trace_file.h"
#include "diag/trace_line.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// A trace line and a performance line written to path, as the logs write them.
void WriteBoth(const fs::path& path) {
  vantiro::TraceFileState state{100000, 0};
  vantiro::WriteTraceFileLine(path.string(), qmos::LocalTime{}, "trace", state);
  vantiro::AppendFileLine(path.string(), "perf");
}

class WindowsLogFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vantiro-log-" + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(WindowsLogFiles, TraceLinesGoToTheirOffsetsAndPerformanceLinesToTheEnd) {
  const std::string stamp = vantiro::FormatTraceStamp(qmos::LocalTime{});
  const fs::path path = dir_ / "VantiroBackend.out";
  WriteBoth(path);
  WriteBoth(path);
  EXPECT_EQ(Read(path), stamp + "trace\nperf\n" + stamp + "trace\nperf\n");

  // A full file: the line goes to the top behind the warning, the next after it.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(200, 'x');
  vantiro::TraceFileState state{210, 0};
  vantiro::WriteTraceFileLine(path.string(), qmos::LocalTime{}, "a", state);
  vantiro::WriteTraceFileLine(path.string(), qmos::LocalTime{}, "b", state);
  const std::string head = vantiro::FormatTraceWarning(qmos::LocalTime{}) + stamp + "a\n" + stamp + "b\n";
  EXPECT_EQ(Read(path), head + std::string(200 - head.size(), 'x'));
}

TEST_F(WindowsLogFiles, ANewFileIsTheUsersAndLetsOnlyTheUserAndSystemIn) {
  alignas(8) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  HANDLE token = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  ASSERT_TRUE(::GetTokenInformation(token, TokenUser, user, sizeof user, &size));
  ::CloseHandle(token);
  const PSID userSid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;

  vantiro::TraceFileState state{100000, 0};
  vantiro::WriteTraceFileLine((dir_ / "trace").string(), qmos::LocalTime{}, "line", state);
  vantiro::AppendFileLine((dir_ / "perf").string(), "line");
  for (const char* name : {"trace", "perf"}) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW((dir_ / name).wstring().c_str(), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                      nullptr, &dacl, nullptr, &descriptor), 0u) << name;
    EXPECT_TRUE(::EqualSid(owner, userSid)) << name;
    ASSERT_TRUE(dacl != nullptr && dacl->AceCount == 2) << name;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
      EXPECT_TRUE(ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                  (::EqualSid(&ace->SidStart, userSid) || ::IsWellKnownSid(&ace->SidStart, WinLocalSystemSid)))
          << name << " " << i;
    }
    ::LocalFree(descriptor);
  }
}

TEST_F(WindowsLogFiles, AFileWithASecondNameOrAFolderGetsNothing) {
  const fs::path path = dir_ / "VantiroBackend.out";
  std::ofstream(dir_ / "theirs", std::ios::binary) << "theirs\n";
  ASSERT_TRUE(::CreateHardLinkW(path.c_str(), (dir_ / "theirs").c_str(), nullptr));
  WriteBoth(path);
  EXPECT_EQ(Read(dir_ / "theirs"), "theirs\n");

  fs::remove(path);
  fs::create_directory(path);
  WriteBoth(path);
  EXPECT_TRUE(fs::is_directory(path) && fs::is_empty(path));
}

}  // namespace
