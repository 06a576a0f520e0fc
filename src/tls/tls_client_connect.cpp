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

// Step 2: the server's IPv4 address.
bool ResolveAddress(const std::string& host, qmos::Ipv4Address& address,
                    ClientConnectFailure& failure) {
  std::string error;
  if (qmos::ResolveIPv4(host, address, error)) return true;
  Fail(failure, Step::Lookup, 0, error);
  return false;
}

// Step 3: the TCP connect, within the deadline.
bool ConnectTcp(const qmos::Ipv4Address& address, std::uint16_t port, Clock::time_point deadline,
                const StopCheck& stop, qmos::Socket& socket, ClientConnectFailure& failure) {
  std::string error;
  int number = 0;
  const auto ms = static_cast<std::uint32_t>(std::max<std::int64_t>(qmos::MsLeft(deadline), 1));
  const qmos::ConnectStatus status = socket.Connect(address, port, ms, stop, error, &number);
  if (status == qmos::ConnectStatus::Connected) return true;
  Fail(failure, status == qmos::ConnectStatus::NoSocket ? Step::Socket : Step::Connect, number, error);
  return false;
}

// Step 4: the TLS handshake, in what is left of the deadline.
std::shared_ptr<TlsConnection> Handshake(const Context& ctx, qmos::Socket socket,
                                         Clock::time_point deadline, const StopCheck& stop,
                                         ClientConnectFailure& failure) {
  TlsOpenFailure opened;
  const auto ms = static_cast<std::uint32_t>(std::max<std::int64_t>(qmos::MsLeft(deadline), 1));
  std::shared_ptr<TlsConnection> connection =
      TlsConnection::Open(ctx.get(), std::move(socket), ms, stop, opened);
  if (!connection) Fail(failure, Step::Handshake, static_cast<int>(opened.error), opened.errorText);
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

std::shared_ptr<TlsConnection> ConnectClient(const std::string& host, std::uint16_t port,
                                             std::uint32_t timeoutMs, const StopCheck& stop,
                                             VerifyCallback callback,
                                             ClientConnectFailure& failure) {
  failure = ClientConnectFailure{};
  const Context ctx = LoadTrust(callback, failure);
  if (!ctx) return nullptr;
  qmos::Ipv4Address address;
  if (!ResolveAddress(host, address, failure)) return nullptr;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  qmos::Socket socket;
  if (!ConnectTcp(address, port, deadline, stop, socket, failure)) return nullptr;
  // The connection keeps its own reference to the context.
  return Handshake(ctx, std::move(socket), deadline, stop, failure);
}

}  // namespace vantiro::tls
