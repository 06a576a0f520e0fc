// Whole files on Windows: a replacement is read back whole and leaves no temporary
// file; a lock held by one holder keeps another out for its time-out and no longer;
// a read-change-replace under the lock keeps what was there.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "qmos/file_replace.h"

namespace {

class WindowsFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("vantiro-files-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string PathOf(const char* name) const { return (dir_ / name).string(); }
  std::filesystem::path dir_;
};

TEST_F(WindowsFilesTest, AReplacementIsReadBackWholeAndLeavesNoTemporaryFile) {
  const std::string path = PathOf("settings.json");
  std::string error;
  ASSERT_TRUE(qmos::ReplaceFile(path, "first", 0600, error)) << error;
  ASSERT_TRUE(qmos::ReplaceFile(path, std::string(100000, 'x'), 0600, error)) << error;
  std::string text;
  bool missing = true;
  ASSERT_TRUE(qmos::ReadWholeFile(path, 1 << 20, text, error, &missing)) << error;
  EXPECT_FALSE(missing);
  EXPECT_EQ(text, std::string(100000, 'x'));
  EXPECT_FALSE(qmos::ReadWholeFile(path, 1000, text, error)) << "larger than its limit";
  int files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 1);
}

TEST_F(WindowsFilesTest, AHeldLockKeepsAnotherHolderOutForItsTimeOutOnly) {
  const std::string lockPath = qmos::LockPathOf(PathOf("registry.reg"));
  std::string error;
  qmos::FileLock held;
  ASSERT_TRUE(held.Acquire(lockPath, true, 1000, error)) << error;
  qmos::FileLock other;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(other.Acquire(lockPath, true, 200, error));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(190));
  EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST_F(WindowsFilesTest, AnUpdateUnderTheLockKeepsWhatWasThere) {
  const std::string path = PathOf("Preferences.start");
  std::string error;
  ASSERT_TRUE(qmos::ReplaceFile(path, "a\n", 0600, error)) << error;
  ASSERT_TRUE(qmos::UpdateFile(path, 1 << 20, 0600, 1000,
                               [](std::string& text, std::string&) {
                                 text += "b\n";
                                 return true;
                               },
                               error))
      << error;
  std::string text;
  ASSERT_TRUE(qmos::ReadWholeFile(path, 1 << 20, text, error)) << error;
  EXPECT_EQ(text, "a\nb\n");
}

}  // namespace
