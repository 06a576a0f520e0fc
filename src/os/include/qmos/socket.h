// TCP sockets over IPv4: name lookup, a connect bounded by a time-out and by a
// cancel check, readiness waits, and an owning RAII handle.
//
// No write raises SIGPIPE: Send uses MSG_NOSIGNAL, and the first connect sets
// SIGPIPE to be ignored when it still has its default action, so that writes by
// other layers on the same descriptor (a TLS library) behave as on Windows, where a
// write to a closed connection is an error and nothing more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

namespace qmos {

// An IPv4 address in host byte order.
struct Ipv4Address {
  std::uint32_t value = 0;
  std::string ToString() const;  // dotted form
  friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
};

// The address a dotted text gives as the classic inet_addr reads it (fewer than four
// parts, octal and hex parts allowed); 255.255.255.255 for a text that is none.
Ipv4Address Ipv4FromDottedText(const std::string& text);

// Looks name up (a dotted address or a host name). False with error set when it
// has no IPv4 address or the lookup failed; *code (when given) is then the
// resolver's code (an EAI_ value; EAI_NODATA when the name has no IPv4 address,
// EAI_NONAME for an empty name). Blocks for as long as the resolver does.
bool ResolveIPv4(const std::string& name, Ipv4Address& address, std::string& error,
                 int* code = nullptr);

// "text: strerror(err) (err)"
std::string ErrnoText(const std::string& text, int err);

// Polled while a connect waits; true means give up now.
using CancelCheck = std::function<bool()>;

enum class ConnectStatus {
  Connected,
  NoSocket,   // the socket could not be made
  Failed,     // refused, unreachable, or another failure of the connect
  TimedOut,   // no answer within the time-out
  Cancelled,  // the cancel check said stop
};

enum class WaitStatus {
  Ready,    // readable (data, end of stream or a pending error to read) / writable
  Timeout,
  Error,    // no socket, or the wait itself failed
};

enum class ShutdownHow { Receive, Send, Both };

class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}  // takes ownership
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : fd_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Connects to address:port, replacing any socket held. Waits at most timeoutMs
  // milliseconds and asks cancel (when given) before trying and at least every 100
  // ms while waiting. On success the socket is connected and blocking. error says
  // what went wrong otherwise, and errorNumber (when given) the system's error
  // number: ETIMEDOUT for a time-out, ECANCELED when cancelled.
  ConnectStatus Connect(const Ipv4Address& address, std::uint16_t port, std::uint32_t timeoutMs,
                        const CancelCheck& cancel, std::string& error, int* errorNumber = nullptr);

  // Waits at most ms milliseconds until the socket is readable / writable.
  WaitStatus WaitReadable(std::uint32_t ms, std::string* error = nullptr) const;
  WaitStatus WaitWritable(std::uint32_t ms, std::string* error = nullptr) const;

  // Sends / receives once (as send and recv; -1 with errno on failure). Send never
  // raises SIGPIPE.
  ssize_t Send(const void* data, std::size_t size);
  ssize_t Receive(void* data, std::size_t size);

  bool SetNonBlocking(bool nonBlocking, std::string* error = nullptr);
  bool Shutdown(ShutdownHow how = ShutdownHow::Both);

  // The descriptor; on Windows the SOCKET's value (a socket that would not fit an int
  // is refused when it is made), which is how OpenSSL takes a socket there too.
  int Fd() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Closes the socket; safe to call again.
  void Close();
  // Gives the descriptor up without closing it.
  int Release();

 private:
  int fd_ = -1;
};

// Ignores SIGPIPE for the process when its action is still the default.
void IgnoreBrokenPipeSignal();

}  // namespace qmos
