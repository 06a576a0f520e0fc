#include "testsupport/tls_client.h"

#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

#include "qmos/socket.h"
#include "testsupport/tls_server.h"

namespace testsupport {

std::shared_ptr<vantiro::TlsConnection> ConnectTo(std::uint16_t port) {
  qmos::IgnoreBrokenPipeSignal();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  qmos::Socket socket;
  std::string error;
  qmos::Ipv4Address loopback;
  loopback.value = INADDR_LOOPBACK;
  std::shared_ptr<vantiro::TlsConnection> connection;
  if (socket.Connect(loopback, port, 10000, {}, error) == qmos::ConnectStatus::Connected) {
    vantiro::TlsOpenFailure failure;
    connection = vantiro::TlsConnection::Open(ctx, std::move(socket), 10000, {}, failure);
  }
  SSL_CTX_free(ctx);  // the connection keeps its own reference
  return connection;
}

TlsPeerPair::TlsPeerPair(const TestPki& pki) {
  SSL_CTX* serverCtx = MakeServerContext(pki);
  serverCtx_ = serverCtx;
  std::uint16_t port = 0;
  const int listener = ListenOnLoopback(port);
  qmos::Socket socket;
  std::string error;
  const qmos::ConnectStatus connected =
      socket.Connect(qmos::Ipv4Address{0x7F000001}, port, 5000, {}, error);
  serverFd_ = connected == qmos::ConnectStatus::Connected ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : -1;
  ::close(listener);
  if (serverFd_ < 0) throw std::runtime_error("cannot connect over loopback: " + error);

  SSL* server = SSL_new(serverCtx);
  server_ = server;
  SSL_set_fd(server, serverFd_);
  std::thread accept([server] { SSL_accept(server); });
  SSL_CTX* clientCtx = SSL_CTX_new(TLS_client_method());
  vantiro::TlsOpenFailure failure;
  client_ = vantiro::TlsConnection::Open(clientCtx, std::move(socket), 5000, {}, failure);
  accept.join();
  SSL_CTX_free(clientCtx);  // the connection keeps its own reference
}

TlsPeerPair::~TlsPeerPair() {
  Close();
  client_.reset();
  SSL_free(static_cast<SSL*>(server_));
  SSL_CTX_free(static_cast<SSL_CTX*>(serverCtx_));
  ERR_clear_error();
}

bool TlsPeerPair::Send(const std::string& bytes) {
  if (serverFd_ < 0) return false;
  return SSL_write(static_cast<SSL*>(server_), bytes.data(), static_cast<int>(bytes.size())) ==
         static_cast<int>(bytes.size());
}

void TlsPeerPair::Close() {
  if (serverFd_ < 0) return;
  SSL_shutdown(static_cast<SSL*>(server_));
  ::close(serverFd_);
  serverFd_ = -1;
}

}  // namespace testsupport
