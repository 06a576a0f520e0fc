// ReadThread: the receiving side of one connection to the multiplexor. It reads one
// frame at a time and hands each packet to ProcessPacket, which tells answers to the
// plug-in's requests (by id, through the sent-packet table) from the multiplexor's
// own notices.
#pragma once

#include <memory>

#include "packet.h"
#include "qmos/thread.h"

namespace vantiro {

class PluginThread;
class TlsConnection;

class ReadThread : public qmos::TThread {
 public:
  // The caller starts it: qmos::TThread::StartNew<ReadThread>(connection, supervisor).
  ReadThread(std::shared_ptr<TlsConnection> connection, std::weak_ptr<PluginThread> supervisor);
  ~ReadThread() override;

  // Acts on one received packet; runs on the reader's thread.
  void ProcessPacket(PACKET packet);

 protected:
  void Execute() override;
};

}  // namespace vantiro
