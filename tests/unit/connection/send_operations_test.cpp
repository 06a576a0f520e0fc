// The send operations and the supervisor's workers against a recording TLS peer:
// each request's fields and order, the login's credentials, the drop rule, the
// heartbeat's rhythm, the quit at an ordinary end, and the drop after a failed write.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "connection/PluginThread.h"
#include "connection/ReadThread.h"
#include "hashtable.h"
#include "qmos/clock.h"
#include "state/process_state.h"
#include "writer_fixture.h"

namespace connection_test {
namespace {

using Names = std::vector<std::string>;
const std::string kEmptyData;
const Names kCommon = {"id", "profile", "password", "command"};

Names With(Names own) {
  Names all = kCommon;
  all.insert(all.end(), own.begin(), own.end());
  return all;
}

struct Operation {
  std::function<void(vantiro::PluginThread&)> send;
  std::string command;
  Names ownFields;      // in order
  std::string traced;   // its first trace line
};

TEST_F(WriterTest, EveryRequestCarriesTheLoginCredentialsAndItsFieldsInOrder) {
  StartConnected();
  const auto hello = peer_->Frames("hello").front();
  EXPECT_EQ(hello.Names(), kCommon);
  EXPECT_EQ(hello.Value("profile"), "4711");
  EXPECT_EQ(hello.Value("password"), "98765");
  EXPECT_EQ(thread_->Profile(), "4711");
  EXPECT_TRUE(Traced("PluginThread::sendHELLO(): Sending HELLO packet"));
  EXPECT_TRUE(Traced("PluginThread::Execute(): Spawning WriteThread"));
  EXPECT_TRUE(Traced("PluginThread::Execute(): Spawning ReadThread"));
  // The hello may reach the peer before the supervisor has traced its last lines.
  for (const char* line : {"PluginThread::sendHELLO(): Queued HELLO packet",
                           "PluginThread::sendHELLO(): Signalling HELLO packet",
                           "PluginThread::sendHELLO(): Signalled HELLO packet",
                           "PluginThread::sendHELLO():checkoutstanding packets ignored"})
    EXPECT_TRUE(WaitForTrace(line)) << line;

  const std::vector<Operation> operations = {
      {[](auto& s) { s.sendCALLHOLD("id1", "ip1", "30", "ch1"); }, "call_hold",
       {"call_ip_address", "call_channel", "call_id", "max_hold_time"}, "sendCALLHOLD(): Sending CALL_HOLD"},
      {[](auto& s) { s.sendCALLTAKEMESSAGE("id1", "ip1", "ch1"); }, "call_take_message",
       {"call_ip_address", "call_channel", "call_id"}, "sendCALLTAKEMESSAGE(): Sending CALL_TAKE_MESSAGE"},
      {[](auto& s) { s.sendCALLSENDMESSAGE("id1", "ip1", "adhoc", "3", "ch1"); }, "call_send_message",
       {"call_ip_address", "call_channel", "pre_defined_msg", "ad_hoc_msg", "call_id"},
       "sendCALLSENDMESSAGE(): Sending CALL_SEND_MESSAGE"},
      {[](auto& s) { s.sendCALLINTERCEPT("id1", "ip1", "555", "ch1"); }, "call_intercept",
       {"call_ip_address", "call_channel", "transfer_number", "call_id"},
       "sendCALLINTERCEPT(): Sending CALL_INTERCEPT"},
      {[](auto& s) { s.sendPLACECALL("111", "222"); }, "place_call", {"callback_number", "target_number"},
       "sendPLACECALL(): Sending PLACE_CALL"},
      {[](auto& s) { s.sendPRESENCEMONITORREQUEST("600", "voice"); }, "presence_monitor_request",
       {"service", "monitor_profile"}, "sendPRESENCEMONITORREQUEST(): Sending PRESENCE_MONITOR_REQUEST"},
      {[](auto& s) { s.sendPRESENCEMONITORREMOVE("600", "voice"); }, "presence_monitor_remove",
       {"service", "monitor_profile"}, "sendPRESENCEMONITORREMOVE(): Sending PRESENCE_MONITOR_REMOVE"},
      {[](auto& s) { s.sendPRESENCEMONITORREMOVEALL("voice"); }, "presence_monitor_remove_all", {"service"},
       "sendPRESENCEMONITORREMOVEALL(): Sending PRESENCE_MONITOR_REMOVE_ALL"},
      {[](auto& s) { s.sendPRESENCEMONITORQUERY("voice"); }, "presence_monitor_query", {"service"},
       "sendPRESENCEMONITORQUERY(): Sending PRESENCE_MONITOR_QUERY"},
      {[](auto& s) { s.sendOFFLINEACTIVITYREQUEST(); }, "offline_activity_request", {},
       "sendOFFLINEACTIVITYREQUEST(): Sending OFFLINEACTIVITYREQUEST"},
      {[](auto& s) { s.sendSENDIM("700", "Ann", "hi: there"); }, "send_im",
       {"destination_profile", "sender_name", "message"}, "sendSENDIM(): Sending SENDIM"},
      {[](auto& s) { s.sendHEARTBEAT(); }, "heartbeat", {}, "sendHEARTBEAT(): Sending HEARTBEAT"},
  };
  // The host's stored password changes: requests keep the login's until the next one.
  host_.SetData("mc_password", "11111");
  for (const Operation& op : operations) {
    const std::size_t before = peer_->Frames(op.command).size();
    op.send(*thread_);
    ASSERT_TRUE(peer_->WaitForCount(op.command, before + 1)) << op.command;
    const auto frame = peer_->Frames(op.command).back();
    EXPECT_EQ(frame.Names(), With(op.ownFields)) << op.command;
    EXPECT_EQ(frame.Value("profile"), "4711");
    EXPECT_EQ(frame.Value("password"), "98765") << op.command;
    EXPECT_TRUE(Traced("PluginThread::" + op.traced + " packet")) << op.traced;
  }
  const auto send = peer_->Frames("call_send_message").back();
  EXPECT_EQ(send.Value("pre_defined_msg"), "3");
  EXPECT_EQ(send.Value("ad_hoc_msg"), "adhoc");
  EXPECT_EQ(peer_->Frames("send_im").back().Value("message"), "hi: there");
  EXPECT_EQ(peer_->Frames("call_hold").back().Value("max_hold_time"), "30");

  // A new login reads the settings again.
  thread_->RetryConnection();
  ASSERT_TRUE(peer_->WaitForCount("hello", 2));
  EXPECT_EQ(peer_->Frames("hello").back().Value("password"), "11111");
  EXPECT_EQ(peer_->Frames("hello").back().connection, 2);
  thread_->sendPLACECALL("1", "2");
  ASSERT_TRUE(peer_->WaitForCount("place_call", 2));
  EXPECT_EQ(peer_->Frames("place_call").back().Value("password"), "11111");
  EXPECT_GE(TerminateLikePlugin(), 0);
}

TEST_F(WriterTest, RequestsWhileNotConnectedAreDroppedNotKeptForLater) {
  // Lookups stay unanswered until the gate opens (the answer is set up before the
  // supervisor runs, so no thread reads it while it changes).
  auto answer = std::make_shared<std::atomic<bool>>(false);
  AnswerLookups("127.0.0.1", peer_->Port());
  const auto answerLookup = host_.onPublish;
  host_.onPublish = [answer, answerLookup](const std::string& queue) {
    if (*answer) answerLookup(queue);
  };
  Start();
  thread_->sendCALLHOLD("7", "9", "", "");
  thread_->sendHELLO();
  EXPECT_TRUE(Traced("PluginThread::sendCALLHOLD(): Sending CALL_HOLD packet"));
  EXPECT_FALSE(Traced("Queued HELLO packet"));
  EXPECT_EQ(thread_->Profile(), "");  // the settings are read only for a login that goes out

  *answer = true;
  ASSERT_TRUE(peer_->WaitForCount("heartbeat", 1));  // the connection has carried traffic
  EXPECT_TRUE(peer_->Frames("call_hold").empty());
  EXPECT_EQ(peer_->Frames("hello").size(), 1u);
  EXPECT_GE(TerminateLikePlugin(), 0);
}

TEST_F(WriterTest, HeartbeatsFollowTheLoginFifteenSecondsApart) {
  StartConnected();
  ASSERT_TRUE(peer_->WaitForCount("heartbeat", 3));
  const auto frames = peer_->Frames();
  // Only the login and heartbeats: an idle connection carries nothing else.
  ASSERT_EQ(frames.front().Value("command"), "hello");
  std::int64_t previous = frames.front().atMs;
  for (std::size_t i = 1; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].Value("command"), "heartbeat");
    // Fifteen (scaled) seconds on a one-second tick, at least 14 of them, seen at the
    // peer: one frame delivered late on a loaded machine may shorten the next gap by
    // its delay, which the margin below allows for.
    EXPECT_GE(frames[i].atMs - previous, qmos::ScaledMs(12000)) << i;
    previous = frames[i].atMs;
  }
  EXPECT_GE(TerminateLikePlugin(), 0);
}

TEST_F(WriterTest, AnOrdinaryEndQueuesAQuitAndStopsTheWorkers) {
  StartConnected();
  const std::weak_ptr<vantiro::WriteThread> writer = thread_->Writer();
  const std::weak_ptr<vantiro::ReadThread> reader = thread_->Reader();
  ASSERT_FALSE(writer.expired());
  ASSERT_FALSE(reader.expired());
  thread_->Terminate();
  ASSERT_TRUE(thread_->WaitFor(20000));
  EXPECT_TRUE(Traced("PluginThread::sendQUIT(): Sending QUIT packet"));
  EXPECT_TRUE(Traced("PluginThread::Execute(): Got \"writeThreadTerminatedEvent\" signal"));
  EXPECT_TRUE(Traced("PluginThread::Execute(): Disconnected from the multiplexor, thread exiting"));
  EXPECT_TRUE(WaitUntil([&] { return writer.expired() && reader.expired(); }));
}

TEST_F(WriterTest, AnAbortSendsNoQuit) {
  StartConnected();
  EXPECT_GE(TerminateLikePlugin(), 0);
  EXPECT_FALSE(Traced("Sending QUIT packet"));
  EXPECT_TRUE(Traced("PluginThread::Execute(): Got \"writeThreadTerminatedEvent\" signal"));
  // A second abort (the host handing ours back) publishes nothing more.
  thread_->AbortConnection();
  EXPECT_EQ(host_.Count("mc_logged_out"), 1);
}

TEST_F(WriterTest, ADroppedConnectionIsReportedAndTheSupervisorStartsOver) {
  StartConnected();
  const std::weak_ptr<vantiro::WriteThread> firstWriter = thread_->Writer();
  const std::weak_ptr<vantiro::ReadThread> firstReader = thread_->Reader();
  const std::string firstHelloId = peer_->Frames("hello").front().Value("id");
  peer_->DropConnections();
  // The reader sees the end of the stream, or the next heartbeat fails: either way
  // the drop is reported, both workers go and the supervisor logs in anew.
  ASSERT_TRUE(peer_->WaitForCount("hello", 2));
  EXPECT_GE(host_.Count("mc_logged_out", &kEmptyData), 1);
  EXPECT_TRUE(Traced("WriteThread::Execute(): SSL_write() failed, rc=") ||
              Traced("ReadThread::Execute(): Socket seems to be closed.  Exiting thread"));
  EXPECT_TRUE(Traced("PluginThread::RetryConnection(): At start"));
  EXPECT_TRUE(WaitUntil([&] { return firstWriter.expired() && firstReader.expired(); }));
  EXPECT_NE(thread_->Writer().get(), nullptr);
  // Nothing of the old connection stays in the sent-packet table.
  {
    const auto sent = vantiro::State().SentPackets();
    qmos::CriticalSectionGuard guard(sent->lock);
    int count = 0;
    EXPECT_EQ(HT_get_binary(sent->table, firstHelloId.c_str(), &count), nullptr);
  }
  EXPECT_GE(TerminateLikePlugin(), 0);
}

}  // namespace
}  // namespace connection_test
