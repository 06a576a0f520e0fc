// The settings store: per plug-in values, the JSON file, atomic rewrites, and files
// that must not be overwritten.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "qmhost/settings_store.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

using qmhost::SettingsStore;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class SettingsStoreTest : public testsupport::TempDirTest {};

constexpr const char* kA = "{EB8B187D-FF0A-4741-8F76-46D04F7AAB1C}";
constexpr const char* kB = "{08088A61-AF2C-4138-A9DA-02A1787827A4}";

}  // namespace

TEST_F(SettingsStoreTest, InMemoryStoreKeepsEachPluginsValuesApart) {
  SettingsStore store;
  std::string error;
  EXPECT_FALSE(store.Persistent());
  EXPECT_TRUE(store.Put(kA, "mc_profile", "1234", error));
  EXPECT_TRUE(store.Put(kB, "mc_profile", "9999", error));
  EXPECT_EQ(store.Get(kA, "mc_profile"), "1234");
  EXPECT_EQ(store.Get(kB, "mc_profile"), "9999");
  EXPECT_FALSE(store.Get(kA, "MC_PROFILE").has_value());  // keys are exact
  bool existed = false;
  EXPECT_TRUE(store.Delete(kA, "mc_profile", existed, error));
  EXPECT_TRUE(existed);
  EXPECT_TRUE(store.Delete(kA, "mc_profile", existed, error));
  EXPECT_FALSE(existed);
  EXPECT_FALSE(store.Get(kA, "mc_profile").has_value());
  EXPECT_EQ(store.Get(kB, "mc_profile"), "9999");
}

TEST_F(SettingsStoreTest, MissingFileIsCreatedAndEveryChangeIsPersisted) {
  const std::string path = PathOf("settings.json");
  {
    SettingsStore store;
    std::string error;
    ASSERT_TRUE(store.Open(path, error)) << error;
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(store.Put(kA, "caption", "Line\n\"quoted\" \xC3\xA9", error));
    EXPECT_TRUE(store.Put(kA, "empty", "", error));
    EXPECT_TRUE(store.Put(kB, "x", "1", error));
    bool existed = false;
    EXPECT_TRUE(store.Delete(kB, "x", existed, error));
  }
  const auto file = nlohmann::json::parse(ReadFile(path));
  EXPECT_EQ(file[kA]["caption"], "Line\n\"quoted\" \xC3\xA9");
  EXPECT_FALSE(file[kB].contains("x"));

  SettingsStore again;
  std::string error;
  ASSERT_TRUE(again.Open(path, error)) << error;
  EXPECT_EQ(again.Get(kA, "caption"), "Line\n\"quoted\" \xC3\xA9");
  EXPECT_EQ(again.Get(kA, "empty"), "");
  EXPECT_FALSE(again.Get(kB, "x").has_value());
  // Only the file and its lock file are left: the temporary files were renamed into place.
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_))
    names.insert(entry.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"settings.json", "settings.json.lock"}));
}

TEST_F(SettingsStoreTest, UnusableFilesAreReportedAndLeftAsTheyAre) {
  for (const std::string& text :
       {std::string("{not json"), std::string("[1,2]"), std::string(R"({"p":"flat"})"),
        std::string(R"({"p":{"k":5}})")}) {
    const std::string path = PathOf("bad.json");
    WriteFile(path, text);
    SettingsStore store;
    std::string error;
    EXPECT_FALSE(store.Open(path, error)) << text;
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(store.Persistent());
    EXPECT_TRUE(store.Put(kA, "k", "v", error));  // kept in memory
    EXPECT_EQ(ReadFile(path), text);
  }
  SettingsStore store;
  std::string error;
  EXPECT_FALSE(store.Open(dir_.string(), error));  // a folder is no settings file
  WriteFile(PathOf("empty.json"), "\n");
  EXPECT_TRUE(store.Open(PathOf("empty.json"), error)) << error;
}

TEST_F(SettingsStoreTest, FailedWriteIsReportedAndTheValueKeptInMemory) {
  const std::filesystem::path folder = dir_ / "gone";
  std::filesystem::create_directory(folder);
  const std::string path = (folder / "settings.json").string();
  SettingsStore store;
  std::string error;
  ASSERT_TRUE(store.Open(path, error)) << error;
  std::filesystem::remove_all(folder);
  EXPECT_FALSE(store.Put(kA, "k", "v", error));
  EXPECT_NE(error.find("gone"), std::string::npos) << error;
  EXPECT_EQ(store.Get(kA, "k"), "v");
}
