// A multiplexor stand-in for the writer's tests: a TLS server on 127.0.0.1 (port
// picked by the system) that records every frame the plug-in sends, as packets with
// their fields in order, and can drop all its connections on request. Also a direct
// TLS client connection to it, for tests that drive a writer without a supervisor.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tls_test_server.h"

namespace vantiro {
class TlsConnection;
}

namespace connection_test {

using Fields = std::vector<std::pair<std::string, std::string>>;

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

class FramePeer {
 public:
  explicit FramePeer(const TestPki& pki);
  ~FramePeer();
  FramePeer(const FramePeer&) = delete;
  FramePeer& operator=(const FramePeer&) = delete;

  std::uint16_t Port() const { return port_; }
  int Handshakes() const { return handshakes_; }

  std::vector<ReceivedFrame> Frames() const;
  // The frames whose "command" is command.
  std::vector<ReceivedFrame> Frames(const std::string& command) const;
  // Waits until pred(frames) holds, at most ms; returns whether it did.
  bool WaitFor(const std::function<bool(const std::vector<ReceivedFrame>&)>& pred, int ms = 20000) const;
  bool WaitForCount(const std::string& command, std::size_t count, int ms = 20000) const;
  // False when a frame prefix was malformed.
  bool StreamsWellFormed() const { return !badStream_; }

  // Ends every connection accepted so far, from the server's side.
  void DropConnections();

 private:
  void Accept();
  void Serve(int fd, int index);

  void* ctx_ = nullptr;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> handshakes_{0};
  std::atomic<int> dropGeneration_{0};
  std::atomic<bool> badStream_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<ReceivedFrame> frames_;
  std::vector<std::thread> threads_;
  int accepted_ = 0;
};

// A TLS client connection to 127.0.0.1:port that accepts any server certificate.
std::shared_ptr<vantiro::TlsConnection> ConnectTo(std::uint16_t port);

}  // namespace connection_test
