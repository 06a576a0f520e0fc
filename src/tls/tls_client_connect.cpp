#include "tls/tls_client_connect.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "qmos/clock.h"
#include "qmos/paths.h"
#include "qmos/registry.h"
#include "qmos/socket.h"

namespace vantiro::tls {

namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Quillmere\\Viewer\\Settings";
constexpr const char* kCaValue = "CACertificate";

using Clock = std::chrono::steady_clock;
using Step = ClientConnectFailure::Step;

void Fail(ClientConnectFailure& failure, Step step, int code, std::string text) {
  failure.step = step;
  failure.code = code;
  failure.text = std::move(text);
}

// Step 1: the context the registry's trust setting asks for.
Context LoadTrust(VerifyCallback callback, ClientConnectFailure& failure) {
  const TrustSetting setting = ReadTrustSetting();
  if (!setting.readable) {
    Fail(failure, Step::Registry, 0, "the settings cannot be read: " + setting.reason);
    return nullptr;
  }
  ClientContext made = MakeTrustContext(setting, callback);
  if (!made.ctx) Fail(failure, Step::Context, 0, made.reason);
  return std::move(made.ctx);
}

// Steps 3 and 4: the TCP connect, then the handshake. handshakeMs 0 means what is
// left of connectMs once the connect is made.
std::shared_ptr<TlsConnection> ConnectSteps(const Context& ctx, const qmos::Ipv4Address& address,
                                            std::uint16_t port, std::uint32_t connectMs,
                                            std::uint32_t handshakeMs, const StopCheck& stop,
                                            ClientConnectFailure& failure) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(connectMs);
  qmos::Socket socket;
  std::string error;
  int number = 0;
  const qmos::ConnectStatus status = socket.Connect(address, port, std::max<std::uint32_t>(connectMs, 1),
                                                    stop, error, &number);
  if (status != qmos::ConnectStatus::Connected) {
    Fail(failure, status == qmos::ConnectStatus::NoSocket ? Step::Socket : Step::Connect, number, error);
    return nullptr;
  }
  if (handshakeMs == 0)
    handshakeMs = static_cast<std::uint32_t>(std::max<std::int64_t>(qmos::MsLeft(deadline), 1));
  TlsOpenFailure opened;
  // The connection keeps its own reference to the context.
  std::shared_ptr<TlsConnection> connection =
      TlsConnection::Open(ctx.get(), std::move(socket), handshakeMs, stop, opened);
  if (!connection) {
    Fail(failure, Step::Handshake, static_cast<int>(opened.error), opened.errorText);
    failure.tlsStep = opened.step;
  }
  return connection;
}

}  // namespace

TrustSetting ReadTrustSetting() {
  TrustSetting setting;
  // Opened without creating it: reading the setting never writes the registry.
  if (std::optional<qmos::RegKey> key = qmos::RegKey::Open(qmos::RegRoot::LocalMachine, kSettingsKey)) {
    const qmos::RegResult read = key->ReadString(kCaValue, setting.caCertificate);
    if (read != qmos::RegResult::Ok) setting.caCertificate.clear();
    if (read == qmos::RegResult::Error) setting.readable = qmos::RegCheckFile(setting.reason);
  } else {
    // Either the key is missing (no CA configured) or the registry cannot be read.
    setting.readable = qmos::RegCheckFile(setting.reason);
  }
  return setting;
}

ClientContext MakeTrustContext(const TrustSetting& setting, VerifyCallback callback) {
  // The registry names the file in Windows form.
  return MakeClientContext(qmos::FromWindowsPath(setting.caCertificate), callback);
}

bool ResolveServer(const std::string& host, qmos::Ipv4Address& address,
                   ClientConnectFailure& failure) {
  std::string error;
  int code = 0;
  if (qmos::ResolveIPv4(host, address, error, &code)) return true;
  Fail(failure, Step::Lookup, code, error);
  return false;
}

std::shared_ptr<TlsConnection> ConnectAddress(const Context& ctx, const qmos::Ipv4Address& address,
                                              std::uint16_t port, std::uint32_t connectMs,
                                              std::uint32_t handshakeMs, const StopCheck& stop,
                                              ClientConnectFailure& failure) {
  failure = ClientConnectFailure{};
  return ConnectSteps(ctx, address, port, connectMs, std::max<std::uint32_t>(handshakeMs, 1), stop,
                      failure);
}

std::shared_ptr<TlsConnection> ConnectClient(const std::string& host, std::uint16_t port,
                                             std::uint32_t timeoutMs, const StopCheck& stop,
                                             VerifyCallback callback,
                                             ClientConnectFailure& failure) {
  failure = ClientConnectFailure{};
  const Context ctx = LoadTrust(callback, failure);
  if (!ctx) return nullptr;
  qmos::Ipv4Address address;
  if (!ResolveServer(host, address, failure)) return nullptr;
  // The connect and the handshake share the one bound.
  return ConnectSteps(ctx, address, port, timeoutMs, 0, stop, failure);
}

}  // namespace vantiro::tls
