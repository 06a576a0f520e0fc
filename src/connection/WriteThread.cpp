#include "connection/WriteThread.h"

#include <stdexcept>
#include <string_view>
#include <utility>

#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "frame.h"
#include "qmos/secure_clear.h"
#include "qmos/time_scale.h"
#include "state/process_state.h"
#include "tls/tls_connection.h"

namespace vantiro {

namespace {

// How long one TLS write may wait for the socket; a write that cannot finish in this
// time counts as failed (the peer stopped reading).
constexpr std::int64_t kWriteTimeoutMs = 10000;
// The writer's wait has no limit of its own; it looks at its queue once per slice, in
// case the wake-up meant for it was taken by the writer of an earlier connection.
constexpr std::int64_t kWriterWaitSliceMs = 1000;

}  // namespace

WriteThread::WriteThread(std::shared_ptr<TlsConnection> connection,
                         std::weak_ptr<PluginThread> supervisor)
    : connection_(std::move(connection)), supervisor_(std::move(supervisor)) {
  SetFreeOnTerminate(true);
  if (const std::shared_ptr<PluginThread> owner = supervisor_.lock())
    somethingToWrite_ = owner->SomethingToWriteEvent();
  if (!somethingToWrite_) somethingToWrite_ = State().SomethingToWriteEvent();
  if (!somethingToWrite_) somethingToWrite_ = qmos::Event::Create();
}

WriteThread::~WriteThread() { PurgeQueue(); }

// ---------------------------------------------------------------------------
// The queue.

void WriteThread::QueuePacket(PACKET packet) {
  if (packet == nullptr) return;
  qmos::CriticalSectionGuard guard(queueLock);
  try {
    queue_.push_back(packet);
  } catch (...) {
    PH_destroy(packet);  // owned from the call on: never leaked
  }
}

PACKET WriteThread::NextPacket() {
  qmos::CriticalSectionGuard guard(queueLock);
  if (queue_.empty()) return nullptr;
  PACKET packet = queue_.front();
  queue_.pop_front();
  return packet;
}

void WriteThread::PurgeQueue() {
  std::deque<PACKET> purged;
  {
    qmos::CriticalSectionGuard guard(queueLock);
    purged.swap(queue_);
  }
  for (PACKET packet : purged) PH_destroy(packet);
}

std::size_t WriteThread::QueuedCount() const {
  qmos::CriticalSectionGuard guard(queueLock);
  return queue_.size();
}

// ---------------------------------------------------------------------------
// The thread.

void WriteThread::TerminatedSet() { somethingToWrite_->Set(); }

void WriteThread::WaitForSomethingToWrite() {
  const auto slice = static_cast<std::uint32_t>(qmos::ScaledMs(kWriterWaitSliceMs));
  while (!Terminated()) {
    if (somethingToWrite_->WaitFor(slice) == qmos::WaitResult::Signalled) return;
    if (QueuedCount() > 0) return;
  }
}

void WriteThread::Execute() {
  while (!Terminated()) {
    Trace("WriteThread::Execute(): Waiting for Something to Write(INFINITE)");
    WaitForSomethingToWrite();
    if (Terminated()) break;
    Trace("WriteThread::Execute(): Got a \"somethingToWriteEvent\" signal");
    while (!Terminated()) {
      PACKET packet = NextPacket();
      if (packet == nullptr) break;
      Trace("WriteThread::Execute(): Found a packet to write");
      if (Terminated()) {
        PH_destroy(packet);  // left unwritten; the writer owns it, so it goes
        break;
      }
      if (!WritePacket(packet)) return;
    }
  }
  Trace("WriteThread::Execute(): Starting thread termination");
  if (const std::shared_ptr<PluginThread> owner = supervisor_.lock())
    owner->SignalWriteThreadTerminated(this);
  // The wake-up may have been meant for a newer writer sharing the event: pass it on.
  somethingToWrite_->Set();
}

bool WriteThread::WritePacket(PACKET packet) {
  int length = 0;
  const char* text = PH_build_packet(packet, &length);
  if (text == nullptr || length < 0) {
    // No memory for the text: nothing can be written; the packet goes.
    PH_destroy(packet);
    return true;
  }

  // The frame: eight digits of length, a line feed, the text. A text too long for
  // the prefix cannot be framed; the packet goes unwritten.
  std::string frame;
  const qmos::ClearOnExit clearFrame(frame);  // it holds the password
  try {
    frame = EncodeFrame(std::string_view(text, static_cast<std::size_t>(length)));
  } catch (const std::length_error&) {
    Trace("WriteThread::Execute(): Packet of %d bytes too long for a frame, not written", length);
    PH_destroy(packet);
    return true;
  } catch (...) {
    Trace("WriteThread::Execute(): No memory to frame a packet of %d bytes, not written", length);
    PH_destroy(packet);
    return true;
  }

  if (TraceEnabled()) {
    // The frame in a trace line, blanked; the line before blanking is cleared.
    const auto blankedLine = [&frame](std::string_view prefix) {
      std::string line;
      const qmos::ClearOnExit clearLine(line);
      line.reserve(prefix.size() + frame.size() + 1);
      line.append(prefix).append(frame).append("]");
      return BlankPassword(line);
    };
    try {
      const std::string blanked = blankedLine("WriteThread::Execute(): Writing [");
      Trace("WriteThread::Execute(): After Blanking the password");
      Trace("%s", blanked.c_str());
    } catch (...) {
      Trace("WriteThread::Execute(): An Exception occurred while trying to blank the passowrd");
    }
    try {
      const std::string blanked = blankedLine("WriteThread::Execute(): Adding to Sent Packets....Writing [");
      Trace("%s", blanked.c_str());
    } catch (...) {
      Trace("WriteThread::Execute(): An Exception occurred while trying to blank the passowrd");
    }
  }
  if (Terminated()) {
    PH_destroy(packet);
    return true;  // the outer loops see the flag and end
  }

  AddSentPacket(packet);
  Trace("WriteThread::Execute(): Added to Sent Packets....Writing via SSL");

  int rc = 0;
  try {
    // A writer told to stop gives up a write that waits for the peer, as the
    // reader's read does.
    rc = connection_ ? connection_->Write(frame.data(), frame.size(),
                                          static_cast<std::uint32_t>(qmos::ScaledMs(kWriteTimeoutMs)),
                                          [this] { return Terminated(); })
                     : 0;
  } catch (...) {
    rc = 0;
  }
  if (rc <= 0) {
    EndAfterFailedWrite(packet, rc);
    return false;
  }
  try {
    PH_destroy(packet);
  } catch (...) {
    Trace("WriteThread::Excute() destroy packet impossible..Unexpected error");
  }
  return true;
}

void WriteThread::EndAfterFailedWrite(PACKET packet, int rc) {
  Trace("WriteThread::Execute(): SSL_write() failed, rc=%d.  Terminating thread", rc);
  RemoveSentPacket(packet);
  try {
    if (!Terminated()) {
      if (const std::shared_ptr<PluginThread> owner = supervisor_.lock())
        owner->WorkerFoundConnectionDown(2);
    }
  } catch (...) {
    Trace("WriteThread::Excute():Unexpected error when terminating thread..");
  }
  // The packet is ours whatever happened: destroyed also when the flag is set.
  PH_destroy(packet);
  // A writer told to end belongs to a connection already given up, whose records the
  // supervisor cleared; the table may by now hold the next connection's.
  if (Terminated()) {
    Trace("WriteThread::Execute(): Told to end: the sent packets are left alone");
  } else if (const std::shared_ptr<SentPacketTable> sent = State().SentPackets()) {
    qmos::CriticalSectionGuard guard(sent->lock);
    ClearSentPackets();  // takes the (re-entrant) lock again
  }
  // Whoever waits for this writer to end need not wait out its bound.
  if (const std::shared_ptr<PluginThread> owner = supervisor_.lock())
    owner->SignalWriteThreadTerminated(this);
}

// ---------------------------------------------------------------------------

std::string BlankPassword(const std::string& text, bool* blanked) {
  Trace("WriteThread::BlankPassword(): Blanking Password");
  bool found = false;
  std::string result = WithoutPassword(text, &found);
  if (found) Trace("WriteThread::BlankPassword(): Blanked Password");
  if (blanked != nullptr) *blanked = found;
  return result;
}

std::string WithoutPassword(std::string_view text, bool* blanked) {
  const std::size_t key = text.find("password:");
  const bool found = key != std::string_view::npos;
  if (blanked != nullptr) *blanked = found;
  const std::size_t after = key + 9;  // just past the key's own colon
  if (!found || after >= text.size()) return std::string(text);
  // Only what comes before the password is copied.
  std::string result(text.substr(0, after));
  result.push_back('\n');
  return result;
}

}  // namespace vantiro
