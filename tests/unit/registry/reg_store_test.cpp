// The registry file shared by threads and processes: atomic, locked writes,
// change detection, and a file that cannot be parsed is never replaced.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "qmos/registry.h"
#include "test_support.h"

namespace qmos {
namespace {

using ::testing::HasSubstr;

TEST(RegStore, CorruptFileIsNeverReplaced) {
  testsupport::ScopedRegistry registry;
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"x\"\n\"w\"=dword:zz\n";
  testsupport::WriteFile(registry.File(), damaged);

  std::string error;
  EXPECT_FALSE(RegCheckFile(error));
  EXPECT_THAT(error, HasSubstr("line 5"));
  EXPECT_FALSE(RegKey::Open(RegRoot::CurrentUser, "A"));
  EXPECT_FALSE(RegKey::Open(RegRoot::CurrentUser, "A", true));
  EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "A"));
  EXPECT_FALSE(RegDeleteKey(RegRoot::CurrentUser, "A"));
  const std::string good = registry.Dir().File("good.reg");
  testsupport::WriteFile(good, "REGEDIT4\n[HKEY_CURRENT_USER\\B]\n");
  EXPECT_FALSE(RegImportFile(good, error));
  EXPECT_EQ(testsupport::ReadFile(registry.File()), damaged);

  // Once repaired by hand, the registry is usable again.
  testsupport::WriteFile(registry.File(), "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"v\"=\"y\"\n");
  auto key = RegKey::Open(RegRoot::CurrentUser, "A");
  ASSERT_TRUE(key);
  std::string text;
  EXPECT_EQ(key->ReadString("v", text), RegResult::Ok);
  EXPECT_EQ(text, "y");
}

TEST(RegStore, ImportIsAllOrNothing) {
  testsupport::ScopedRegistry registry;
  ASSERT_TRUE(RegKey::Open(RegRoot::CurrentUser, "Keep", true)->WriteDword("v", 1));
  const std::string before = testsupport::ReadFile(registry.File());
  const std::string bad = registry.Dir().File("bad.reg");
  testsupport::WriteFile(bad,
                      "Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\Keep]\n"
                      "[HKEY_CURRENT_USER\\New]\n\"a\"=\"1\"\n\"b\"=\"unterminated\n");
  std::string error;
  EXPECT_FALSE(RegImportFile(bad, error));
  EXPECT_THAT(error, HasSubstr("line 5"));
  EXPECT_EQ(testsupport::ReadFile(registry.File()), before);
  EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "New"));
  EXPECT_FALSE(RegImportFile(registry.Dir().File("missing.reg"), error));

  const std::string ok = registry.Dir().File("ok.reg");
  testsupport::WriteFile(ok, "Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\Keep]\n"
                          "[HKEY_CURRENT_USER\\New]\n\"a\"=\"1\"\n");
  ASSERT_TRUE(RegImportFile(ok, error)) << error;
  EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "Keep"));
  EXPECT_TRUE(RegKey::Open(RegRoot::CurrentUser, "New")->ValueExists("a"));
  // No temporary file is left behind, and the file keeps a mode set on it.
  EXPECT_THAT(regtest::ListFolder(registry.Dir().Path()),
              ::testing::ElementsAre("bad.reg", "ok.reg", "registry.reg", "registry.reg.lock"));
  ::chmod(registry.File().c_str(), 0600);
  ASSERT_TRUE(RegKey::Open(RegRoot::CurrentUser, "New")->WriteDword("b", 2));
  struct stat st {};
  ASSERT_EQ(::stat(registry.File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(RegStore, ReaderSeesChangesMadeOutsideTheProcess) {
  testsupport::ScopedRegistry registry;
  auto key = RegKey::Open(RegRoot::CurrentUser, "Shared", true);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->WriteString("v", "mine"));
  std::string text;
  ASSERT_EQ(key->ReadString("v", text), RegResult::Ok);  // cached now

  const auto result = testsupport::RunProgram(
      regtest::QmregPath(),
      {"--registry", registry.File(), "add", "HKCU\\Shared", "/v", "v", "/d", "theirs", "/f"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(key->ReadString("v", text), RegResult::Ok);
  EXPECT_EQ(text, "theirs");

  // An edit in place (same file, same size) is seen as well.
  std::string content = testsupport::ReadFile(registry.File());
  content.replace(content.find("theirs"), 6, "edited");
  {
    std::FILE* file = std::fopen(registry.File().c_str(), "r+");
    ASSERT_NE(file, nullptr);
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
  struct stat st {};
  ::stat(registry.File().c_str(), &st);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;  // a later write in the same tick
  ::utimensat(AT_FDCWD, registry.File().c_str(), times, 0);
  EXPECT_EQ(key->ReadString("v", text), RegResult::Ok);
  EXPECT_EQ(text, "edited");

  ::unlink(registry.File().c_str());
  EXPECT_FALSE(RegKeyExists(RegRoot::CurrentUser, "Shared"));  // a missing file is empty
}

TEST(RegStore, ConcurrentProcessesLoseNoWrites) {
  testsupport::ScopedRegistry registry;
  constexpr int kProcesses = 6;
  constexpr int kRounds = 4;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<int> pids;
    for (int p = 0; p < kProcesses; ++p) {
      const std::string name = "p" + std::to_string(p) + "r" + std::to_string(round);
      pids.push_back(testsupport::StartProgram(
          regtest::QmregPath(), {"--registry", registry.File(), "add", "HKLM\\SOFTWARE\\Race\\" + std::to_string(p),
                                 "/v", name, "/t", "REG_DWORD", "/d", std::to_string(round), "/f"}));
    }
    // Meanwhile this process writes too, from two threads.
    std::thread a([&] { RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Race\\T", true)->WriteDword("a" + std::to_string(round), 1); });
    std::thread b([&] { RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Race\\T", true)->WriteDword("b" + std::to_string(round), 1); });
    a.join();
    b.join();
    for (int pid : pids) EXPECT_EQ(testsupport::WaitProgram(pid), 0);
  }
  for (int p = 0; p < kProcesses; ++p) {
    auto key = RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Race\\" + std::to_string(p));
    ASSERT_TRUE(key) << p;
    EXPECT_EQ(key->ValueNames().size(), static_cast<std::size_t>(kRounds)) << p;
  }
  EXPECT_EQ(RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Race\\T")->ValueNames().size(), 2u * kRounds);
}

TEST(RegStore, FileInAFolderTheUserCannotWriteStaysReadable) {
  // A folder of its own under /tmp, so that every folder above it can be entered
  // by the unprivileged user the reads run as.
  std::string dir = "/tmp/vantiro-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const std::string file = dir + "/registry.reg";
  SetRegistryFile(file);
  auto key = RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Vantiro\\Backend", true);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->WriteString("CAFile", "/etc/vantiro/ca.pem"));
  ASSERT_TRUE(key->WriteDword("TraceEnabled", 1));
  // As deployed: the file alone, no lock file beside it, and none can be created.
  ::unlink((file + ".lock").c_str());
  const std::string before = testsupport::ReadFile(file);
  const bool root = ::geteuid() == 0;
  ASSERT_EQ(::chmod(dir.c_str(), root ? 0755 : 0555), 0);

  // Run in a child process; root drops to nobody there, since root writes anywhere.
  // The exit code is the number of the first check that failed.
  const std::vector<std::pair<const char*, std::function<bool()>>> checks = {
      {"the folder is not writable", [&] { return ::access(dir.c_str(), W_OK) != 0; }},
      {"an existing key opens with create",
       [] { return RegKey::Open(RegRoot::LocalMachine, "software\\vantiro\\backend", true).has_value(); }},
      {"a string and a dword read",
       [] {
         std::string text;
         std::uint32_t value = 0;
         auto k = RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Vantiro\\Backend", true);
         return k && k->ReadString("CAFile", text) == RegResult::Ok && text == "/etc/vantiro/ca.pem" &&
                k->ReadDword("TraceEnabled", value) == RegResult::Ok && value == 1;
       }},
      {"a missing key is not created",
       [] { return !RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Vantiro\\Missing", true); }},
      {"a write fails",
       [] {
         auto k = RegKey::Open(RegRoot::LocalMachine, "SOFTWARE\\Vantiro\\Backend");
         return k && !k->WriteDword("TraceEnabled", 0);
       }},
  };
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (root && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) _exit(100);
    for (std::size_t i = 0; i < checks.size(); ++i) {
      if (!checks[i].second()) _exit(static_cast<int>(i) + 1);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  const int code = testsupport::ExitStatus(status);
  EXPECT_EQ(code, 0) << (code >= 1 && code <= static_cast<int>(checks.size()) ? checks[code - 1].first
                                                                              : "the child did not run");
  EXPECT_EQ(testsupport::ReadFile(file), before);
  EXPECT_THAT(regtest::ListFolder(dir), ::testing::ElementsAre("registry.reg"));
  ::chmod(dir.c_str(), 0700);
  SetRegistryFile("");
  std::filesystem::remove_all(dir);
}

TEST(RegStore, ThreadsShareOneRegistry) {
  testsupport::ScopedRegistry registry;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      auto key = RegKey::Open(RegRoot::CurrentUser, "Threads\\" + std::to_string(t), true);
      for (int i = 0; key && i < 25; ++i) {
        key->WriteDword("v" + std::to_string(i), static_cast<std::uint32_t>(i));
        std::uint32_t value = 0;
        key->ReadDword("v" + std::to_string(i), value);
        RegKey::Open(RegRoot::CurrentUser, "Threads")->SubKeyNames();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  auto root = RegKey::Open(RegRoot::CurrentUser, "Threads");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->SubKeyNames().size(), 4u);
  for (const std::string& name : root->SubKeyNames()) {
    EXPECT_EQ(RegKey::Open(RegRoot::CurrentUser, "Threads\\" + name)->ValueNames().size(), 25u);
  }
}

}  // namespace
}  // namespace qmos
