// A multiplexor stand-in: a TLS server on 127.0.0.1 (port picked by the system) that
// records every frame the plug-in sends, as packets with their fields in order, and
// can drop all its connections on request.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "testsupport/packet_fields.h"
#include "testsupport/tls_server.h"

namespace testsupport {

struct ReceivedFrame {
  int connection = 0;  // 1 for the first connection accepted, and so on
  std::string text;    // the frame's text, without its length prefix
  Fields fields;       // parsed, in packet order
  std::int64_t atMs = 0;  // when it arrived (qmos::MonotonicMs)

  // The value of a field, or "<absent>".
  std::string Value(const std::string& name) const;
  // The field names in order.
  std::vector<std::string> Names() const;
};

class FramePeer : public LoopbackTlsServer {
 public:
  explicit FramePeer(const TestPki& pki);
  ~FramePeer() override;

  std::vector<ReceivedFrame> Frames() const;
  // The frames whose "command" is command.
  std::vector<ReceivedFrame> Frames(const std::string& command) const;
  // Waits until pred(frames) holds, at most ms; returns whether it did.
  bool WaitFor(const std::function<bool(const std::vector<ReceivedFrame>&)>& pred, int ms = 20000) const;
  bool WaitForCount(const std::string& command, std::size_t count, int ms = 20000) const;
  // False when a frame prefix was malformed.
  bool StreamsWellFormed() const { return !badStream_; }

 private:
  void Serve(SSL* ssl, int index, const std::function<bool()>& held) override;

  std::atomic<bool> badStream_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<ReceivedFrame> frames_;  // under mutex_
};

}  // namespace testsupport
