// A supervisor under test: its own registry and trace files in a fresh folder, a
// fresh process state, a fake host that can answer lookups at once, and the plug-in's
// termination sequence.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>
#include <string>

#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "qmos/clock.h"
#include "qmos/event.h"
#include "qmos/paths.h"
#include "qmos/registry.h"
#include "qmos/time_scale.h"
#include "state/process_state.h"
#include "testsupport/fake_host.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"
#include "testsupport/tls_client.h"
#include "testsupport/tls_server.h"
#include "testsupport/wait.h"

namespace connection_test {

using testsupport::ConnectTo;
using testsupport::FakeHost;
using testsupport::SilentListener;
using testsupport::TestPki;
using testsupport::TlsTestServer;
using testsupport::WaitUntil;
using namespace std::chrono_literals;

class SupervisorTest : public ::testing::Test {
 protected:
  void SetUp() override {
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
      // The thread procedure lets go of the object after Execute: wait for that too.
      EXPECT_TRUE(WaitUntil([] { return qmos::TThread::RunningCount() == 0; }));
    }
    vantiro::State().SetPluginThread(nullptr);
    vantiro::State().hostCallback = nullptr;
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

  // Answers lookups as AnswerLookups does and notes when each was published.
  void AnswerAndRecordLookups(const std::string& address, std::uint16_t port) {
    AnswerLookups(address, port);
    auto answer = host_.onPublish;
    host_.onPublish = [this, answer](const std::string& queue) {
      if (queue == "service_lookup_request") {
        std::lock_guard<std::mutex> guard(lookupsMutex_);
        lookups_.push_back(qmos::MonotonicMs());
      }
      answer(queue);
    };
  }
  // When each recorded lookup was published (monotonic ms).
  std::vector<std::int64_t> Lookups() {
    std::lock_guard<std::mutex> guard(lookupsMutex_);
    return lookups_;
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

  std::string TraceText() const { return testsupport::ReadFile(dir_ + "/trace.out"); }
  bool Traced(const std::string& line) const { return TraceText().find(line) != std::string::npos; }
  bool WaitForTrace(const std::string& line) {
    return WaitUntil([&] { return Traced(line); });
  }

  testsupport::TempDir temp_;  // removed after the test
  const std::string dir_ = temp_.Path();
  // A missing setting fails with a string all the same, and writes answer S_FALSE:
  // the supervisor must cope with both.
  FakeHost host_{FakeHost::Answers{.staleOnMissingKey = true, .putData = qmos::S_FALSE}};
  std::shared_ptr<vantiro::PluginThread> thread_;
  std::mutex lookupsMutex_;
  std::vector<std::int64_t> lookups_;
};

}  // namespace connection_test
