// The supervisor fixture plus what the writer needs: the packet library, a fresh
// sent-packet table, the login settings at the host and a recording TLS peer.
#pragma once

#include <algorithm>
#include <memory>
#include <string>

#include "connection/WriteThread.h"
#include "connection/sent_packets.h"
#include "packet.h"
#include "supervisor_fixture.h"
#include "testsupport/frame_peer.h"

namespace connection_test {

using testsupport::FramePeer;

class WriterTest : public SupervisorTest {
 protected:
  void SetUp() override {
    SupervisorTest::SetUp();
    PH_init();
    vantiro::State().SetSentPackets(std::make_shared<vantiro::SentPacketTable>());
    vantiro::State().SetSomethingToWriteEvent(qmos::Event::Create());
    host_.SetData("mc_profile", "4711");
    host_.SetData("mc_password", "98765");
    pki_ = std::make_unique<TestPki>(dir_, "peer", "Peer CA");
    peer_ = std::make_unique<FramePeer>(*pki_);
  }
  void TearDown() override {
    SupervisorTest::TearDown();
    // Writers started directly by a test end before the table goes.
    EXPECT_TRUE(WaitUntil([] { return qmos::TThread::RunningCount() == 0; }));
    peer_.reset();
    vantiro::State().SetSentPackets(nullptr);
    vantiro::State().SetSomethingToWriteEvent(nullptr);
  }

  // A supervisor connected to the peer, its login received.
  void StartConnected() {
    AnswerLookups("127.0.0.1", peer_->Port());
    Start();
    ASSERT_TRUE(peer_->WaitForCount("hello", 1));
  }

  // Counts the lines of the trace that contain text.
  int TraceCount(const std::string& text) const {
    const std::string all = TraceText();
    int count = 0;
    for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++count;
    return count;
  }

  std::unique_ptr<TestPki> pki_;
  std::unique_ptr<FramePeer> peer_;
};

// A packet as a send operation builds it.
inline PACKET MakePacket(const std::string& command, const std::string& extraName = "",
                         const std::string& extraValue = "") {
  PACKET packet = PH_create_empty();
  PH_add(packet, "profile", "4711");
  PH_add(packet, "password", "98765");
  PH_add(packet, "command", command.c_str());
  if (!extraName.empty()) PH_add(packet, extraName.c_str(), extraValue.c_str());
  return packet;
}

}  // namespace connection_test
