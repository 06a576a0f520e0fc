// TLS peers for the connection tests: certificates made in-process, a server on
// 127.0.0.1 with an OS-picked port that completes handshakes and holds (and, on
// request, echoes) each connection, and a listener that never answers a handshake.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace connection_test {

// A CA (self-signed) and a server certificate it signed, written as PEM files.
struct TestPki {
  // Writes <dir>/<name>-ca.pem, <name>-server.pem and <name>-server.key; the CA's
  // subject is "/CN=<caName>".
  TestPki(const std::string& dir, const std::string& name, const std::string& caName);
  std::string caFile, certFile, keyFile;
};

class TlsTestServer {
 public:
  TlsTestServer(const TestPki& pki, bool echo = false);
  ~TlsTestServer();
  std::uint16_t Port() const { return port_; }
  int Connections() const { return connections_; }  // accepted TCP connections
  int Handshakes() const { return handshakes_; }    // completed TLS handshakes
  int PeerClosed() const { return peerClosed_; }    // connections the client ended

 private:
  void Accept();
  void Serve(int fd);

  void* ctx_ = nullptr;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  bool echo_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0}, handshakes_{0}, peerClosed_{0};
  std::mutex mutex_;
  std::vector<std::thread> threads_;
};

// Listens and never accepts: a TCP connect succeeds, the TLS handshake never does.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  std::uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace connection_test
