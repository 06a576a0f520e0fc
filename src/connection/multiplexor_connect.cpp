// PluginThread's TLS operations: one connection attempt to the multiplexor in four
// named steps (the trust from the registry, the address, the TCP connect, the TLS
// handshake), the trace lines of every way an attempt can fail, and taking the
// connection down. TLS itself lives in src/tls.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "qmos/paths.h"
#include "qmos/registry.h"
#include "qmos/time_scale.h"
#include "tls/tls_connection.h"

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

// Keeps the library's verdict; a certificate it refuses is traced with its issuer.
int verify_callback(int preverify_ok, x509_store_ctx_st* store) {
  if (preverify_ok == 0) {
    Trace("verify_callback(): SSL handshake problem with certificate from [%s]",
          tls::CurrentIssuer(store).c_str());
  }
  return preverify_ok;
}

}  // namespace

PluginThread::~PluginThread() = default;  // the connection and the context go with the last reference

bool PluginThread::GetCACertificate() {
  std::string value;
  bool readable = true;
  std::string reason;
  if (std::optional<qmos::RegKey> key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey, true)) {
    const qmos::RegResult read = key->ReadString("CACertificate", value);
    if (read != qmos::RegResult::Ok) value.clear();
    if (read == qmos::RegResult::Error) readable = qmos::RegCheckFile(reason);
  } else {
    // Missing and not creatable (a registry we may not write holds no CA), or a
    // registry that cannot be read at all.
    readable = qmos::RegCheckFile(reason);
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    caCertificate_ = value;
  }
  Trace("PluginThread::GetCACertificate(): caCertificate=[%s]", value.c_str());
  if (!readable) Trace("PluginThread::GetCACertificate(): The settings cannot be read: %s", reason.c_str());
  return readable;
}

tls::Context PluginThread::initialize_ctx(const std::string& path) {
  // The registry names the file in Windows form.
  const tls::ClientContext made = tls::MakeClientContext(qmos::FromWindowsPath(path), &verify_callback);
  switch (made.trust) {
    case tls::Trust::Verified:
      Trace("PluginThread::initialize_ctx(): SSL_CTX_load_verify_locations() returned successfully");
      break;
    case tls::Trust::NotConfigured:
      // No trust file named: the peer is not verified, and the attempt goes on.
      Trace("PluginThread::initialize_ctx(): SSL initialization failure - Trust file [%s] not available!",
            path.c_str());
      Trace("PluginThread::initialize_ctx(): Skipping verification callback");
      break;
    case tls::Trust::FileUnusable:
      // A trust file is named but cannot be used: never a connection without it.
      Trace("PluginThread::initialize_ctx(): SSL initialization failure - Trust file [%s] not available!",
            path.c_str());
      Trace("PluginThread::initialize_ctx(): The trust file cannot be used (%s), so no connection is made",
            made.reason.c_str());
      break;
    case tls::Trust::NoContext:
      Trace("PluginThread::initialize_ctx(): No TLS context: %s", made.reason.c_str());
      break;
  }
  return made.ctx;
}

void PluginThread::FreeContext() {
  tls::Context ctx;  // freed after the lock is left
  std::lock_guard<std::mutex> guard(mutex_);
  ctx.swap(ctx_);
}

bool PluginThread::ConnectToMultiplexor() {
  ConnectFailure failure;
  try {
    if (AttemptConnection(failure)) return true;
  } catch (...) {
    failure = ConnectFailure{ConnectFailure::Step::Unexpected, 0, "unexpected error"};
  }
  // The result is recorded before the failure is traced: whoever reads the trace
  // finds the attempt's outcome already in place.
  if (failure.step >= ConnectFailure::Step::Connect) lastConnectResult_ = -1;
  TraceConnectFailure(failure);
  FreeContext();
  return false;
}

bool PluginThread::AttemptConnection(ConnectFailure& failure) {
  Trace("PluginThread::ConnectToMultiplexor(): Entering");
  tls::Context ctx = LoadTrust(failure);
  if (!ctx) return false;
  qmos::Ipv4Address target;
  if (!ResolveAddress(target, failure)) return false;
  qmos::Socket socket;
  if (!ConnectTcp(target, socket, failure)) return false;
  std::shared_ptr<TlsConnection> connection = Handshake(ctx, std::move(socket), failure);
  if (!connection) return false;

  Trace("PluginThread::ConnectToMultiplexor(): Connected OK");
  std::shared_ptr<TlsConnection> previous;  // released after the lock is left
  {
    std::lock_guard<std::mutex> guard(mutex_);
    previous = std::exchange(connection_, std::move(connection));
  }
  if (previous) previous->Shutdown();
  return true;
}

tls::Context PluginThread::LoadTrust(ConnectFailure& failure) {
  const bool readable = GetCACertificate();
  Trace("PluginThread::ConnectToMultiplexor(): After calling GetCACertificate()");
  if (!readable) {
    failure = ConnectFailure{ConnectFailure::Step::Registry, 0, ""};
    return nullptr;
  }
  // This attempt keeps its own reference, so a Disconnect on another thread cannot
  // free the context under it.
  tls::Context ctx;
  std::string caCertificate;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    ctx = ctx_;
    caCertificate = caCertificate_;
  }
  if (ctx) {
    Trace("PluginThread::ConnectToMultiplexor() We shouldn't get here...ctx!=NULL");
    return ctx;
  }
  ctx = initialize_ctx(caCertificate);
  if (!ctx) {
    failure = ConnectFailure{ConnectFailure::Step::Context, 0, ""};
    return nullptr;
  }
  std::lock_guard<std::mutex> guard(mutex_);
  ctx_ = ctx;
  return ctx;
}

bool PluginThread::ResolveAddress(qmos::Ipv4Address& target, ConnectFailure& failure) {
  // A text starting with a letter is a host name; anything else is taken as a dotted
  // address, which yields no usable address when it is not one, so the connect fails.
  const std::string address = MultiplexorAddress();
  if (!address.empty() && IsLetter(address.front())) {
    const std::string name = TrimBlanks(address);
    int code = 0;
    if (!LookUpHostName(name, target, code)) {
      failure = ConnectFailure{ConnectFailure::Step::Lookup, code, ""};
      return false;
    }
    Trace("PluginThread::ConnectToMultiplexor(): After calling gethostbyname(%s)", name.c_str());
  } else {
    target.value = ntohl(::inet_addr(address.c_str()));
    Trace("PluginThread::ConnectToMultiplexor(): After calling inet_addr(%s)", address.c_str());
  }
  return true;
}

bool PluginThread::ConnectTcp(const qmos::Ipv4Address& target, qmos::Socket& socket,
                              ConnectFailure& failure) {
  // Bounded, and ended early when the supervisor is told to stop.
  std::string error;
  int number = 0;
  const qmos::ConnectStatus status =
      socket.Connect(target, MultiplexorPort(), ConnectTimeoutMs(), [this] { return StopRequested(); },
                     error, &number);
  switch (status) {
    case qmos::ConnectStatus::Connected:
      lastConnectResult_ = 0;
      return true;
    case qmos::ConnectStatus::NoSocket:
      failure = ConnectFailure{ConnectFailure::Step::Socket, number, error};
      return false;
    default:
      failure = ConnectFailure{ConnectFailure::Step::Connect, number, error};
      return false;
  }
}

std::shared_ptr<TlsConnection> PluginThread::Handshake(const tls::Context& ctx, qmos::Socket socket,
                                                       ConnectFailure& failure) {
  // Bounded and cancellable like the connect.
  TlsOpenFailure opened;
  std::shared_ptr<TlsConnection> connection = TlsConnection::Open(
      ctx.get(), std::move(socket), ConnectTimeoutMs(), [this] { return StopRequested(); }, opened);
  if (connection) return connection;
  const ConnectFailure::Step step = opened.step == TlsOpenFailure::Step::NewConnection ? ConnectFailure::Step::NewConnection
                                    : opened.step == TlsOpenFailure::Step::NewBio      ? ConnectFailure::Step::NewBio
                                                                                       : ConnectFailure::Step::Handshake;
  failure = ConnectFailure{step, static_cast<int>(opened.error), opened.errorText};
  return nullptr;
}

std::uint32_t PluginThread::ConnectTimeoutMs() {
  return static_cast<std::uint32_t>(qmos::ScaledMs(kConnectTimeoutMs));
}

void PluginThread::TraceConnectFailure(const ConnectFailure& failure) {
  const char* text = failure.text.c_str();
  switch (failure.step) {
    case ConnectFailure::Step::Registry:
      Trace("PluginThread::ConnectToMultiplexor(): The settings cannot be read, so the server "
            "cannot be verified: not connecting");
      break;
    case ConnectFailure::Step::Context:
      Trace("PluginThread::ConnectToMultiplexor(): After initialize_ctx() : Unable to create a "
            "CTX/SSL Certificate");
      break;
    case ConnectFailure::Step::Lookup:
      Trace("PluginThread::ConnectToMultiplexor(): gethostbyname() failed, h_errno=[%d]", failure.code);
      break;
    case ConnectFailure::Step::Socket:
      Trace("PluginThread::ConnectToMultiplexor(): socket() failed, LastError = %d", failure.code);
      break;
    case ConnectFailure::Step::Connect:
      Trace("PluginThread::ConnectToMultiplexor(): connect() failed, LastError = %d", failure.code);
      break;
    case ConnectFailure::Step::NewConnection:
      Trace("PluginThread::ConnectToMultiplexor(): SSL_new(ctx) error = %d", failure.code);
      Trace("PluginThread::ConnectToMultiplexor(): SSL_new(ctx) errString = %s", text);
      break;
    case ConnectFailure::Step::NewBio:
      Trace("PluginThread::ConnectToMultiplexor(): BIO_new_socket() error = %d", failure.code);
      Trace("PluginThread::ConnectToMultiplexor(): BIO_new_socket() errString = %s", text);
      break;
    case ConnectFailure::Step::Handshake:
      Trace("PluginThread::ConnectToMultiplexor(): SSL connection failed SSL Error = %d", failure.code);
      Trace("PluginThread::ConnectToMultiplexor(): SSL connection Error String = %s", text);
      break;
    case ConnectFailure::Step::Unexpected:
      Trace("PluginThread::ConnectToMultiplexor(): Unexpected error during the attempt");
      break;
  }
}

void PluginThread::Disconnect() {
  std::shared_ptr<TlsConnection> connection;
  tls::Context ctx;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    connection.swap(connection_);
    ctx.swap(ctx_);
  }
  // Close notice and socket shut down now; the TLS object and the descriptor are
  // freed when the writer and the reader have let go of them too.
  if (connection) connection->Shutdown();
}

void PluginThread::ShutDownConnection() {
  if (const std::shared_ptr<TlsConnection> connection = Connection()) connection->Shutdown();
}

}  // namespace vantiro
