#include "tls_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace connection_test {

namespace {

X509* MakeCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                      EVP_PKEY* issuerKey, bool isCa) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  static int serial = 1;
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer) : name);
  X509V3_CTX v3;
  X509V3_set_ctx(&v3, issuer != nullptr ? issuer : cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, NID_basic_constraints,
                                            isCa ? "critical,CA:TRUE" : "CA:FALSE");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  X509_sign(cert, issuerKey != nullptr ? issuerKey : key, EVP_sha256());
  return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  if (cert != nullptr) PEM_write_X509(file, cert);
  if (key != nullptr) PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(file);
}

int ListenOnLoopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(fd, 16) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

TestPki::TestPki(const std::string& dir, const std::string& name, const std::string& caName)
    : caFile(dir + "/" + name + "-ca.pem"),
      certFile(dir + "/" + name + "-server.pem"),
      keyFile(dir + "/" + name + "-server.key") {
  EVP_PKEY* caKey = EVP_EC_gen("P-256");
  EVP_PKEY* serverKey = EVP_EC_gen("P-256");
  X509* ca = MakeCertificate(caKey, caName, nullptr, nullptr, true);
  X509* server = MakeCertificate(serverKey, "localhost", ca, caKey, false);
  WritePem(caFile, ca, nullptr);
  WritePem(certFile, server, nullptr);
  WritePem(keyFile, nullptr, serverKey);
  X509_free(server);
  X509_free(ca);
  EVP_PKEY_free(serverKey);
  EVP_PKEY_free(caKey);
}

TlsTestServer::TlsTestServer(const TestPki& pki, bool echo) : echo_(echo) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  if (ctx == nullptr || SSL_CTX_use_certificate_file(ctx, pki.certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, pki.keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw std::runtime_error("cannot make the server context");
  }
  ctx_ = ctx;
  listener_ = ListenOnLoopback(port_);
  threads_.emplace_back([this] { Accept(); });
}

TlsTestServer::~TlsTestServer() {
  stop_ = true;
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
  {
    std::lock_guard<std::mutex> guard(mutex_);  // Serve threads started meanwhile
    for (std::thread& thread : threads_) thread.join();
  }
  ::close(listener_);
  SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
}

void TlsTestServer::Accept() {
  while (!stop_) {
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, 20) <= 0) continue;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    std::lock_guard<std::mutex> guard(mutex_);
    threads_.emplace_back([this, fd] { Serve(fd); });
  }
}

// Handshake, then hold the connection (echoing what arrives when asked to) until
// the client ends it or the server stops. Reads time out every 20 ms to see stop_.
void TlsTestServer::Serve(int fd) {
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
    char buffer[4096];
    while (!stop_) {
      const int got = SSL_read(ssl, buffer, sizeof buffer);
      if (got > 0) {
        if (echo_) SSL_write(ssl, buffer, got);
      } else if (SSL_get_error(ssl, got) != SSL_ERROR_WANT_READ) {
        ++peerClosed_;
        break;
      }
    }
  }
  ERR_clear_error();
  SSL_free(ssl);
  ::close(fd);
}

SilentListener::SilentListener() { fd_ = ListenOnLoopback(port_); }

SilentListener::~SilentListener() { ::close(fd_); }

}  // namespace connection_test
