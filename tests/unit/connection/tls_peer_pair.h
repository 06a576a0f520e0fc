// One TLS connection over loopback whose server end the test drives: the client end
// is a TlsConnection (what the reader reads from); Send writes bytes to it as one
// TLS record, Close ends the connection.
#pragma once

#include <memory>
#include <string>

#include "connection/TlsConnection.h"
#include "tls_test_server.h"

namespace connection_test {

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

}  // namespace connection_test
