// TLS servers for tests on 127.0.0.1 with a port the system picks: a base that
// accepts connections and completes handshakes, each connection on a thread of its
// own; a server that holds (and, on request, echoes) each connection; and a listener
// that never answers a handshake.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/test_pki.h"

namespace testsupport {

// A listening socket on 127.0.0.1; port receives the port the system picked.
// Throws when it cannot listen.
int ListenOnLoopback(std::uint16_t& port);

// A server context presenting the PKI's server certificate. Throws on failure.
SSL_CTX* MakeServerContext(const TestPki& pki);

class LoopbackTlsServer {
 public:
  LoopbackTlsServer(const LoopbackTlsServer&) = delete;
  LoopbackTlsServer& operator=(const LoopbackTlsServer&) = delete;

  std::uint16_t Port() const { return port_; }
  int Connections() const { return connections_; }  // accepted TCP connections
  int Handshakes() const { return handshakes_; }    // completed TLS handshakes

  // Ends every connection accepted so far, from the server's side, without a close
  // notice: the client's next writes fail.
  void DropConnections() { ++dropGeneration_; }

 protected:
  explicit LoopbackTlsServer(const TestPki& pki);
  // Derived classes call Stop() in their destructors, before their own members go.
  virtual ~LoopbackTlsServer();

  // Starts accepting; called by the derived class's constructor when it is ready.
  void Start();
  // Stops accepting and ends every connection; returns when all threads ended.
  void Stop();

  // Runs on the connection's thread after a completed handshake; returns when the
  // connection is to end. The socket's reads time out every 20 ms; held() turns false
  // when the server stops or drops the connection. index counts connections from 1.
  virtual void Serve(SSL* ssl, int index, const std::function<bool()>& held) = 0;

 private:
  void Accept();
  void Connection(int fd, int index);

  SSL_CTX* ctx_ = nullptr;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0}, handshakes_{0}, dropGeneration_{0};
  std::mutex mutex_;
  std::vector<std::thread> threads_;  // under mutex_
};

// Completes handshakes and holds each connection (echoing what arrives when asked
// to) until the client ends it or the server stops.
class TlsTestServer : public LoopbackTlsServer {
 public:
  explicit TlsTestServer(const TestPki& pki, bool echo = false);
  ~TlsTestServer() override;
  int PeerClosed() const { return peerClosed_; }  // connections the client ended

 private:
  void Serve(SSL* ssl, int index, const std::function<bool()>& held) override;

  const bool echo_;
  std::atomic<int> peerClosed_{0};
};

// Listens and never accepts: a TCP connect succeeds, the TLS handshake never does.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  std::uint16_t Port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace testsupport
