// The plug-in object connected to a recording multiplexor stand-in: the client's
// settings hold the login, the test answers the supervisor's lookups itself.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "plugin/VantiroImpl.h"
#include "plugin_fixture.h"
#include "qmos/application.h"
#include "qmos/bstr.h"
#include "qmos/com_ptr.h"
#include "state/process_state.h"
#include "testsupport/frame_peer.h"

namespace plugin_test {

inline HRESULT PublishTo(quillmere::IQMViewerPlugin* plugin, const std::string& queue,
                         const std::string& data) {
  qmos::Bstr q(queue), d(data);
  return plugin->Publish(q.Get(), d.Get());
}

inline void PutSetting(quillmere::IQMViewerBase& host, const std::string& key, const std::string& value) {
  qmos::Bstr k(key), v(value);
  host.PutData(k.Get(), v.Get());
}

inline std::string MultiplexorAnswer(std::uint16_t port) {
  return "service_name:multiplexor\nip_address:127.0.0.1\ntcp_port:" + std::to_string(port) + "\n";
}

// While it lives the main thread serves no queue, so a password validation that a
// test starts ends before it would reach a mailbox server.
struct MainThreadNotServed {
  MainThreadNotServed() { qmos::Application::Instance().StopServing(); }
  ~MainThreadNotServed() { qmos::Application::Instance().StartServing(); }
  MainThreadNotServed(const MainThreadNotServed&) = delete;
  MainThreadNotServed& operator=(const MainThreadNotServed&) = delete;
};

inline constexpr const char* kValidationNotRun =
    "passwordValidation: The host no longer serves its queue; the password was not checked";

class DispatchTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    pki_ = std::make_unique<testsupport::TestPki>(Dir().string(), "mux", "Mux CA");
    peer_ = std::make_unique<testsupport::FramePeer>(*pki_);
    PutSetting(host_, "mc_profile", "4711");
    PutSetting(host_, "mc_password", "98765");
  }
  void TearDown() override {
    if (plugin_) {
      EXPECT_EQ(plugin_->Terminate(), qmos::S_OK);
      plugin_.Reset();
    }
    PluginTest::TearDown();
    peer_.reset();
  }

  void Initialize() {
    plugin_ = qmos::ComPtr<quillmere::IQMViewerPlugin>::Attach(
        static_cast<quillmere::IQMViewerPlugin*>(new vantiro::TVantiroImpl()));
    ASSERT_EQ(plugin_->Initialize(&host_), qmos::S_OK);
  }

  // Terminate the plug-in and wait for every thread of the run to end (while a
  // MainThreadNotServed still lives, so no validation can wait for the main thread).
  void EndRun() {
    EXPECT_EQ(plugin_->Terminate(), qmos::S_OK);
    plugin_.Reset();
    EXPECT_TRUE(WaitUntil([] { return qmos::TThread::RunningCount() == 0; }));
  }

  // Initialize, answer the lookup with the peer, and wait for the login.
  void InitializeConnected() {
    Initialize();
    ASSERT_TRUE(host_.WaitForPublication("service_lookup_request", std::chrono::seconds(10)));
    ASSERT_EQ(Publish("service_lookup_response", MultiplexorAnswer(peer_->Port())), qmos::S_OK);
    ASSERT_TRUE(peer_->WaitForCount("hello", 1));
  }

  HRESULT Publish(const std::string& queue, const std::string& data) {
    return PublishTo(plugin_.Get(), queue, data);
  }

  // Publications on queue (with data, when given).
  int Published(const std::string& queue, const std::optional<std::string>& data = std::nullopt) const {
    int count = 0;
    for (const Publication& p : host_.Publications())
      if (p.queue == queue && (!data || p.data == *data)) ++count;
    return count;
  }

  int TraceCount(const std::string& line) const {
    const std::string all = TraceText();
    const std::string needle = "] " + line + "\n";
    int count = 0;
    for (std::size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++count;
    return count;
  }

  FakeHost host_;
  qmos::ComPtr<quillmere::IQMViewerPlugin> plugin_;
  std::unique_ptr<testsupport::TestPki> pki_;
  std::unique_ptr<testsupport::FramePeer> peer_;
};

}  // namespace plugin_test
