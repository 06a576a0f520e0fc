// A fresh temporary folder per test holding the registry file and the trace log,
// with the settings a plug-in run reads, and small helpers to wait and to read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "qmos/activation.h"
#include "qmos/registry.h"
#include "qmos/thread.h"
#include "testsupport/fake_host.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"
#include "testsupport/wait.h"

namespace plugin_test {

using qmos::BSTR;
using qmos::HRESULT;
using qmos::LONG;
using qmos::SHORT;
using testsupport::FakeHost;
using testsupport::Publication;
using testsupport::WaitUntil;

constexpr const char* kSettingsKey = "SOFTWARE\\Quillmere\\Viewer\\Settings";

class PluginTest : public testsupport::TempRegistryTest {
 protected:
  void SetUp() override {
    TempRegistryTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(SUCCEEDED(qmos::CoInitializeApartment()));
    apartment_ = true;
    auto settings = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, true);
    ASSERT_TRUE(settings);
    ASSERT_TRUE(settings->WriteString("TraceFilesDir", dir_.string()));
    ASSERT_TRUE(settings->WriteDword("TraceEnabled", 1));
  }
  void TearDown() override {
    // Threads of the run end before the folder goes (the supervisor may still trace).
    EXPECT_TRUE(WaitUntil([] { return qmos::TThread::RunningCount() == 0; }));
    if (apartment_) qmos::CoUninitialize();
    TempRegistryTest::TearDown();
  }

  void SetTraceEnabled(std::uint32_t on) {
    auto settings = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, true);
    ASSERT_TRUE(settings && settings->WriteDword("TraceEnabled", on));
  }

  std::string TraceText() const { return testsupport::ReadFile(PathOf("VantiroBackend.out")); }
  bool TraceHas(const std::string& line) const {
    return TraceText().find("] " + line + "\n") != std::string::npos;
  }

 private:
  bool apartment_ = false;
};

}  // namespace plugin_test
