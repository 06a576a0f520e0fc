#include "bare_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "tls_echo_peer.h"  // ReadAll

namespace bench {

BareClient::BareClient(std::uint16_t port) {
  ctx_ = SSL_CTX_new(TLS_client_method());
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (ctx_ == nullptr || fd_ < 0 ||
      connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("cannot connect to the peer");
  }
  ssl_ = SSL_new(ctx_);
  SSL_set_fd(ssl_, fd_);
  SSL_set_read_ahead(ssl_, 1);  // as the plug-in's connection reads
  if (SSL_connect(ssl_) != 1) throw std::runtime_error("TLS handshake with the peer failed");
}

BareClient::~BareClient() {
  if (ssl_ != nullptr) {
    SSL_shutdown(ssl_);
    SSL_free(ssl_);
  }
  if (fd_ >= 0) close(fd_);
  SSL_CTX_free(ctx_);
}

bool BareClient::WriteFrame(const std::string& text) {
  // Built like the plug-in's writer builds its frames: prefix and text in one buffer.
  std::vector<char> frame(text.size() + 128);
  const int n = std::snprintf(frame.data(), frame.size(), "%08d\n%s", static_cast<int>(text.size()),
                              text.c_str());
  return n > 0 && SSL_write(ssl_, frame.data(), n) == n;
}

bool BareClient::ReadFrame(std::string& text) {
  char prefix[9];
  if (!ReadAll(ssl_, prefix, sizeof prefix) || prefix[8] != '\n') return false;
  const long length = std::strtol(std::string(prefix, 8).c_str(), nullptr, 10);
  if (length < 0 || length > 1000000) return false;
  text.resize(static_cast<std::size_t>(length));
  return ReadAll(ssl_, text.data(), text.size());
}

}  // namespace bench
