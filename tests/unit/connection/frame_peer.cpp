#include "frame_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <stdexcept>

#include "connection/TlsConnection.h"
#include "frame.h"
#include "packet.h"
#include "qmos/clock.h"
#include "qmos/socket.h"

namespace connection_test {

std::string ReceivedFrame::Value(const std::string& name) const {
  for (const auto& field : fields)
    if (field.first == name) return field.second;
  return "<absent>";
}

std::vector<std::string> ReceivedFrame::Names() const {
  std::vector<std::string> names;
  for (const auto& field : fields) names.push_back(field.first);
  return names;
}

namespace {

Fields Parse(const std::string& text) {
  Fields fields;
  PACKET packet = PH_create(text.data(), static_cast<int>(text.size()));
  int count = 0;
  const char** names = PH_fields(packet, &count);
  for (int i = 0; i < count; ++i) fields.emplace_back(names[i], PH_valueOf(packet, names[i]));
  PH_destroy(packet);
  return fields;
}

}  // namespace

FramePeer::FramePeer(const TestPki& pki) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr || SSL_CTX_use_certificate_file(ctx, pki.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, pki.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw std::runtime_error("cannot make the server context");
  }
  ctx_ = ctx;
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  threads_.emplace_back([this] { Accept(); });
}

FramePeer::~FramePeer() {
  stop_ = true;
  for (;;) {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      threads.swap(threads_);
    }
    if (threads.empty()) break;
    for (std::thread& thread : threads) thread.join();
  }
  ::close(listener_);
  SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

std::vector<ReceivedFrame> FramePeer::Frames() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return frames_;
}

std::vector<ReceivedFrame> FramePeer::Frames(const std::string& command) const {
  std::vector<ReceivedFrame> matching;
  for (const ReceivedFrame& frame : Frames())
    if (frame.Value("command") == command) matching.push_back(frame);
  return matching;
}

bool FramePeer::WaitFor(const std::function<bool(const std::vector<ReceivedFrame>&)>& pred,
                        int ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return pred(frames_); });
}

bool FramePeer::WaitForCount(const std::string& command, std::size_t count, int ms) const {
  return WaitFor(
      [&](const std::vector<ReceivedFrame>& frames) {
        std::size_t seen = 0;
        for (const ReceivedFrame& frame : frames)
          if (frame.Value("command") == command) ++seen;
        return seen >= count;
      },
      ms);
}

void FramePeer::DropConnections() { ++dropGeneration_; }

void FramePeer::Accept() {
  while (!stop_) {
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, 20) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> guard(mutex_);
    const int index = ++accepted_;
    threads_.emplace_back([this, fd, index] { Serve(fd, index); });
  }
}

// Handshake, then read frames until the client ends the connection, the test drops
// it or the peer stops. Reads time out every 20 ms to see those requests.
void FramePeer::Serve(int fd, int index) {
  const int generation = dropGeneration_;
  timeval step{0, 20000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &step, sizeof step);
  SSL* ssl = SSL_new(static_cast<SSL_CTX*>(ctx_));
  SSL_set_fd(ssl, fd);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int rc;
  while ((rc = SSL_accept(ssl)) <= 0 && SSL_get_error(ssl, rc) == SSL_ERROR_WANT_READ && !stop_ &&
         std::chrono::steady_clock::now() < deadline) {
  }
  if (rc > 0) {
    ++handshakes_;
    vantiro::FrameDecoder decoder;
    char buffer[4096];
    while (!stop_ && dropGeneration_ == generation) {
      const int got = SSL_read(ssl, buffer, sizeof buffer);
      if (got > 0) {
        decoder.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
        if (decoder.failed()) badStream_ = true;
        std::lock_guard<std::mutex> guard(mutex_);
        while (auto text = decoder.Pop()) frames_.push_back({index, *text, Parse(*text), qmos::MonotonicMs()});
        changed_.notify_all();
      } else if (SSL_get_error(ssl, got) != SSL_ERROR_WANT_READ) {
        break;
      }
    }
  }
  ERR_clear_error();
  SSL_free(ssl);
  ::close(fd);  // no close notice: the client's next writes fail
}

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

}  // namespace connection_test
