// Client ends of the plug-in's own TLS connection object for tests: a connection to
// a loopback server, and one loopback connection whose server end the test drives.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tls/tls_connection.h"
#include "testsupport/test_pki.h"

namespace testsupport {

// A TLS client connection to 127.0.0.1:port that accepts any server certificate;
// null when it cannot be made.
std::shared_ptr<vantiro::TlsConnection> ConnectTo(std::uint16_t port);

// One TLS connection over loopback: the client end is a TlsConnection (what the
// plug-in reads from); Send writes bytes to it as one TLS record, Close ends the
// connection.
class TlsPeerPair {
 public:
  explicit TlsPeerPair(const TestPki& pki);
  ~TlsPeerPair();
  TlsPeerPair(const TlsPeerPair&) = delete;
  TlsPeerPair& operator=(const TlsPeerPair&) = delete;

  // Null when the connection could not be made.
  std::shared_ptr<vantiro::TlsConnection> Client() const { return client_; }
  // Writes bytes in one TLS record (at most 16 KB); false when the write failed.
  bool Send(const std::string& bytes);
  // Sends the close notice and closes the server's socket.
  void Close();

 private:
  void* serverCtx_ = nullptr;
  void* server_ = nullptr;  // the server's SSL object
  int serverFd_ = -1;
  std::shared_ptr<vantiro::TlsConnection> client_;
};

}  // namespace testsupport
