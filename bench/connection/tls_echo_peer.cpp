#include "tls_echo_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace bench {

namespace {

// A self-signed EC P-256 certificate for "localhost", valid for a day.
void UseThrowAwayCertificate(SSL_CTX* ctx) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  if (key == nullptr || cert == nullptr) throw std::runtime_error("cannot make a key");
  X509_set_version(cert, X509_VERSION_3);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
  X509_set_issuer_name(cert, name);
  if (X509_sign(cert, key, EVP_sha256()) == 0 || SSL_CTX_use_certificate(ctx, cert) != 1 ||
      SSL_CTX_use_PrivateKey(ctx, key) != 1) {
    throw std::runtime_error("cannot use the certificate");
  }
  X509_free(cert);
  EVP_PKEY_free(key);
}

// The value of "name:" at the start of a line of text, or empty.
std::string FieldOf(const std::string& text, const std::string& name) {
  const std::string key = name + ":";
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::size_t stop = end == std::string::npos ? text.size() : end;
    if (text.compare(at, key.size(), key) == 0) return text.substr(at + key.size(), stop - at - key.size());
    at = stop + 1;
  }
  return {};
}

// A frame: eight digits of length, a line feed, the text.
std::string Frame(const std::string& text) {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "%08d\n", static_cast<int>(text.size()));
  return prefix + text;
}

}  // namespace

TlsEchoPeer::TlsEchoPeer() {
  ctx_ = SSL_CTX_new(TLS_server_method());
  if (ctx_ == nullptr) throw std::runtime_error("SSL_CTX_new failed");
  UseThrowAwayCertificate(ctx_);

  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

TlsEchoPeer::~TlsEchoPeer() {
  stop_ = true;
  shutdown(listener_, SHUT_RDWR);
  DropClients();
  acceptor_.join();
  for (const auto& client : clients_) client->thread.join();
  close(listener_);
  SSL_CTX_free(ctx_);
}

Clock::time_point TlsEchoPeer::LastArrival() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastArrival_;
}

bool TlsEchoPeer::WaitReceived(std::uint64_t count, Clock::time_point& at,
                               std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  awaited_ = count;
  if (!arrived_.wait_for(lock, timeout, [&] { return Received() >= count; })) return false;
  at = lastArrival_;
  return true;
}

std::string TlsEchoPeer::LastFrame(const std::string& command) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [c, text] : lastByCommand_)
    if (c == command) return text;
  return {};
}

void TlsEchoPeer::DropClients() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& client : clients_)
    if (client->fd >= 0) shutdown(client->fd, SHUT_RDWR);
}

void TlsEchoPeer::ReapEndedLocked() {
  for (auto it = clients_.begin(); it != clients_.end();) {
    if ((*it)->fd < 0 && (*it)->thread.joinable()) {
      // Its thread has closed the socket and is leaving: joining waits a moment at most.
      (*it)->thread.join();
      it = clients_.erase(it);
    } else {
      ++it;
    }
  }
}

void TlsEchoPeer::Accept() {
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 200) <= 0) continue;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // Answers go out at once: with Nagle's rule an answer written while the previous
    // one is unacknowledged would wait for the client's delayed acknowledgement.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    accepted_.fetch_add(1, std::memory_order_acq_rel);
    std::lock_guard<std::mutex> lock(mutex_);
    // Many reconnects must not pile up finished threads.
    ReapEndedLocked();
    auto client = std::make_unique<Client>();
    client->fd = fd;
    Client* raw = client.get();
    clients_.push_back(std::move(client));
    raw->thread = std::thread([this, raw] { Serve(raw); });
  }
}

void TlsEchoPeer::Serve(Client* client) {
  int fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);  // the thread member is set under the lock
    fd = client->fd;
  }
  SSL* ssl = SSL_new(ctx_);
  SSL_set_fd(ssl, fd);
  // Frames that come together are read together: the peer must not be what limits
  // a client's rate.
  SSL_set_read_ahead(ssl, 1);
  if (SSL_accept(ssl) == 1) {
    std::string body;
    std::uint64_t notices = 0;
    for (char prefix[9]; !stop_ && ReadAll(ssl, prefix, sizeof prefix);) {
      const long length = std::strtol(std::string(prefix, 8).c_str(), nullptr, 10);
      if (prefix[8] != '\n' || length < 0 || length > 1000000) break;
      body.resize(static_cast<std::size_t>(length));
      if (!ReadAll(ssl, body.data(), body.size())) break;
      // The frame and its arrival are recorded before it is answered: whoever has the
      // answer finds them (LastFrame, LastArrival).
      const std::string command = FieldOf(body, "command");
      {
        std::lock_guard<std::mutex> lock(mutex_);
        lastArrival_ = Clock::now();
        bool known = false;
        for (auto& [c, text] : lastByCommand_)
          if (c == command) { text = body; known = true; }
        if (!known) lastByCommand_.emplace_back(command, body);
      }
      // Answered before it is counted, so a counted frame's answer is on its way.
      const std::string id = FieldOf(body, "id");
      if (!id.empty()) {
        std::string answer = Frame("id:" + id + "\nresult:ok\n");
        if (noticeAfterAnswer_) answer += Frame("id:mux-" + std::to_string(++notices) + "\ncommand:activity\n");
        if (SSL_write(ssl, answer.data(), static_cast<int>(answer.size())) != static_cast<int>(answer.size())) break;
      }
      bool reached = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        reached = received_.fetch_add(1, std::memory_order_acq_rel) + 1 >= awaited_;
      }
      // Only the frame a waiter waits for wakes it (see WaitReceived).
      if (reached) arrived_.notify_all();
      if (command == "hello" && onLogin_) onLogin_();
      if (command == "quit") break;
    }
  }
  SSL_shutdown(ssl);
  SSL_free(ssl);
  std::lock_guard<std::mutex> lock(mutex_);
  shutdown(fd, SHUT_RDWR);
  // The descriptor is closed once no one can shut it down any more.
  client->fd = -1;
  close(fd);
}

bool ReadAll(SSL* ssl, char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const int n = SSL_read(ssl, data + done, static_cast<int>(size - done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace bench
