// The reader's loop: waits for the socket, reads one frame at a time (from the bytes
// already received when they hold it) and hands each packet to ProcessPacket
// (received_packets.cpp).
#include "connection/ReadThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

#include "connection/packet_handle.h"
#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "frame.h"
#include "qmos/clock.h"
#include "qmos/time_scale.h"
#include "tls/tls_connection.h"

namespace vantiro {

namespace {

// How long one readiness wait lasts: it bounds how late the terminate flag is seen.
constexpr std::int64_t kReadinessWaitMs = 1000;
// A frame that has begun must go on arriving: when no byte of it comes for this long
// (scaled), the read counts as failed.
constexpr std::int64_t kFrameStallMs = 60000;
// The body's buffer grows as its bytes arrive, by at least this much at a time and
// at most doubling, so memory follows what was received, not what was announced.
constexpr std::size_t kFirstBodyChunk = 65536;
// How much of a received body its trace line shows.
constexpr std::size_t kMaxTracedBody = 65536;
// One TLS read asks for this much: a whole record's text (16 KiB at most), so that
// the frames that came in one record are read with one call.
constexpr std::size_t kReadChunk = 16384;
// The longest single wait while a frame is coming in (scaled), as the connection's
// own waits: how soon the terminate flag is seen.
constexpr std::int64_t kStepMs = 100;

}  // namespace

ReadThread::ReadThread(std::shared_ptr<TlsConnection> connection, std::weak_ptr<PluginThread> supervisor)
    : connection_(std::move(connection)), supervisor_(std::move(supervisor)) {
  SetFreeOnTerminate(true);
}

ReadThread::~ReadThread() = default;

void ReadThread::Execute() {
  if (!connection_) return;
  while (!Terminated()) {
    // A frame already in inbox_ is taken at once. Otherwise the socket is waited for
    // first (WaitReadable answers at once when the TLS layer holds bytes the socket
    // no longer shows: decrypted ones or whole records read ahead), so that the
    // connection's lock, which the writer needs for every write, is not held by a
    // read that finds nothing.
    if (InboxSize() == 0) {
      const qmos::WaitStatus ready =
          connection_->WaitReadable(static_cast<std::uint32_t>(qmos::ScaledMs(kReadinessWaitMs)));
      if (Terminated() || ready == qmos::WaitStatus::Timeout) continue;
      // Ready, or a failed wait, whose cause the read reports.
    }

    std::string body;
    const FrameRead read = ReadFrame(body);
    if (read == FrameRead::NothingYet) continue;
    if (read == FrameRead::Failed) {
      ReadFailed();
      return;
    }
    // The text up to its end or a stray NUL byte, as a text.
    PacketHandle packet(PH_create(body.c_str(), static_cast<int>(std::strlen(body.c_str()))));
    try {
      ProcessPacket(packet.get());
    } catch (const std::exception& error) {
      Trace("ReadThread::ProcessPacket(): Unexpected error: %s", error.what());
    } catch (...) {
      Trace("ReadThread::ProcessPacket(): Unexpected error");
    }
    packet.reset();  // before the next frame is read
  }
  Trace("ReadThread::Execute(): Starting thread termination");
  if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) supervisor->SignalReadThreadTerminated(this);
}

ReadThread::FrameRead ReadThread::ReadFrame(std::string& body) {
  const auto stallMs = static_cast<std::uint32_t>(qmos::ScaledMs(kFrameStallMs));
  bool stalled = false;
  // The socket may have been readable for the TLS layer alone (a session ticket):
  // until the first byte of a frame has come, the loop goes on waiting.
  if (InboxSize() == 0) {
    const TlsIo first = ReadOnce();
    if (first == TlsIo::WouldBlock) return FrameRead::NothingYet;
    if (first != TlsIo::Done) return FrameRead::Failed;
  }
  while (InboxSize() < kFramePrefixSize) {
    if (!ReadMore(stallMs, &stalled)) return FrameStalled(stalled);
  }
  const std::optional<std::size_t> length =
      ParseFramePrefix(std::string_view(inbox_.data() + inboxStart_, kFramePrefixSize));
  if (!length) {
    Trace("ReadThread::Execute(): The length prefix is not eight digits and a line feed");
    return FrameRead::Failed;
  }
  Trace("ReadThread::Execute(): Receiving a packet of [%d] bytes", static_cast<int>(*length));

  std::string buffer;
  if (InboxSize() - kFramePrefixSize >= *length) {
    // The whole frame is here already; the frames after it stay where they are.
    buffer.assign(inbox_, inboxStart_ + kFramePrefixSize, *length);
    inboxStart_ += kFramePrefixSize + *length;
  } else {
    // The body's beginning is here; the rest is read exactly, so nothing of the next
    // frame is read with it.
    buffer.assign(inbox_, inboxStart_ + kFramePrefixSize);
    inbox_.clear();
    inboxStart_ = 0;
    const StopCheck stop = [this] { return Terminated(); };
    std::size_t done = buffer.size();
    while (done < *length) {
      const std::size_t chunk = std::min(*length - done, std::max(kFirstBodyChunk, done));
      try {
        buffer.resize(done + chunk);
      } catch (const std::exception&) {
        Trace("ReadThread::Execute(): Cannot allocate [%d] bytes", static_cast<int>(done + chunk));
        return FrameRead::Failed;
      }
      if (!connection_->ReadExact(buffer.data() + done, chunk, stallMs, stop, &stalled)) {
        return FrameStalled(stalled);
      }
      done += chunk;
    }
  }
  // The body is traced as text, blanked: no password reaches the trace log. A huge
  // body is traced by its beginning only, so that one frame cannot hold every thread
  // that traces while it is written.
  if (TraceEnabled()) {
    const std::string_view text(buffer.data(), std::min(buffer.size(), kMaxTracedBody));
    Trace("ReadThread::Execute(): Received [%s] bytes", WithoutPassword(text).c_str());
  }
  body = std::move(buffer);
  return FrameRead::Frame;
}

TlsIo ReadThread::ReadOnce() {
  // What was taken goes first, in one move per read rather than one per frame.
  inbox_.erase(0, inboxStart_);
  inboxStart_ = 0;
  readChunk_.resize(kReadChunk);
  std::size_t got = 0;
  const TlsIo io = connection_->Read(readChunk_.data(), readChunk_.size(), got);
  if (io == TlsIo::Done) inbox_.append(readChunk_.data(), got);
  return io;
}

bool ReadThread::ReadMore(std::uint32_t stallMs, bool* stalled) {
  *stalled = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(stallMs);
  for (;;) {
    const TlsIo io = ReadOnce();
    if (io == TlsIo::Done) return true;
    if (io != TlsIo::WouldBlock || Terminated()) return false;
    const std::int64_t left = qmos::MsLeft(deadline);
    if (left == 0) {
      *stalled = true;
      return false;
    }
    const auto step = static_cast<std::uint32_t>(std::min(left, qmos::ScaledMs(kStepMs)));
    if (connection_->WaitReadable(step) == qmos::WaitStatus::Error) return false;
  }
}

ReadThread::FrameRead ReadThread::FrameStalled(bool stalled) {
  if (stalled) {
    Trace("ReadThread::Execute(): No byte of the frame came for %d ms.  Giving up the connection",
          static_cast<int>(qmos::ScaledMs(kFrameStallMs)));
  }
  return FrameRead::Failed;
}

void ReadThread::ReadFailed() {
  if (Terminated()) return;  // told to end: the failed read is the shut-down socket
  Trace("ReadThread::Execute(): Socket seems to be closed.  Exiting thread");
  if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) supervisor->WorkerFoundConnectionDown(1);
}

}  // namespace vantiro
