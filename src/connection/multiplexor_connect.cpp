// PluginThread's TLS operations: the CA file from the registry, the client context
// that verifies the server against it, one connection attempt (name lookup, TCP
// connect, TLS handshake) and taking the connection down.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "connection/PluginThread.h"
#include "connection/TlsConnection.h"
#include "diag/trace_log.h"
#include "plugin/process_state.h"
#include "qmos/paths.h"
#include "qmos/registry.h"
#include "qmos/socket.h"
#include "qmos/time_scale.h"

namespace vantiro {

namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Quillmere\\Viewer\\Settings";
// The longest a TCP connect and, separately, a TLS handshake may take.
constexpr std::int64_t kConnectTimeoutMs = 10000;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

// The first IPv4 address of a host name. False with the resolver's code otherwise.
bool LookUpHostName(const std::string& name, qmos::Ipv4Address& address, int& code) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  code = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (code != 0) return false;
  bool ok = false;
  for (const addrinfo* entry = found; entry != nullptr && !ok; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addr != nullptr &&
        entry->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in in{};
      std::memcpy(&in, entry->ai_addr, sizeof in);
      address.value = ntohl(in.sin_addr.s_addr);
      ok = true;
    }
  }
  ::freeaddrinfo(found);
  if (!ok) code = EAI_NODATA;
  return ok;
}

// The system error number at the end of a qmos socket error text ("... (111)").
int ErrorNumberOf(const std::string& text, int fallback) {
  const std::size_t open = text.rfind('(');
  if (open == std::string::npos || text.empty() || text.back() != ')') return fallback;
  int number = 0;
  bool any = false;
  for (std::size_t i = open + 1; i + 1 < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9' || number > 100000) return fallback;
    number = number * 10 + (text[i] - '0');
    any = true;
  }
  return any ? number : fallback;
}

}  // namespace

PluginThread::~PluginThread() {
  // The connection and the context go with the last reference to them.
  if (errorBio_ != nullptr) BIO_free(errorBio_);
}

void PluginThread::GetCACertificate() {
  std::string value;
  if (std::optional<qmos::RegKey> key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, true)) {
    if (key->ReadString("CACertificate", value) != qmos::RegResult::Ok) value.clear();
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    caCertificate_ = value;
  }
  Trace("PluginThread::GetCACertificate(): caCertificate=[%s]", value.c_str());
}

ssl_ctx_st* PluginThread::initialize_ctx(const std::string& path) {
  if (errorBio_ == nullptr) {
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    errorBio_ = BIO_new_fp(stderr, BIO_NOCLOSE);
    ++libraryInitCount_;
  }
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) {
    ERR_clear_error();
    return nullptr;
  }
  // The registry names the file in Windows form.
  const std::string file = qmos::FromWindowsPath(path);
  if (!file.empty() && SSL_CTX_load_verify_locations(ctx, file.c_str(), nullptr) == 1) {
    Trace("PluginThread::initialize_ctx(): SSL_CTX_load_verify_locations() returned successfully");
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, &PluginThread::verify_callback);
  } else {
    // No trust file: the context keeps the library's default of no peer
    // verification, and the attempt goes on.
    Trace("PluginThread::initialize_ctx(): SSL initialization failure - Trust file [%s] not available!",
          path.c_str());
    Trace("PluginThread::initialize_ctx(): Skipping verification callback");
  }
  ERR_clear_error();
  return ctx;
}

int PluginThread::verify_callback(int preverify_ok, x509_store_ctx_st* store) {
  if (preverify_ok == 0) {
    char data[256] = {};
    X509* certificate = store != nullptr ? X509_STORE_CTX_get_current_cert(store) : nullptr;
    if (certificate != nullptr) X509_NAME_oneline(X509_get_issuer_name(certificate), data, sizeof data);
    Trace("verify_callback(): SSL handshake problem with certificate from [%s]", data);
  }
  return preverify_ok;
}

void PluginThread::FreeContext() {
  std::shared_ptr<ssl_ctx_st> ctx;  // freed after the lock is left
  std::lock_guard<std::mutex> guard(mutex_);
  ctx.swap(ctx_);
}

bool PluginThread::ConnectToMultiplexor() {
  try {
    return AttemptConnection();
  } catch (...) {
    FreeContext();
    return false;
  }
}

bool PluginThread::AttemptConnection() {
  Trace("PluginThread::ConnectToMultiplexor(): Entering");
  GetCACertificate();
  Trace("PluginThread::ConnectToMultiplexor(): After calling GetCACertificate()");

  // The context; this attempt keeps its own reference, so a Disconnect on another
  // thread cannot free it under us.
  std::shared_ptr<ssl_ctx_st> ctx;
  std::string caCertificate;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    ctx = ctx_;
    caCertificate = caCertificate_;
  }
  if (!ctx) {
    ssl_ctx_st* made = initialize_ctx(caCertificate);
    if (made == nullptr) {
      Trace("PluginThread::ConnectToMultiplexor(): After initialize_ctx() : Unable to create a "
            "CTX/SSL Certificate");
      return false;
    }
    ctx.reset(made, [](ssl_ctx_st* p) { SSL_CTX_free(p); });
    std::lock_guard<std::mutex> guard(mutex_);
    ctx_ = ctx;
  } else {
    Trace("PluginThread::ConnectToMultiplexor() We shouldn't get here...ctx!=NULL");
  }

  // The address: a text starting with a letter is a host name; anything else is
  // taken as a dotted address, which yields no usable address when it is not one, so
  // the connect fails.
  const std::string address = MultiplexorAddress();
  const std::uint16_t port = MultiplexorPort();
  qmos::Ipv4Address target;
  if (!address.empty() && IsLetter(address.front())) {
    const std::string name = TrimBlanks(address);
    int code = 0;
    if (!LookUpHostName(name, target, code)) {
      Trace("PluginThread::ConnectToMultiplexor(): gethostbyname() failed, h_errno=[%d]", code);
      FreeContext();
      return false;
    }
    Trace("PluginThread::ConnectToMultiplexor(): After calling gethostbyname(%s)", name.c_str());
  } else {
    target.value = ntohl(::inet_addr(address.c_str()));
    Trace("PluginThread::ConnectToMultiplexor(): After calling inet_addr(%s)", address.c_str());
  }

  // The TCP connect, bounded and ended early when the supervisor is told to stop.
  const StopCheck stop = [this] { return StopRequested(); };
  const auto timeoutMs = static_cast<std::uint32_t>(qmos::ScaledMs(kConnectTimeoutMs));
  qmos::Socket socket;
  std::string error;
  const qmos::ConnectStatus status = socket.Connect(target, port, timeoutMs, stop, error);
  if (status == qmos::ConnectStatus::Failed && error.rfind("socket:", 0) == 0) {
    Trace("PluginThread::ConnectToMultiplexor(): socket() failed, LastError = %d",
          ErrorNumberOf(error, -1));
    FreeContext();
    return false;
  }
  if (status != qmos::ConnectStatus::Connected) {
    lastConnectResult_ = -1;
    const int fallback = status == qmos::ConnectStatus::TimedOut    ? ETIMEDOUT
                         : status == qmos::ConnectStatus::Cancelled ? ECANCELED
                                                                    : -1;
    Trace("PluginThread::ConnectToMultiplexor(): connect() failed, LastError = %d",
          ErrorNumberOf(error, fallback));
    FreeContext();
    return false;
  }
  lastConnectResult_ = 0;

  // TLS over the socket: the handshake is bounded and cancellable like the connect.
  TlsOpenFailure failure;
  std::shared_ptr<TlsConnection> connection =
      TlsConnection::Open(ctx.get(), std::move(socket), timeoutMs, stop, failure);
  if (!connection) {
    lastConnectResult_ = -1;
    const int code = static_cast<int>(failure.error);
    switch (failure.step) {
      case TlsOpenFailure::Step::NewConnection:
        Trace("PluginThread::ConnectToMultiplexor(): SSL_new(ctx) error = %d", code);
        Trace("PluginThread::ConnectToMultiplexor(): SSL_new(ctx) errString = %s", failure.errorText.c_str());
        break;
      case TlsOpenFailure::Step::NewBio:
        Trace("PluginThread::ConnectToMultiplexor(): BIO_new_socket() error = %d", code);
        Trace("PluginThread::ConnectToMultiplexor(): BIO_new_socket() errString = %s",
              failure.errorText.c_str());
        break;
      default:
        Trace("PluginThread::ConnectToMultiplexor(): SSL connection failed SSL Error = %d", code);
        Trace("PluginThread::ConnectToMultiplexor(): SSL connection Error String = %s",
              failure.errorText.c_str());
        break;
    }
    FreeContext();
    return false;
  }
  Trace("PluginThread::ConnectToMultiplexor(): Connected OK");
  std::shared_ptr<TlsConnection> previous;  // released after the lock is left
  {
    std::lock_guard<std::mutex> guard(mutex_);
    previous = std::exchange(connection_, std::move(connection));
  }
  if (previous) previous->Shutdown();
  return true;
}

void PluginThread::Disconnect() {
  std::shared_ptr<TlsConnection> connection;
  std::shared_ptr<ssl_ctx_st> ctx;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    connection.swap(connection_);
    ctx.swap(ctx_);
  }
  // Close notice and socket shut down now; the TLS object and the descriptor are
  // freed when the writer and the reader have let go of them too.
  if (connection) connection->Shutdown();
}

}  // namespace vantiro
