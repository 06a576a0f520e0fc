#include "tls_peer_pair.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace connection_test {

TlsPeerPair::TlsPeerPair(const TestPki& pki) {
  SSL_CTX* serverCtx = SSL_CTX_new(TLS_server_method());
  serverCtx_ = serverCtx;
  if (serverCtx == nullptr ||
      SSL_CTX_use_certificate_file(serverCtx, pki.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(serverCtx, pki.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw std::runtime_error("cannot make the server context");
  }
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  qmos::Socket socket;
  std::string error;
  const qmos::ConnectStatus connected =
      socket.Connect(qmos::Ipv4Address{0x7F000001}, ntohs(address.sin_port), 5000, {}, error);
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

}  // namespace connection_test
