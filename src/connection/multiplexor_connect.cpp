// PluginThread's TLS operations: one connection attempt to the multiplexor in four
// named steps (the trust from the registry, the address, the TCP connect, the TLS
// handshake), the trace lines of every way an attempt can fail, and taking the
// connection down. The steps are the TLS client's (src/tls), which the mailbox
// server's client takes too; the supervisor adds its own traces, keeps its context
// between attempts, reads the address by its own rule and can be stopped.

#include <string_view>
#include <utility>

#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "qmos/secure_clear.h"
#include "qmos/time_scale.h"
#include "tls/tls_client_connect.h"
#include "tls/tls_connection.h"

namespace vantiro {

namespace {

// The longest a TCP connect and, separately, a TLS handshake may take.
constexpr std::int64_t kConnectTimeoutMs = 10000;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string TrimSpacesAndTabs(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return std::string(text);
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

// The connection and the context go with the last reference.
PluginThread::~PluginThread() { qmos::SecureClear(password_); }

bool PluginThread::GetCACertificate() {
  // Read without creating the key: a connect never writes the registry.
  const tls::TrustSetting setting = tls::ReadTrustSetting();
  {
    std::lock_guard<std::mutex> guard(mutex_);
    caCertificate_ = setting.caCertificate;
  }
  Trace("PluginThread::GetCACertificate(): caCertificate=[%s]", setting.caCertificate.c_str());
  if (!setting.readable)
    Trace("PluginThread::GetCACertificate(): The settings cannot be read: %s", setting.reason.c_str());
  return setting.readable;
}

tls::Context PluginThread::initialize_ctx(const std::string& path) {
  const tls::ClientContext made = tls::MakeTrustContext(tls::TrustSetting{true, path, {}}, &verify_callback);
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
  std::shared_ptr<TlsConnection> connection = ConnectAndHandshake(ctx, target, failure);
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
    const std::string name = TrimSpacesAndTabs(address);
    tls::ClientConnectFailure lookup;
    if (!tls::ResolveServer(name, target, lookup)) {
      failure = ConnectFailure{ConnectFailure::Step::Lookup, lookup.code, lookup.text};
      return false;
    }
    Trace("PluginThread::ConnectToMultiplexor(): After calling gethostbyname(%s)", name.c_str());
  } else {
    target = qmos::Ipv4FromDottedText(address);
    Trace("PluginThread::ConnectToMultiplexor(): After calling inet_addr(%s)", address.c_str());
  }
  return true;
}

std::shared_ptr<TlsConnection> PluginThread::ConnectAndHandshake(const tls::Context& ctx,
                                                                 const qmos::Ipv4Address& target,
                                                                 ConnectFailure& failure) {
  // Each bounded, and ended early when the supervisor is told to stop.
  tls::ClientConnectFailure made;
  std::shared_ptr<TlsConnection> connection =
      tls::ConnectAddress(ctx, target, MultiplexorPort(), ConnectTimeoutMs(), ConnectTimeoutMs(),
                          [this] { return StopRequested(); }, made);
  if (connection) {
    lastConnectResult_ = 0;
    return connection;
  }
  using Step = ConnectFailure::Step;
  Step step = Step::Connect;
  switch (made.step) {
    case tls::ClientConnectFailure::Step::Socket: step = Step::Socket; break;
    case tls::ClientConnectFailure::Step::Handshake:
      step = made.tlsStep == TlsOpenFailure::Step::NewConnection ? Step::NewConnection
             : made.tlsStep == TlsOpenFailure::Step::NewBio      ? Step::NewBio
                                                                 : Step::Handshake;
      break;
    default: break;
  }
  failure = ConnectFailure{step, made.code, made.text};
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
