// A TLS client connection: the trust the registry sets for clients
// ("CACertificate" under HKEY_LOCAL_MACHINE "SOFTWARE\Quillmere\Viewer\Settings"),
// the server's address, a bounded TCP connect and a bounded handshake, as four named
// steps. Each failing step says which it was and why, so that callers can report it
// in their own words. ConnectClient takes all four in one call; a caller that keeps
// its own context or reads addresses by its own rule (the connection supervisor)
// takes the steps one by one: ReadTrustSetting, MakeTrustContext, ResolveServer,
// ConnectAddress.
//
// The trust rule: a missing or empty value means the server is not verified; a value
// naming a file that cannot be used, or a registry that cannot be read at all, means
// no connection is made, so that a configured trust is never silently dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tls/tls_connection.h"
#include "tls/tls_context.h"

namespace vantiro::tls {

// The registry's trust setting for client connections.
struct TrustSetting {
  bool readable = true;        // false: the registry cannot be read; connect nowhere
  std::string caCertificate;   // the value as stored (Windows form); empty when missing
  std::string reason;          // why the registry cannot be read
};

// Reads the setting. Never creates anything in the registry.
TrustSetting ReadTrustSetting();

// A client context for the setting: the value is turned into a path of this system
// and loaded. callback (may be null) is installed with verification.
ClientContext MakeTrustContext(const TrustSetting& setting, VerifyCallback callback);

struct ClientConnectFailure {
  enum class Step {
    None,
    Registry,   // the registry cannot be read
    Context,    // the CA file cannot be used, or no context could be made
    Lookup,     // the host has no IPv4 address
    Socket,     // no socket
    Connect,    // the TCP connect failed, timed out or was cancelled
    Handshake,  // the TLS connection could not be made or its handshake failed
  } step = Step::None;
  int code = 0;      // the resolver's code, errno of the connect, or the first OpenSSL error
  std::string text;  // what went wrong, in words
  // Step::Handshake only: what of the TLS connection could not be made.
  TlsOpenFailure::Step tlsStep = TlsOpenFailure::Step::None;
};

// The server's IPv4 address (a dotted address, or a name looked up); Step::Lookup
// with the resolver's code when it has none. Waits as long as the resolver does.
bool ResolveServer(const std::string& host, qmos::Ipv4Address& address,
                   ClientConnectFailure& failure);

// The TCP connect to address and port, waiting at most connectMs, then the handshake
// with ctx, waiting at most handshakeMs; stop (may be empty) ends either wait early.
// Null with failure filled (Socket, Connect or Handshake) when a step fails.
std::shared_ptr<TlsConnection> ConnectAddress(const Context& ctx, const qmos::Ipv4Address& address,
                                              std::uint16_t port, std::uint32_t connectMs,
                                              std::uint32_t handshakeMs, const StopCheck& stop,
                                              ClientConnectFailure& failure);

// Connects to host (a dotted address or a name) and port, trusting the server per
// the registry, and completes the handshake. The TCP connect and the handshake
// together take at most timeoutMs; stop (may be empty) ends the wait early. Null with
// failure filled when any step fails. The name lookup waits as long as the resolver
// does.
std::shared_ptr<TlsConnection> ConnectClient(const std::string& host, std::uint16_t port,
                                             std::uint32_t timeoutMs, const StopCheck& stop,
                                             VerifyCallback callback,
                                             ClientConnectFailure& failure);

}  // namespace vantiro::tls
