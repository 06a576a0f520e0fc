// WriteThread: the only thread that writes to a connection to the multiplexor. The
// send operations queue packets and set somethingToWriteEvent; the writer gives each
// packet its id, frames it, records it in the sent-packet table and writes it, one
// TLS write per frame. One wake-up drains the whole queue, in queue order.
//
// Lifetime: held by shared ownership (the running thread keeps itself alive); the
// supervisor records it as a std::weak_ptr and the writer holds the supervisor the
// same way, and the connection by std::shared_ptr. The writer ends when its
// terminate flag is set (it wakes at once) or after a failed write.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "connection/sent_packets.h"
#include "packet.h"
#include "qmos/critical_section.h"
#include "qmos/event.h"
#include "qmos/thread.h"

namespace vantiro {

class PluginThread;
class TlsConnection;

class WriteThread : public qmos::TThread {
 public:
  // The caller starts it: qmos::TThread::StartNew<WriteThread>(connection, supervisor).
  // The writer waits on the supervisor's somethingToWriteEvent (without a supervisor,
  // on the process state's, or on one of its own).
  WriteThread(std::shared_ptr<TlsConnection> connection, std::weak_ptr<PluginThread> supervisor);
  // Destroys the packets still queued.
  ~WriteThread() override;

  // Appends the packet to the queue; the writer owns it from now on. A null packet
  // is ignored.
  void QueuePacket(PACKET packet);
  // Takes the first queued packet off the queue (the caller owns it); null when the
  // queue is empty.
  PACKET NextPacket();
  // Destroys every queued packet.
  void PurgeQueue();
  // How many packets wait (diagnostics and tests).
  std::size_t QueuedCount() const;

  // The event that wakes this writer.
  const std::shared_ptr<qmos::Event>& SomethingToWriteEvent() const { return somethingToWrite_; }

 protected:
  void Execute() override;
  // Wakes the writer so that it sees its terminate flag at once.
  void TerminatedSet() override;

 private:
  // Waits until the event is set or the flag is set; also wakes when packets wait
  // (a wake-up meant for this writer may have been taken by an earlier one).
  void WaitForSomethingToWrite();
  // Frames, records and writes one packet; false when the write failed and the
  // writer must end.
  bool WritePacket(PACKET packet);
  void EndAfterFailedWrite(PACKET packet, int rc);

  std::shared_ptr<TlsConnection> connection_;
  std::weak_ptr<PluginThread> supervisor_;
  std::shared_ptr<qmos::Event> somethingToWrite_;

  mutable qmos::CriticalSection queueLock;  // guards queue_
  std::deque<PACKET> queue_;                // first in, first out
};

// A copy of a frame's text that is safe to trace: everything after "password:" is
// replaced by one line feed. *blanked (when given) tells whether "password:" was
// found; an empty text is never blanked.
std::string BlankPassword(const std::string& text, bool* blanked = nullptr);
// The same blanking without trace lines of its own.
std::string WithoutPassword(std::string_view text, bool* blanked = nullptr);

}  // namespace vantiro
