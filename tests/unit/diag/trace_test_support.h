// A fresh registry file and trace folder for each trace log test, and helpers to
// set the trace values and read the trace file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "diag/trace_log.h"
#include "diag/trace_settings.h"
#include "qmos/paths.h"
#include "qmos/registry.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace diagtest {

class TraceTest : public testsupport::TempRegistryTest {
 protected:
  void TearDown() override {
    vantiro::CloseTraceLog();
    TempRegistryTest::TearDown();
  }

  static qmos::RegKey Key() {
    return *qmos::RegKey::Open(qmos::RegRoot::LocalMachine, vantiro::kTraceSettingsKey, true);
  }
  static void SetDword(std::string_view name, std::uint32_t value) { ASSERT_TRUE(Key().WriteDword(name, value)); }
  static void SetString(std::string_view name, std::string_view value) { ASSERT_TRUE(Key().WriteString(name, value)); }
  static std::optional<qmos::RegValue> Value(std::string_view name) { return Key().ReadValue(name); }

  // The temp folder in Windows form with a drive, as an administrator writes it.
  std::string WindowsDir() const { return "C:" + qmos::ToWindowsPath(dir_.string()); }
  std::string FilePath() const { return (dir_ / vantiro::kTraceFileName).string(); }

  // Points "TraceFilesDir" at the temp folder, switches tracing on with the given
  // limit and position, then reads the settings and opens the log.
  void StartLog(std::uint32_t maxSize, std::uint32_t position = 0) {
    SetString("TraceFilesDir", WindowsDir());
    SetDword("TraceEnabled", 1);
    SetDword("maxfilesize_vtbackend", maxSize);
    SetDword("logfileposition_vtbackend", position);
    Reopen();
  }
  static void Reopen() { vantiro::OpenTraceLog(vantiro::ReadTraceSettings()); }

  std::string Content() const { return testsupport::ReadFile(FilePath()); }
  void WriteContent(const std::string& bytes) const { testsupport::WriteFile(FilePath(), bytes); }
};

}  // namespace diagtest
