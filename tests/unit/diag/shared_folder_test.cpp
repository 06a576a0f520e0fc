// Every file the plug-in and its host write, in a folder another user can write to:
// what that user plants there (a link at a name the writer uses, a world-writable
// file of their own, a hard link, a FIFO) never receives a line or a setting, nor
// takes the file over; a write that fails keeps the old file; two hosts on one
// settings file lose nothing. The suite runs as root in CI: the other user is
// nobody, whose files are made here and handed over with chown.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "credentials/preferences_cache.h"
#include "diag/perf_log.h"
#include "diag/trace_log.h"
#include "qmhost/settings_store.h"
#include "qmos/paths.h"
#include "qmos/registry.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace {

constexpr uid_t kOtherUser = 65534;  // nobody

struct Folder {
  testsupport::TempDir dir;
  std::string File(const char* name) const { return dir.File(name); }
  // A file of the other user's, writable by all.
  void PlantFile(const char* name, const std::string& content = "") const {
    testsupport::WriteFile(File(name), content);
    ASSERT_EQ(::chmod(File(name).c_str(), 0666), 0);
    ASSERT_EQ(::chown(File(name).c_str(), kOtherUser, kOtherUser), 0);
  }
  void PlantLink(const char* name, const char* target) const {
    ASSERT_EQ(::symlink(File(target).c_str(), File(name).c_str()), 0);
  }
};

struct Mode {
  bool regular = false;
  uid_t owner = 0;
  mode_t permissions = 0;
};
Mode ModeOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return {};
  return {S_ISREG(st.st_mode), st.st_uid, st.st_mode & 0777};
}

void WriteTraceLine(const Folder& f, const char* text) {
  vantiro::OpenTraceLog("C:" + qmos::ToWindowsPath(f.File("VantiroBackend.out")));
  vantiro::WriteTrace(text);
}

bool PutSetting(const std::string& path, const std::string& key, const std::string& value) {
  qmhost::SettingsStore store;
  std::string error;
  return store.Open(path, error) && store.Put("{P}", key, value, error);
}

int WriteCache(const Folder& f, int entries) {
  HASHTABLE* table = HT_create(150, 0);
  for (int i = 0; i < entries; ++i) HT_put_str(table, ("k" + std::to_string(i)).c_str(), "v");
  const int written =
      vantiro::WritePreferencesCache("C:" + qmos::ToWindowsPath(f.File("Preferences.start")), table);
  HT_destroy(table);
  return written;
}

TEST(SharedFolder, WhatAnotherUserPlantsNeverReceivesNorTakesOverAFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
  const uid_t me = ::geteuid();
  struct Case {
    const char* what;
    std::function<void(const Folder&)> plantWriteAndCheck;
  };
  const std::vector<Case> cases = {
      {"settings: a link at the temporary name",
       [&](const Folder& f) {
         f.PlantFile("theirs");
         const std::string temp = f.File("settings.json") + ".tmp." + std::to_string(::getpid());
         ASSERT_EQ(::symlink(f.File("theirs").c_str(), temp.c_str()), 0);
         EXPECT_TRUE(PutSetting(f.File("settings.json"), "mc_password", "secret"));
         EXPECT_EQ(testsupport::ReadFile(f.File("theirs")), "");
         const Mode mode = ModeOf(f.File("settings.json"));
         EXPECT_TRUE(mode.regular);
         EXPECT_EQ(mode.permissions, 0600u);
         EXPECT_NE(testsupport::ReadFile(f.File("settings.json")).find("secret"), std::string::npos);
       }},
      {"settings: a FIFO at the path is refused",
       [&](const Folder& f) {
         ASSERT_EQ(::mkfifo(f.File("settings.json").c_str(), 0666), 0);
         EXPECT_FALSE(PutSetting(f.File("settings.json"), "mc_password", "secret"));
         EXPECT_FALSE(ModeOf(f.File("settings.json")).regular);
       }},
      {"settings: two hosts on one file lose nothing",
       [&](const Folder& f) {
         qmhost::SettingsStore a, b;
         std::string error;
         ASSERT_TRUE(a.Open(f.File("settings.json"), error)) << error;
         ASSERT_TRUE(b.Open(f.File("settings.json"), error)) << error;
         ASSERT_TRUE(a.Put("{P}", "from_a", "1", error)) << error;
         ASSERT_TRUE(b.Put("{P}", "from_b", "2", error)) << error;
         bool existed = false;
         ASSERT_TRUE(a.Delete("{P}", "from_b", existed, error)) << error;
         EXPECT_TRUE(existed);
         ASSERT_TRUE(b.Put("{P}", "again_b", "3", error)) << error;
         qmhost::SettingsStore reader;
         ASSERT_TRUE(reader.Open(f.File("settings.json"), error)) << error;
         EXPECT_EQ(reader.Snapshot(), (qmhost::SettingsStore::AllSettings{
                                          {"{P}", {{"again_b", "3"}, {"from_a", "1"}}}}));
       }},
      {"cache: a world-writable file at the temporary name",
       [&](const Folder& f) {
         f.PlantFile("Preferences.start.new");
         EXPECT_EQ(WriteCache(f, 2), 2);
         const Mode mode = ModeOf(f.File("Preferences.start"));
         EXPECT_TRUE(mode.regular);
         EXPECT_EQ(mode.owner, me);
         EXPECT_EQ(mode.permissions, 0600u);
         EXPECT_EQ(testsupport::ReadFile(f.File("Preferences.start.new")), "");
       }},
      {"cache: a link at the path is replaced, not written through",
       [&](const Folder& f) {
         f.PlantFile("theirs", "kept");
         f.PlantLink("Preferences.start", "theirs");
         EXPECT_EQ(WriteCache(f, 1), 1);
         EXPECT_EQ(testsupport::ReadFile(f.File("theirs")), "kept");
         EXPECT_EQ(testsupport::ReadFile(f.File("Preferences.start")), "   1   2k0   1v");
       }},
      {"cache: one that cannot be written keeps the old file",
       [&](const Folder& f) {
         testsupport::WriteFile(f.File("Preferences.start"), "   0");
         EXPECT_EQ(WriteCache(f, 10000), -1);
         EXPECT_EQ(testsupport::ReadFile(f.File("Preferences.start")), "   0");
       }},
      {"trace: a world-writable file of another user",
       [&](const Folder& f) {
         f.PlantFile("VantiroBackend.out");
         WriteTraceLine(f, "call data");
         EXPECT_EQ(testsupport::ReadFile(f.File("VantiroBackend.out")), "");
       }},
      {"trace: a file with a second name",
       [&](const Folder& f) {
         testsupport::WriteFile(f.File("VantiroBackend.out"), "");
         ASSERT_EQ(::link(f.File("VantiroBackend.out").c_str(), f.File("copy").c_str()), 0);
         WriteTraceLine(f, "call data");
         EXPECT_EQ(testsupport::ReadFile(f.File("copy")), "");
       }},
      {"perf: a world-writable file of another user",
       [&](const Folder& f) {
         f.PlantFile("VantiroBackend.out.perf");
         vantiro::OpenTraceLog("C:" + qmos::ToWindowsPath(f.File("VantiroBackend.out")));
         vantiro::WritePerfLine("row");
         EXPECT_EQ(testsupport::ReadFile(f.File("VantiroBackend.out.perf")), "");
       }},
      {"registry: a link at the lock file's name",
       [&](const Folder& f) {
         qmos::SetRegistryFile(f.File("registry.reg"));
         f.PlantLink("registry.reg.lock", "elsewhere");
         auto key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, "SOFTWARE\\Shared", true);
         EXPECT_FALSE(key.has_value());
         EXPECT_FALSE(testsupport::Exists(f.File("elsewhere")));
         qmos::SetRegistryFile("");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    c.plantWriteAndCheck(folder);
  }
  vantiro::CloseTraceLog();
}

}  // namespace
