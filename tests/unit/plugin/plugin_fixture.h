// A fresh temporary folder per test holding the registry file and the trace log,
// with the settings a plug-in run reads, and small helpers to wait and to read back.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "qmos/registry.h"
#include "qmos/thread.h"

namespace plugin_test {

constexpr const char* kSettingsKey = "SOFTWARE\\Quillmere\\Viewer\\Settings";

// Polls pred until it holds; false when timeout passes first.
inline bool WaitUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantiro-plugin-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    qmos::SetRegistryFile((dir_ / "registry.reg").string());
    auto settings = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, true);
    ASSERT_TRUE(settings);
    ASSERT_TRUE(settings->WriteString("TraceFilesDir", dir_.string()));
    ASSERT_TRUE(settings->WriteDword("TraceEnabled", 1));
  }
  void TearDown() override {
    // Threads of the run end before the folder goes (the supervisor may still trace).
    EXPECT_TRUE(WaitUntil([] { return qmos::TThread::RunningCount() == 0; }));
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  const std::filesystem::path& Dir() const { return dir_; }

  void SetTraceEnabled(std::uint32_t on) {
    auto settings = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, true);
    ASSERT_TRUE(settings && settings->WriteDword("TraceEnabled", on));
  }

  std::string TraceText() const {
    std::ifstream in(dir_ / "VantiroBackend.out", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool TraceHas(const std::string& line) const {
    return TraceText().find("] " + line + "\n") != std::string::npos;
  }

 private:
  std::filesystem::path dir_;
};

}  // namespace plugin_test
