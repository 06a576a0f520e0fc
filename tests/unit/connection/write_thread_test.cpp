// The writer against a recording TLS peer: order, records, traced copies without
// the password, the failed write, and the queue's own operations.
#include <gtest/gtest.h>

#include "connection/PluginThread.h"
#include "tls/tls_connection.h"
#include "qmos/clock.h"
#include "writer_fixture.h"

namespace connection_test {
namespace {

using vantiro::BlankPassword;
using vantiro::SentPacketRecord;
using vantiro::WriteThread;

// Ends a writer a test started and waits until its thread has let go of it.
void StopWriter(const std::shared_ptr<WriteThread>& writer) {
  writer->Terminate();
  EXPECT_TRUE(writer->WaitFor(20000));
}

TEST_F(WriterTest, PacketsQueuedBeforeOneSignalGoOutInOrderEachRecordedAndTracedWithoutPassword) {
  auto connection = ConnectTo(peer_->Port());
  ASSERT_TRUE(connection);
  auto writer = qmos::TThread::StartNew<WriteThread>(connection, std::weak_ptr<vantiro::PluginThread>());
  ASSERT_TRUE(writer);
  const std::int64_t before = qmos::WallClockMs() / 1000;
  writer->QueuePacket(MakePacket("call_hold", "seq", "1"));
  writer->QueuePacket(MakePacket("send_im", "seq", "2"));
  writer->QueuePacket(MakePacket("place_call", "seq", "3"));
  writer->SomethingToWriteEvent()->Set();

  ASSERT_TRUE(peer_->WaitFor([](const auto& frames) { return frames.size() == 3; }));
  const auto frames = peer_->Frames();
  EXPECT_TRUE(peer_->StreamsWellFormed());
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].Value("seq"), std::to_string(i + 1));
    // The writer's id comes first, then the fields as they were added.
    EXPECT_EQ(frames[i].Names(), (std::vector<std::string>{"id", "profile", "password", "command", "seq"}));
    ids.push_back(frames[i].Value("id"));
    SentPacketRecord record;
    ASSERT_TRUE(vantiro::LookUpSentPacket(ids.back(), record));
    EXPECT_EQ(std::string(record.command), frames[i].Value("command"));
    EXPECT_EQ(std::string(record.id), ids.back());
    EXPECT_GE(record.sentTime, before);
    EXPECT_LE(record.sentTime, qmos::WallClockMs() / 1000);
    EXPECT_LT(record.sentMillis, 1000);
  }
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_EQ(vantiro::SentPacketIds().size(), 3u);

  // Three packets: each traced twice, both copies cut after "password:".
  EXPECT_EQ(TraceCount("WriteThread::Execute(): Found a packet to write"), 3);
  EXPECT_EQ(TraceCount("WriteThread::Execute(): After Blanking the password"), 3);
  EXPECT_EQ(TraceCount("WriteThread::Execute(): Added to Sent Packets....Writing via SSL"), 3);
  EXPECT_TRUE(Traced("] WriteThread::Execute(): Writing [000000"));
  EXPECT_TRUE(Traced("\nprofile:4711\npassword:\n"));
  EXPECT_EQ(TraceCount("] WriteThread::Execute(): Adding to Sent Packets....Writing [000000"), 3);
  EXPECT_EQ(TraceText().find("98765"), std::string::npos);

  StopWriter(writer);
  EXPECT_TRUE(Traced("WriteThread::Execute(): Starting thread termination"));
}

TEST(BlankPassword, CutsEverythingAfterThePasswordKey) {
  bool blanked = true;
  EXPECT_EQ(BlankPassword("profile:1\ncommand:x\n", &blanked), "profile:1\ncommand:x\n");
  EXPECT_FALSE(blanked);
  EXPECT_EQ(BlankPassword("", &blanked), "");
  EXPECT_FALSE(blanked);
  EXPECT_EQ(BlankPassword("id:1\npassword:secret\ncommand:hello\n", &blanked), "id:1\npassword:\n");
  EXPECT_TRUE(blanked);
  EXPECT_EQ(BlankPassword("password:1"), "password:\n");
  // Nothing after the key: unchanged, yet it counts as blanked.
  EXPECT_EQ(BlankPassword("x password:", &blanked), "x password:");
  EXPECT_TRUE(blanked);
  // The first occurrence counts, whatever key it ends.
  EXPECT_EQ(BlankPassword("mc_password:5\npassword:6\n"), "mc_password:\n");
}

TEST_F(WriterTest, AFailedWriteEmptiesTheTableAndReportsTheConnectionDownOnce) {
  auto connection = ConnectTo(peer_->Port());
  ASSERT_TRUE(connection);
  // A supervisor object that never runs: it only receives the writer's report.
  auto supervisor = std::make_shared<vantiro::PluginThread>(&host_);
  auto writer = qmos::TThread::StartNew<WriteThread>(connection, supervisor);
  ASSERT_TRUE(writer);
  EXPECT_EQ(writer->SomethingToWriteEvent(), supervisor->SomethingToWriteEvent());
  PACKET earlier = MakePacket("call_hold");
  PH_build_packet(earlier, nullptr);
  vantiro::AddSentPacket(earlier);  // a request still unanswered
  PH_destroy(earlier);

  peer_->DropConnections();
  ASSERT_TRUE(WaitUntil([&] { return peer_->Handshakes() == 1; }));
  // The first writes after the peer went may still succeed; one soon fails.
  ASSERT_TRUE(WaitUntil(
      [&] {
        if (writer->Finished()) return true;
        writer->QueuePacket(MakePacket("heartbeat"));
        writer->SomethingToWriteEvent()->Set();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return writer->Finished();
      },
      20000ms));
  EXPECT_TRUE(Traced("WriteThread::Execute(): SSL_write() failed, rc="));
  EXPECT_TRUE(vantiro::SentPacketIds().empty());
  EXPECT_EQ(host_.Count("mc_logged_out"), 1);
  EXPECT_TRUE(Traced("PluginThread::multiplexorConnectionDown(): Connection down"));
  EXPECT_FALSE(Traced("WriteThread::Execute(): Starting thread termination"));
  // Packets queued after the failure stay queued, and go with the writer.
  EXPECT_TRUE(writer->WaitFor(20000));
}

TEST_F(WriterTest, APurgedQueueIsEmptyAndAStoppedWriterWritesNothing) {
  auto connection = ConnectTo(peer_->Port());
  ASSERT_TRUE(connection);
  auto idle = std::make_shared<WriteThread>(connection, std::weak_ptr<vantiro::PluginThread>());
  idle->QueuePacket(MakePacket("call_hold"));
  idle->QueuePacket(MakePacket("send_im"));
  idle->QueuePacket(nullptr);
  EXPECT_EQ(idle->QueuedCount(), 2u);
  idle->PurgeQueue();
  EXPECT_EQ(idle->QueuedCount(), 0u);
  EXPECT_EQ(idle->NextPacket(), nullptr);
  idle->QueuePacket(MakePacket("quit"));  // freed with the writer
  idle.reset();

  // Told to stop, a writer ends at once and leaves its queue unwritten.
  auto writer = qmos::TThread::StartNew<WriteThread>(connection, std::weak_ptr<vantiro::PluginThread>());
  ASSERT_TRUE(writer);
  writer->Terminate();
  writer->QueuePacket(MakePacket("quit"));
  writer->SomethingToWriteEvent()->Set();
  EXPECT_TRUE(writer->WaitFor(20000));
  EXPECT_TRUE(vantiro::SentPacketIds().empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(peer_->Frames().empty());
}

TEST_F(WriterTest, WithoutATableTheWriterStillWrites) {
  vantiro::State().SetSentPackets(nullptr);  // the plug-in gave it up
  auto connection = ConnectTo(peer_->Port());
  ASSERT_TRUE(connection);
  auto writer = qmos::TThread::StartNew<WriteThread>(connection, std::weak_ptr<vantiro::PluginThread>());
  writer->QueuePacket(MakePacket("heartbeat"));
  writer->SomethingToWriteEvent()->Set();
  EXPECT_TRUE(peer_->WaitForCount("heartbeat", 1));
  EXPECT_TRUE(vantiro::SentPacketIds().empty());
  StopWriter(writer);
}

}  // namespace
}  // namespace connection_test
