// The files the plug-in and its host write, in a folder another user (nobody: the
// suite runs as root) can write to: what that user plants never receives a line or
// a setting nor takes a file over; failed writes keep the old file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "diag/perf_log.h"
#include "diag/trace_log.h"
#include "expiry/preferences_cache.h"
#include "qmhost/settings_store.h"
#include "qmos/registry.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace {

using testsupport::ReadFile;

struct Folder {
  testsupport::TempDir dir;
  std::string File(const char* name) const { return dir.File(name); }
  // A file of nobody's, writable by all.
  void PlantFile(const char* name, const std::string& content = "") const {
    testsupport::WriteFile(File(name), content);
    ASSERT_EQ(::chmod(File(name).c_str(), 0666), 0);
    ASSERT_EQ(::chown(File(name).c_str(), 65534, 65534), 0);
  }
  void OpenTraceHere() const { vantiro::OpenTraceLog(File("VantiroBackend.out")); }
  int WriteCache(int entries) const {
    HASHTABLE* table = HT_create(150, 0);
    for (int i = 0; i < entries; ++i) HT_put_str(table, ("k" + std::to_string(i)).c_str(), "v");
    const int written = vantiro::WritePreferencesCache(File("Preferences.start"), table);
    HT_destroy(table);
    return written;
  }
};

// A regular file of this process's user, readable by that user only.
void ExpectOwnPrivateFile(const std::string& path) {
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 0777) == 0600);
}

TEST(SharedFolder, WhatAnotherUserPlantsNeverReceivesNorTakesOverAFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "making files of another user needs root";
  std::string error;
  const std::vector<std::pair<const char*, std::function<void(const Folder&)>>> cases = {
      {"settings: a link at the temporary name",
       [&](const Folder& f) {
         f.PlantFile("theirs");
         const std::string temp = f.File("settings.json") + ".tmp." + std::to_string(::getpid());
         ASSERT_EQ(::symlink(f.File("theirs").c_str(), temp.c_str()), 0);
         qmhost::SettingsStore store;
         EXPECT_TRUE(store.Open(f.File("settings.json"), error) &&
                     store.Put("{P}", "mc_password", "secret", error));
         EXPECT_EQ(ReadFile(f.File("theirs")), "");
         ExpectOwnPrivateFile(f.File("settings.json"));
       }},
      {"settings: a FIFO at the path is refused",
       [&](const Folder& f) {
         ASSERT_EQ(::mkfifo(f.File("settings.json").c_str(), 0666), 0);
         qmhost::SettingsStore store;
         EXPECT_FALSE(store.Open(f.File("settings.json"), error));
       }},
      {"settings: two hosts on one file lose nothing",
       [&](const Folder& f) {
         qmhost::SettingsStore a, b, reader;
         bool existed = false;
         const std::string path = f.File("settings.json");
         ASSERT_TRUE(a.Open(path, error) && b.Open(path, error));
         EXPECT_TRUE(a.Put("{P}", "from_a", "1", error) && b.Put("{P}", "from_b", "2", error) &&
                     a.Delete("{P}", "from_b", existed, error) &&
                     b.Put("{P}", "again_b", "3", error));
         EXPECT_TRUE(existed);
         ASSERT_TRUE(reader.Open(path, error));
         EXPECT_EQ(reader.Snapshot(), (qmhost::SettingsStore::AllSettings{
                                          {"{P}", {{"again_b", "3"}, {"from_a", "1"}}}}));
       }},
      {"cache: a world-writable file at the temporary name; one that cannot be written",
       [&](const Folder& f) {
         f.PlantFile("Preferences.start.new");
         EXPECT_EQ(f.WriteCache(1), 1);
         ExpectOwnPrivateFile(f.File("Preferences.start"));
         EXPECT_EQ(ReadFile(f.File("Preferences.start.new")), "");
         EXPECT_EQ(f.WriteCache(10000), -1);  // its count does not fit: the old cache stays
         EXPECT_EQ(ReadFile(f.File("Preferences.start")), "   1   2k0   1v");
       }},
      {"trace and perf: world-writable files of another user",
       [&](const Folder& f) {
         f.PlantFile("VantiroBackend.out");
         f.PlantFile("VantiroBackend.out.perf");
         f.OpenTraceHere();
         vantiro::WriteTrace("call data");
         vantiro::WritePerfLine("row");
         EXPECT_EQ(ReadFile(f.File("VantiroBackend.out")), "");
         EXPECT_EQ(ReadFile(f.File("VantiroBackend.out.perf")), "");
       }},
      {"trace: a file with a second name",
       [&](const Folder& f) {
         testsupport::WriteFile(f.File("VantiroBackend.out"), "");
         ASSERT_EQ(::link(f.File("VantiroBackend.out").c_str(), f.File("copy").c_str()), 0);
         f.OpenTraceHere();
         vantiro::WriteTrace("call data");
         EXPECT_EQ(ReadFile(f.File("copy")), "");
       }},
      {"registry: a link at the lock file's name",
       [&](const Folder& f) {
         qmos::SetRegistryFile(f.File("registry.reg"));
         ASSERT_EQ(::symlink(f.File("elsewhere").c_str(), f.File("registry.reg.lock").c_str()), 0);
         EXPECT_FALSE(qmos::RegKey::Open(qmos::RegRoot::LocalMachine, "SOFTWARE\\Shared", true));
         EXPECT_FALSE(testsupport::Exists(f.File("elsewhere")));
         qmos::SetRegistryFile("");
       }},
  };
  for (const auto& [what, plantWriteAndCheck] : cases) {
    SCOPED_TRACE(what);
    plantWriteAndCheck(Folder{});
  }
  vantiro::CloseTraceLog();
}

}  // namespace
