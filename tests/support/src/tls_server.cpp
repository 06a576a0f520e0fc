#include "testsupport/tls_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace testsupport {

int ListenOnLoopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(fd, 16) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

SSL_CTX* MakeServerContext(const TestPki& pki) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr || SSL_CTX_use_certificate_file(ctx, pki.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, pki.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(ctx);
    throw std::runtime_error("cannot make the server context");
  }
  return ctx;
}

LoopbackTlsServer::LoopbackTlsServer(const TestPki& pki) : ctx_(MakeServerContext(pki)) {
  try {
    listener_ = ListenOnLoopback(port_);
  } catch (...) {
    SSL_CTX_free(ctx_);
    throw;
  }
}

LoopbackTlsServer::~LoopbackTlsServer() {
  Stop();
  ::close(listener_);
  SSL_CTX_free(ctx_);
}

void LoopbackTlsServer::Start() {
  std::lock_guard<std::mutex> guard(mutex_);
  threads_.emplace_back([this] { Accept(); });
}

void LoopbackTlsServer::Stop() {
  stop_ = true;
  // Connection threads the accepting thread starts meanwhile join in a later round.
  for (;;) {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      threads.swap(threads_);
    }
    if (threads.empty()) break;
    for (std::thread& thread : threads) thread.join();
  }
}

void LoopbackTlsServer::Accept() {
  while (!stop_) {
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, 20) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int index = ++connections_;
    std::lock_guard<std::mutex> guard(mutex_);
    threads_.emplace_back([this, fd, index] { Connection(fd, index); });
  }
}

// Handshake, then the derived class's service until the client ends the connection,
// the test drops it or the server stops. Reads time out every 20 ms to see those.
void LoopbackTlsServer::Connection(int fd, int index) {
  const int generation = dropGeneration_;
  timeval step{0, 20000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &step, sizeof step);
  SSL* ssl = SSL_new(ctx_);
  SSL_set_fd(ssl, fd);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int rc;
  while ((rc = SSL_accept(ssl)) <= 0 && SSL_get_error(ssl, rc) == SSL_ERROR_WANT_READ && !stop_ &&
         std::chrono::steady_clock::now() < deadline) {
  }
  if (rc > 0) {
    ++handshakes_;
    Serve(ssl, index, [this, generation] { return !stop_ && dropGeneration_ == generation; });
  }
  ERR_clear_error();
  SSL_free(ssl);
  ::close(fd);
}

TlsTestServer::TlsTestServer(const TestPki& pki, bool echo) : LoopbackTlsServer(pki), echo_(echo) {
  Start();
}

TlsTestServer::~TlsTestServer() { Stop(); }

void TlsTestServer::Serve(SSL* ssl, int, const std::function<bool()>& held) {
  char buffer[4096];
  while (held()) {
    const int got = SSL_read(ssl, buffer, sizeof buffer);
    if (got > 0) {
      if (echo_) SSL_write(ssl, buffer, got);
    } else if (SSL_get_error(ssl, got) != SSL_ERROR_WANT_READ) {
      ++peerClosed_;
      break;
    }
  }
}

SilentListener::SilentListener() { fd_ = ListenOnLoopback(port_); }

SilentListener::~SilentListener() { ::close(fd_); }

}  // namespace testsupport
