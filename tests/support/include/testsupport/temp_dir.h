// Fresh temporary folders for tests: a plain owner object, and GoogleTest fixtures
// that give each test its own folder (and, for the registry fixture, its own
// registry file in it).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace testsupport {

// A fresh folder under the system's temporary folder ($TMPDIR or /tmp), removed
// with everything in it by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // The path of name inside the folder.
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Points the registry at <folder>/registry.reg for the object's lifetime; the
// destructor points it back at the default file.
class ScopedRegistry {
 public:
  ScopedRegistry();
  ~ScopedRegistry();
  ScopedRegistry(const ScopedRegistry&) = delete;
  ScopedRegistry& operator=(const ScopedRegistry&) = delete;

  const std::string& File() const { return file_; }
  const TempDir& Dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string file_;
};

// A fixture whose every test gets a fresh folder, removed after the test.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::filesystem::path& Dir() const { return dir_; }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
};

// A fresh folder per test holding the registry file the test's process uses
// (<folder>/registry.reg). The file setting is left as it is after the test: the
// next test sets its own.
class TempRegistryTest : public TempDirTest {
 protected:
  void SetUp() override;
};

}  // namespace testsupport
