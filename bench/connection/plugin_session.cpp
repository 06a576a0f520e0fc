#include "plugin_session.h"

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>

#include "connection/sent_packets.h"
#include "plugin/VantiroImpl.h"
#include "qmos/application.h"
#include "qmos/bstr.h"
#include "qmos/registry.h"
#include "qmos/thread.h"
#include "state/process_state.h"
#include "testsupport/quiet_host.h"

namespace bench {

using qmos::BSTR;
using qmos::HRESULT;

// The client's callback: settings in a map, publications counted by queue. Host
// calls the plug-in makes here are cheap, so they weigh nothing in the measurements.
class BenchHost final : public testsupport::QuietHost {
 public:
  HRESULT Publish(BSTR queue, BSTR data) override {
    const std::string name = qmos::BstrToUtf8(queue);
    // The supervisor's lookups of the multiplexor, one per connection attempt (the
    // mailbox-server lookups after heartbeats do not count).
    if (name == "service_lookup_request" &&
        qmos::BstrToUtf8(data).find("service_name:multiplexor") != std::string::npos) {
      lookups_.fetch_add(1);
    }
    if (name == "mc_activity") {
      const Clock::time_point now = Clock::now();
      bool reached = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++activities_;
        lastActivity_ = now;
        reached = activities_ >= awaited_;
      }
      // Only the publication the waiter waits for wakes it: a wake-up per relayed
      // notice would be the benchmark's cost counted against the plug-in.
      if (reached) activity_.notify_all();
    }
    return qmos::S_OK;
  }
  HRESULT PutData(BSTR key, BSTR data) override {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_[qmos::BstrToUtf8(key)] = qmos::BstrToUtf8(data);
    return qmos::S_OK;
  }
  HRESULT GetData(BSTR key, BSTR* data) override {
    if (data == nullptr) return qmos::E_POINTER;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = settings_.find(qmos::BstrToUtf8(key));
    *data = it == settings_.end() ? nullptr : qmos::BstrFromUtf8(it->second);
    return it == settings_.end() ? qmos::S_FALSE : qmos::S_OK;
  }
  HRESULT DeleteData(BSTR key) override {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.erase(qmos::BstrToUtf8(key));
    return qmos::S_OK;
  }

  int Lookups() const { return lookups_.load(); }
  std::uint64_t Activities() {
    std::lock_guard<std::mutex> lock(mutex_);
    return activities_;
  }
  Clock::time_point LastActivity() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastActivity_;
  }
  bool WaitActivities(std::uint64_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    awaited_ = count;
    return activity_.wait_for(lock, std::chrono::seconds(30), [&] { return activities_ >= count; });
  }
  void Set(const std::string& key, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_[key] = value;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> settings_;
  std::atomic<int> lookups_{0};
  std::condition_variable activity_;
  std::uint64_t activities_ = 0;
  std::uint64_t awaited_ = 0;  // the count WaitActivities waits for
  Clock::time_point lastActivity_{};
};

namespace {

// Serves the main-thread queue until pred holds; throws after the time-out.
template <class Pred>
void ServeUntil(Pred pred, const char* what) {
  qmos::Application& app = qmos::Application::Instance();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error(what);
    app.WaitForWork(10);
    app.ProcessMessages();
  }
}

}  // namespace

PluginSession::PluginSession(std::uint16_t port) : port_(port), host_(std::make_unique<BenchHost>()) {
  std::string pattern = (std::filesystem::temp_directory_path() / "vantiro-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
  qmos::SetRegistryFile((dir_ / "registry.reg").string());
  auto settings = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, "SOFTWARE\\Quillmere\\Viewer\\Settings", true);
  if (!settings || !settings->WriteString("TraceFilesDir", dir_.string()) ||
      !settings->WriteDword("TraceEnabled", 0)) {
    throw std::runtime_error("cannot write the registry file");
  }
  qmos::Application::Instance().SetMainThread();
  host_->Set("mc_profile", "1234");
  host_->Set("mc_password", "11112222");

  plugin_ = static_cast<quillmere::IQMViewerPlugin*>(new vantiro::TVantiroImpl());
  if (plugin_->Initialize(host_.get()) != qmos::S_OK) throw std::runtime_error("Initialize failed");
  ServeUntil([&] { return host_->Lookups() > 0; }, "no service lookup from the plug-in");
  ServeUntil([&] {
    AnswerLookups();
    return vantiro::State().LoginAuthenticated.load();
  }, "the plug-in did not log in");
  ServeUntil([] { return NothingOutstanding(); }, "the login stayed unanswered");
}

PluginSession::~PluginSession() {
  plugin_->Terminate();
  plugin_->Release();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (qmos::TThread::RunningCount() != 0 && std::chrono::steady_clock::now() < deadline) {
    qmos::Application::Instance().WaitForWork(10);
    qmos::Application::Instance().ProcessMessages();
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

bool PluginSession::Publish(const std::string& queue, const std::string& data) {
  qmos::Bstr q(queue), d(data);
  return plugin_->Publish(q.Get(), d.Get()) == qmos::S_OK;
}

bool PluginSession::WaitActivities(std::uint64_t count) { return host_->WaitActivities(count); }
Clock::time_point PluginSession::LastActivity() const { return host_->LastActivity(); }
std::uint64_t PluginSession::Activities() const { return host_->Activities(); }

int PluginSession::Lookups() const { return host_->Lookups(); }

void PluginSession::AnswerLookups() {
  const int lookups = Lookups();
  if (answered_ >= lookups) return;
  answered_ = lookups;
  Publish("service_lookup_response",
          "service_name:multiplexor\nip_address:127.0.0.1\ntcp_port:" + std::to_string(port_) + "\n");
}

void PluginSession::ServeMainThread(int ms) {
  qmos::Application& app = qmos::Application::Instance();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  do {
    app.WaitForWork(static_cast<std::uint32_t>(std::max(1, ms)));
    app.ProcessMessages();
  } while (std::chrono::steady_clock::now() < until);
}

bool PluginSession::NothingOutstanding() { return vantiro::SentPacketIds().empty(); }

}  // namespace bench
