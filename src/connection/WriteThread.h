// WriteThread: the only thread that writes to a connection to the multiplexor. The
// send operations queue packets and set somethingToWriteEvent; the writer gives each
// packet its id, frames it, records it in the sent-packet table and writes it.
#pragma once

#include <memory>

#include "packet.h"
#include "qmos/thread.h"

namespace vantiro {

class PluginThread;
class TlsConnection;

class WriteThread : public qmos::TThread {
 public:
  // The caller starts it: qmos::TThread::StartNew<WriteThread>(connection, supervisor).
  WriteThread(std::shared_ptr<TlsConnection> connection, std::weak_ptr<PluginThread> supervisor);
  ~WriteThread() override;

  // Appends the packet to the queue; the writer owns it from now on.
  void QueuePacket(PACKET packet);
  // Destroys every queued packet.
  void PurgeQueue();

 protected:
  void Execute() override;
};

// The sent-packet table of the process (see plugin/process_state.h).
void AddSentPacket(PACKET packet);
void RemoveSentPacket(PACKET packet);
void ClearSentPackets();

// A copy of a frame's text that is safe to trace: everything after "password:" is cut.
std::string BlankPassword(const std::string& text);

}  // namespace vantiro
