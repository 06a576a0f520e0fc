#include "testsupport/temp_dir.h"

#include <system_error>

#include "qmos/registry.h"
#include "temp_folder.h"

namespace testsupport {

namespace {

std::string MakeTempDir() { return detail::MakeTempFolder(); }

void RemoveAll(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

}  // namespace

TempDir::TempDir() : path_(MakeTempDir()) {}

TempDir::~TempDir() { RemoveAll(path_); }

ScopedRegistry::ScopedRegistry() : file_(dir_.File("registry.reg")) { qmos::SetRegistryFile(file_); }

ScopedRegistry::~ScopedRegistry() { qmos::SetRegistryFile(""); }

void TempDirTest::SetUp() { ASSERT_NO_THROW(dir_ = MakeTempDir()); }

void TempDirTest::TearDown() { RemoveAll(dir_); }

void TempRegistryTest::SetUp() {
  TempDirTest::SetUp();
  if (!HasFatalFailure()) qmos::SetRegistryFile(PathOf("registry.reg"));
}

}  // namespace testsupport
