// A supervisor under test: its own registry and trace files in a fresh folder, a
// fresh process state, a fake host that can answer lookups at once, and the plug-in's
// termination sequence.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "fake_host.h"
#include "plugin/process_state.h"
#include "qmos/event.h"
#include "qmos/paths.h"
#include "qmos/registry.h"
#include "qmos/time_scale.h"

namespace connection_test {

// Polls pred every millisecond until it holds or ms pass.
inline bool WaitUntil(const std::function<bool()>& pred, int ms = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return pred();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class SupervisorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantiro-conn-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    qmos::SetRegistryFile(dir_ + "/registry.reg");
    vantiro::OpenTraceLog(dir_ + "/trace.out");
    vantiro::ProcessState& state = vantiro::State();
    state.PluginTerminating = false;
    state.LoginAuthenticated = true;
    state.SetMultiplexorAddressEvent(qmos::Event::Create());
    state.SetPluginThreadTerminatedEvent(nullptr);
    state.hostCallback = &host_;
  }

  void TearDown() override {
    if (thread_) {
      thread_->Terminate();
      vantiro::State().MultiplexorAddressEvent()->Set();
      EXPECT_TRUE(thread_->WaitFor(20000));
      thread_.reset();
    }
    vantiro::State().SetPluginThread(nullptr);
    vantiro::State().hostCallback = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Makes every lookup answered at once with address:port.
  void AnswerLookups(const std::string& address, std::uint16_t port) {
    host_.onPublish = [address, port](const std::string& queue) {
      if (queue != "service_lookup_request") return;
      if (auto thread = vantiro::State().GetPluginThread()) {
        thread->SetMultiplexorAddress(address);
        thread->SetMultiplexorPort(port);
        vantiro::State().MultiplexorAddressEvent()->Set();
      }
    };
  }

  void SetCaFile(const std::string& path) {
    // The registry holds Windows-form paths.
    auto key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, "SOFTWARE\\Quillmere\\Viewer\\Settings", true);
    ASSERT_TRUE(key && key->WriteString("CACertificate", "C:" + qmos::ToWindowsPath(path)));
  }

  void Start() {
    thread_ = std::make_shared<vantiro::PluginThread>(&host_);
    vantiro::State().SetPluginThread(thread_);  // before the first lookup goes out
    ASSERT_TRUE(thread_->Start());
  }

  // The plug-in's Terminate: returns how many milliseconds the supervisor took to
  // signal its end, or -1 when it did not within 15 s.
  long long TerminateLikePlugin() {
    const auto start = std::chrono::steady_clock::now();
    vantiro::ProcessState& state = vantiro::State();
    state.PluginTerminating = true;
    auto ended = qmos::Event::Create();
    state.SetPluginThreadTerminatedEvent(ended);
    thread_->AbortConnection();
    thread_->Terminate();
    state.MultiplexorAddressEvent()->Set();
    if (ended->WaitFor(15000) != qmos::WaitResult::Signalled) return -1;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
  }

  std::string TraceText() const {
    std::ifstream file(dir_ + "/trace.out");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  bool Traced(const std::string& line) const { return TraceText().find(line) != std::string::npos; }
  bool WaitForTrace(const std::string& line) {
    return WaitUntil([&] { return Traced(line); });
  }

  std::string dir_;
  FakeHost host_;
  std::shared_ptr<vantiro::PluginThread> thread_;
};

}  // namespace connection_test
