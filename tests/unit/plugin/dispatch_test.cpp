// Queue dispatch end to end: the client's queue messages become packets at a
// recording multiplexor stand-in; mailbox-server lookups are checked and throttled;
// restart and abort requests, also when the client hands the plug-in's own
// publications back to it.
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "connection/PluginThread.h"
#include "dispatch_fixture.h"
#include "testsupport/quiet_host.h"

namespace plugin_test {
namespace {

using namespace std::chrono_literals;
using testsupport::Fields;
using vantiro::State;

const char* const kValidationStarted =
    "VantiroImpl1:Publish() to spawn a new thread to check if password expired";
const char* const kTooSoon = "VantiroImpl::Publish() too soon to validate password again, ignore IP/Port";
const char* const kRestartLine = "VantiroImpl::Publish() Restart requested,reset pluginThread()";

struct RequestCase {
  std::string queue, data, command;
  Fields fields;  // after id, profile, password, command
};

TEST_F(DispatchTest, EveryRequestQueueBecomesItsPacketWithTheLoginCredentials) {
  InitializeConnected();
  const std::vector<RequestCase> cases = {
      {"mc_intercept", "call_ip_address:10.0.0.1\ncall_channel:4\ntransfer_number:555\ncall_id:c1\n",
       "call_intercept",
       {{"call_ip_address", "10.0.0.1"}, {"call_channel", "4"}, {"transfer_number", "555"}, {"call_id", "c1"}}},
      // Absent fields travel as empty values.
      {"mc_hold_call", "call_id:7\ncall_ip_address:9\n", "call_hold",
       {{"call_ip_address", "9"}, {"call_channel", ""}, {"call_id", "7"}, {"max_hold_time", ""}}},
      {"mc_take_message", "call_channel:2\ncall_id:c3\ncall_ip_address:h\n", "call_take_message",
       {{"call_ip_address", "h"}, {"call_channel", "2"}, {"call_id", "c3"}}},
      {"mc_send_message", "pre_defined_msgid:3\nad_hoc_msg:back soon\ncall_id:c4\n", "call_send_message",
       {{"call_ip_address", ""}, {"call_channel", ""}, {"pre_defined_msg", "3"}, {"ad_hoc_msg", "back soon"},
        {"call_id", "c4"}}},
      {"presence_monitor", "monitor_profile:600\nservice:voice\n", "presence_monitor_request",
       {{"service", "voice"}, {"monitor_profile", "600"}}},
      {"presence_monitor_remove", "monitor_profile:600\nservice:voice\n", "presence_monitor_remove",
       {{"service", "voice"}, {"monitor_profile", "600"}}},
      {"presence_monitor_remove_all", "service:voice\nmonitor_profile:600\n", "presence_monitor_remove_all",
       {{"service", "voice"}}},
      {"presence_monitor_query", "service:im\n", "presence_monitor_query", {{"service", "im"}}},
      {"send_im", "destination_profile:700\nsender_name:Ann\nmessage:a:b\n", "send_im",
       {{"destination_profile", "700"}, {"sender_name", "Ann"}, {"message", "a:b"}}},
      {"mc_place_call", "target_number:222\ncallback_number:111\n", "place_call",
       {{"callback_number", "111"}, {"target_number", "222"}}},
  };
  // Packets carry the login's password even after the client's setting changed.
  PutSetting(host_, "mc_password", "11111");
  for (const RequestCase& c : cases) {
    EXPECT_EQ(Publish(c.queue, c.data), qmos::S_OK) << c.queue;
    ASSERT_TRUE(peer_->WaitForCount(c.command, 1)) << c.queue;
    const auto frame = peer_->Frames(c.command).back();
    Fields expected = {{"id", frame.Value("id")}, {"profile", "4711"}, {"password", "98765"},
                       {"command", c.command}};
    expected.insert(expected.end(), c.fields.begin(), c.fields.end());
    EXPECT_EQ(frame.fields, expected) << c.queue;
  }
  EXPECT_EQ(peer_->Frames().size(), 1 + cases.size() + peer_->Frames("heartbeat").size());
}

TEST_F(DispatchTest, MailboxServerAnswersStartAValidationOnlyUnderEveryCondition) {
  const MainThreadNotServed offline;
  Initialize();
  State().LoginAuthenticated = true;
  State().DaysToExpiry = 14;
  const std::string good = "service_name:XXX_MessageCenterAPI\nip_address:mc1\ntcp_port:7001\n";
  auto expectIgnored = [&](const std::string& data, const char* why) {
    EXPECT_EQ(Publish("service_lookup_response", data), qmos::S_OK);
    EXPECT_EQ(TraceCount(kValidationStarted), 0) << why;
  };
  expectIgnored("service_name:xxx_MessageCenterAPI\nip_address:mc1\ntcp_port:7001\n", "name");
  expectIgnored("service_name:XXX_MessageCenterAPI\nip_address:mc1\ntcp_port:\n", "empty port");
  expectIgnored("service_name:XXX_MessageCenterAPI\nip_address:mc1\n", "no port");
  expectIgnored("service_name:XXX_MessageCenterAPI\nip_address:\ntcp_port:7001\n", "empty host");
  State().UserAborted = true;
  expectIgnored(good, "user aborted");
  State().UserAborted = false;
  State().LoginAuthenticated = false;
  expectIgnored(good, "not logged in");
  State().LoginAuthenticated = true;
  State().DaysToExpiry = 15;
  expectIgnored(good, "far from expiry");
  State().DaysToExpiry = 0;
  State().ValidatingPassword = true;
  expectIgnored(good, "validating");
  State().ValidatingPassword = false;

  // The first answer counts; the same address again within the throttle does not.
  EXPECT_EQ(Publish("service_lookup_response", good), qmos::S_OK);
  EXPECT_EQ(TraceCount(kValidationStarted), 1);
  // It was started, and has ended: until then an answer counts as one during a check.
  EXPECT_TRUE(WaitUntil([&] { return TraceCount(kValidationNotRun) == 1 && !State().ValidatingPassword; }));
  EXPECT_EQ(Publish("service_lookup_response", good), qmos::S_OK);
  EXPECT_EQ(TraceCount(kValidationStarted), 1);
  EXPECT_EQ(TraceCount(kTooSoon), 1);
  // Another port (65537 is port 1) or another host is another address.
  EXPECT_EQ(Publish("service_lookup_response",
                    "service_name:XXX_MessageCenterAPI\nip_address:mc1\ntcp_port:65537\n"), qmos::S_OK);
  EXPECT_EQ(TraceCount(kValidationStarted), 2);
  EXPECT_TRUE(WaitUntil([&] { return TraceCount(kValidationNotRun) == 2 && !State().ValidatingPassword; }));
  EXPECT_EQ(Publish("service_lookup_response",
                    "service_name:XXX_MessageCenterAPI\nip_address:mc1\ntcp_port:1x\n"), qmos::S_OK);
  EXPECT_EQ(TraceCount(kTooSoon), 2);
  EXPECT_EQ(Publish("service_lookup_response",
                    "service_name:XXX_MessageCenterAPI\nip_address:mc2\ntcp_port:1\n"), qmos::S_OK);
  EXPECT_EQ(TraceCount(kValidationStarted), 3);
  // The multiplexor's own check ignores these answers.
  EXPECT_FALSE(TraceHas("VantiroImpl::Publish() we got multiplexor ip/port,signal Pluginthread its safe to connect to it"));
  EndRun();
  State().LoginAuthenticated = false;
  State().DaysToExpiry = 0;
}

TEST_F(DispatchTest, ARestartRetriesTheConnectionAndAlwaysTracesIt) {
  SetTraceEnabled(0);
  InitializeConnected();
  State().UserAborted = true;
  EXPECT_EQ(Publish("mc_logged_out", "x:1\nreason:restart\n"), qmos::S_OK);
  EXPECT_FALSE(State().UserAborted);
  EXPECT_EQ(Published("mc_logged_out", ""), 1);
  EXPECT_TRUE(TraceHas(kRestartLine));  // with tracing off
  // The supervisor starts over with a new lookup; answered, it logs in again.
  ASSERT_TRUE(WaitUntil([&] { return Published("service_lookup_request") >= 2; }));
  ASSERT_EQ(Publish("service_lookup_response", MultiplexorAnswer(peer_->Port())), qmos::S_OK);
  ASSERT_TRUE(peer_->WaitForCount("hello", 2));
  EXPECT_EQ(peer_->Frames("hello").back().connection, 2);
}

TEST_F(DispatchTest, AnAbortEndsTheSupervisorAndARestartStartsANewOne) {
  InitializeConnected();
  const std::weak_ptr<vantiro::PluginThread> first = State().GetPluginThread();
  EXPECT_EQ(Publish("mc_logged_out", "reason:abort\n"), qmos::S_OK);
  EXPECT_TRUE(State().UserAborted);
  EXPECT_EQ(Published("mc_logged_out", "reason:abort\n"), 1);
  ASSERT_TRUE(WaitUntil([] { return State().GetPluginThread() == nullptr; }));
  EXPECT_FALSE(TraceHas("PluginThread::sendQUIT(): Sending QUIT packet"));

  // Without a supervisor requests are dropped and another abort does nothing.
  EXPECT_EQ(Publish("mc_hold_call", "call_id:7\n"), qmos::S_OK);
  EXPECT_EQ(Publish("mc_logged_out", "reason:abort"), qmos::S_OK);
  EXPECT_EQ(Published("mc_logged_out", "reason:abort\n"), 1);
  EXPECT_EQ(Publish("service_lookup_response", MultiplexorAnswer(peer_->Port())), qmos::S_OK);
  EXPECT_TRUE(TraceHas("VantiroImpl::Publish() we got mux ip/port, pluginThread not ready,ignore,PluginThread=NULL"));

  // "reason:restart" wins over "reason:abort" and starts a new supervisor.
  EXPECT_EQ(Publish("mc_logged_out", "reason:abort\nreason:restart\n"), qmos::S_OK);
  EXPECT_FALSE(State().UserAborted);
  const auto second = State().GetPluginThread();
  ASSERT_TRUE(second);
  EXPECT_NE(second.get(), first.lock().get());
  EXPECT_FALSE(TraceHas(kRestartLine));
  EXPECT_TRUE(peer_->Frames("call_hold").empty());
}

TEST_F(DispatchTest, ARestartWhileTheAbortedSupervisorEndsStartsItsSuccessor) {
  InitializeConnected();
  const std::weak_ptr<vantiro::PluginThread> first = State().GetPluginThread();
  // The abort's publication is held: the aborted supervisor is still recorded and has
  // not been told to end yet when the restart comes.
  host_.Hold("mc_logged_out");
  std::thread aborter([&] { Publish("mc_logged_out", "reason:abort\n"); });
  ASSERT_TRUE(WaitUntil([&] { return Published("mc_logged_out", "reason:abort\n") == 1; }));
  ASSERT_EQ(State().GetPluginThread(), first.lock());
  EXPECT_EQ(Publish("mc_logged_out", "reason:restart\n"), qmos::S_OK);
  host_.ReleaseHold();
  aborter.join();

  const std::shared_ptr<vantiro::PluginThread> second = State().GetPluginThread();
  ASSERT_TRUE(second);
  EXPECT_NE(second, first.lock());
  EXPECT_FALSE(State().UserAborted);
  EXPECT_EQ(Published("mc_logged_out", ""), 0);  // no drop reported by the ending one
  // The first ends without taking its successor's place with it.
  ASSERT_TRUE(WaitUntil([&] { return first.expired(); }));
  EXPECT_EQ(State().GetPluginThread(), second);
  ASSERT_TRUE(WaitUntil([&] { return Published("service_lookup_request") >= 2; }));
  ASSERT_EQ(Publish("service_lookup_response", MultiplexorAnswer(peer_->Port())), qmos::S_OK);
  ASSERT_TRUE(peer_->WaitForCount("hello", 2));
  EXPECT_EQ(peer_->Frames("hello").back().connection, 2);
}

// A client that hands every publication on a queue the plug-in subscribed to back
// to it, on the client's thread (here the test's), as a client routing a plug-in's
// messages to every subscriber would.
class EchoingHost final : public testsupport::QuietHost {
 public:
  // The plug-in's Terminate waits for its supervisor only within a (scaled) bound; as
  // the client would, the host stays until every thread that may still call it ended.
  ~EchoingHost() { EXPECT_TRUE(WaitUntil([] { return qmos::TThread::RunningCount() == 0; })); }

  HRESULT QMOS_COM_CALL Publish(BSTR queue, BSTR data) override {
    std::lock_guard<std::mutex> guard(mutex_);
    all_.push_back({qmos::BstrToUtf8(queue), qmos::BstrToUtf8(data)});
    pending_.push_back(all_.back());
    return qmos::S_OK;
  }
  HRESULT QMOS_COM_CALL Subscribe(BSTR queue) override {
    std::lock_guard<std::mutex> guard(mutex_);
    subscribed_.push_back(qmos::BstrToUtf8(queue));
    return qmos::S_OK;
  }

  // Delivers what was published since the last call; returns how many went back.
  int Deliver(quillmere::IQMViewerPlugin* plugin) {
    std::vector<Publication> batch;
    std::vector<std::string> subscribed;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      batch.swap(pending_);
      subscribed = subscribed_;
    }
    int delivered = 0;
    for (const Publication& p : batch) {
      if (std::find(subscribed.begin(), subscribed.end(), p.queue) == subscribed.end()) continue;
      PublishTo(plugin, p.queue, p.data);
      ++delivered;
    }
    return delivered;
  }
  int Count(const std::string& queue, const std::string& data) const {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(std::count(all_.begin(), all_.end(), Publication{queue, data}));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Publication> all_, pending_;
  std::vector<std::string> subscribed_;
};

// A plug-in object initialized for the client; null when Initialize failed.
qmos::ComPtr<quillmere::IQMViewerPlugin> InitializedFor(EchoingHost& host) {
  auto plugin = qmos::ComPtr<quillmere::IQMViewerPlugin>::Attach(
      static_cast<quillmere::IQMViewerPlugin*>(new vantiro::TVantiroImpl()));
  if (plugin->Initialize(&host) != qmos::S_OK) plugin.Reset();
  return plugin;
}

TEST_F(PluginTest, OwnPublicationsHandedBackDoNotFeedThemselves) {
  EchoingHost host;
  const auto plugin = InitializedFor(host);
  ASSERT_TRUE(plugin);

  // A restart: the supervisor's "mc_logged_out" with empty data comes back and is
  // no restart request.
  EXPECT_EQ(PublishTo(plugin.Get(), "mc_logged_out", "reason:restart\n"), qmos::S_OK);
  for (int round = 0; round < 20; ++round) host.Deliver(plugin.Get());
  EXPECT_EQ(host.Count("mc_logged_out", ""), 1);
  EXPECT_EQ(TraceText().find("Restart requested"), TraceText().rfind("Restart requested"));

  // An abort: the supervisor's "reason:abort" comes back as an abort request, while
  // the supervisor is still ending and after it has gone.
  EXPECT_EQ(PublishTo(plugin.Get(), "mc_logged_out", "reason:abort\n"), qmos::S_OK);
  EXPECT_EQ(host.Deliver(plugin.Get()), 1);
  for (int round = 0; round < 20; ++round) host.Deliver(plugin.Get());
  ASSERT_TRUE(WaitUntil([] { return State().GetPluginThread() == nullptr; }));
  for (int round = 0; round < 20; ++round) host.Deliver(plugin.Get());
  EXPECT_EQ(host.Count("mc_logged_out", "reason:abort\n"), 1);

  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
  EXPECT_EQ(host.Count("mc_logged_out", "reason:abort\n"), 1);  // nothing left to abort
}

TEST_F(PluginTest, AnAbortHandedBackAfterARestartLeavesTheSuccessorRunning) {
  EchoingHost host;
  const auto plugin = InitializedFor(host);
  ASSERT_TRUE(plugin);

  // The client asks for an abort and at once for a restart; the supervisor's own
  // "reason:abort" reaches the plug-in only after the restart.
  EXPECT_EQ(PublishTo(plugin.Get(), "mc_logged_out", "reason:abort\n"), qmos::S_OK);
  EXPECT_EQ(PublishTo(plugin.Get(), "mc_logged_out", "reason:restart\n"), qmos::S_OK);
  const std::shared_ptr<vantiro::PluginThread> successor = State().GetPluginThread();
  ASSERT_TRUE(successor);
  EXPECT_EQ(host.Deliver(plugin.Get()), 1);
  EXPECT_FALSE(successor->Ending());
  EXPECT_FALSE(State().UserAborted);
  EXPECT_EQ(State().GetPluginThread(), successor);
  EXPECT_EQ(host.Count("mc_logged_out", "reason:abort\n"), 1);

  // The client's own abort later still ends the successor, once.
  EXPECT_EQ(PublishTo(plugin.Get(), "mc_logged_out", "reason:abort\n"), qmos::S_OK);
  EXPECT_TRUE(successor->Ending());
  EXPECT_TRUE(State().UserAborted);
  for (int round = 0; round < 5; ++round) host.Deliver(plugin.Get());
  EXPECT_EQ(host.Count("mc_logged_out", "reason:abort\n"), 2);
  EXPECT_EQ(plugin->Terminate(), qmos::S_OK);
}

}  // namespace
}  // namespace plugin_test
