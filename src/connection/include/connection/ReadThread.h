// ReadThread: the receiving side of one connection to the multiplexor. It reads one
// frame at a time (ReadThread.cpp) and hands each packet to ProcessPacket
// (received_packets.cpp), which tells answers to the plug-in's requests (by id,
// through the sent-packet table) from the multiplexor's own notices.
//
// Threads: Execute and ProcessPacket run on the reader's own thread; the failure
// notices, the login prompt and ChangeCaption run on the main thread through
// Synchronize while the reader waits. The reader holds its connection by shared
// ownership and its supervisor weakly: "the reader has a supervisor" means the weak
// reference still locks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "packet.h"
#include "qmos/thread.h"

namespace vantiro {

class PluginThread;
class TlsConnection;
struct SentPacketRecord;
enum class FailureNotice;
enum class TlsIo;

class ReadThread : public qmos::TThread {
 public:
  // The caller starts it: qmos::TThread::StartNew<ReadThread>(connection, supervisor).
  ReadThread(std::shared_ptr<TlsConnection> connection, std::weak_ptr<PluginThread> supervisor);
  ~ReadThread() override;

  // Acts on one received packet; runs on the reader's thread. A null packet is
  // ignored.
  void ProcessPacket(PACKET packet);

  // Republishes a command packet on a host queue: every field but "id", "profile"
  // and "command", in the packet's order.
  void RelayToHostQueue(PACKET packet, const std::string& queue);

  // Shows "Now Validating Password" with growing dots in the host's caption. Runs on
  // the main thread.
  void ChangeCaption();

  // Asks the user for a valid profile, password and server after the multiplexor
  // refused the password, and writes what changed back into the host settings. OK
  // restarts the connection with them; "E&xit" records that the user left the prompt
  // ("mc_profile" "11") and ends the connection for good. Runs on the main thread;
  // the reader ends after it either way.
  void PromptUserForValidPassword();

 protected:
  void Execute() override;

 private:
  // What the read loop does after a packet.
  enum class AfterPacket { Continue, EndReader };

  enum class FrameRead {
    Frame,       // body holds the text
    NothingYet,  // no byte of a frame has come: wait again
    Failed,      // the connection failed or ended, the frame stalled, the prefix is
                 // not eight digits, or the body cannot be allocated
  };
  // Reads one frame: from the bytes already received when they hold it, otherwise
  // with more reads. Its body's buffer grows as the bytes arrive.
  FrameRead ReadFrame(std::string& body);
  // Appends what one TLS read gives (at most one record) to inbox_, waiting for the
  // socket when nothing has come yet; false when the stream ended or failed, when no
  // byte came for stallMs (*stalled) or when the reader was told to end.
  bool ReadMore(std::uint32_t stallMs, bool* stalled);
  // One TLS read into readChunk_, appended to inbox_ after what was already taken
  // is dropped.
  TlsIo ReadOnce();
  // The end of a frame that could not be read in full; traces a stall.
  FrameRead FrameStalled(bool stalled);
  // The end of a failed read: silent after termination, otherwise the connection
  // is reported down.
  void ReadFailed();

  AfterPacket ProcessAnswer(PACKET packet, const SentPacketRecord& record);
  AfterPacket ProcessLoginAnswer(const char* result);
  AfterPacket ProcessCommand(PACKET packet);
  AfterPacket ProcessRejection(PACKET packet);
  void PublishLookupForValidation();

  // Runs fn on the main thread and waits. When the host no longer serves its queue
  // (shutdown), fn does not run: for a notice that counts as the box being closed.
  void OnMainThread(const std::function<void()>& fn);
  void ShowNotice(FailureNotice notice);
  // AbortConnection on the supervisor, when the reader still has one and has not
  // been told to end.
  void AbortIfStillRunning();

  std::shared_ptr<PluginThread> Supervisor() const { return supervisor_.lock(); }
  void Publish(const std::string& queue, const std::string& data);

  const std::shared_ptr<TlsConnection> connection_;
  const std::weak_ptr<PluginThread> supervisor_;
  // Bytes received and not yet taken as a frame: the rest of the last TLS record read
  // (at most a record and part of a prefix). Frames that came together in one record
  // are taken from here without another TLS call.
  // Frames are taken by moving inboxStart_; the bytes before it are dropped at the
  // next read.
  std::string inbox_;
  std::size_t inboxStart_ = 0;
  std::size_t InboxSize() const { return inbox_.size() - inboxStart_; }
  std::vector<char> readChunk_;  // what one read gives, before it joins inbox_
};

}  // namespace vantiro
