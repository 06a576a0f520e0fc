// TCP sockets on Windows (Winsock 2). The handle keeps a SOCKET in an int, as the
// TLS library's own Windows interface does: socket values are small handle values,
// and INVALID_SOCKET is kept as -1.
#include "qmos/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

#include "net/win32/winsock_start.h"
#include "qmos/clock.h"

namespace qmos {

namespace {

// The longest a connect waits between two questions to its cancel check.
constexpr std::int64_t kCancelPollMs = 100;

using Clock = std::chrono::steady_clock;

SOCKET ToSocket(int fd) { return static_cast<SOCKET>(fd); }

// Winsock reports through WSAGetLastError, not errno. Callers of Send, Receive and
// Shutdown look at errno as they do on other systems, so the code is copied there
// in its errno form (WSAGetLastError keeps the original). Returns the Winsock code.
int SetErrnoFromWinsock() {
  const int code = ::WSAGetLastError();
  switch (code) {
    case WSAEWOULDBLOCK: errno = EWOULDBLOCK; break;
    case WSAEINPROGRESS: errno = EINPROGRESS; break;
    case WSAEALREADY: errno = EALREADY; break;
    case WSAEINTR: errno = EINTR; break;
    case WSAEBADF: errno = EBADF; break;
    case WSAENOTSOCK: errno = ENOTSOCK; break;
    case WSAEINVAL: errno = EINVAL; break;
    case WSAEFAULT: errno = EFAULT; break;
    case WSAEACCES: errno = EACCES; break;
    case WSAEMFILE: errno = EMFILE; break;
    case WSAENOBUFS: errno = ENOBUFS; break;
    case WSAEMSGSIZE: errno = EMSGSIZE; break;
    case WSAEOPNOTSUPP: errno = EOPNOTSUPP; break;
    case WSAENOTCONN: errno = ENOTCONN; break;
    case WSAESHUTDOWN: errno = EPIPE; break;  // a send after shutdown, as EPIPE elsewhere
    case WSAECONNRESET: errno = ECONNRESET; break;
    case WSAECONNABORTED: errno = ECONNABORTED; break;
    case WSAECONNREFUSED: errno = ECONNREFUSED; break;
    case WSAETIMEDOUT: errno = ETIMEDOUT; break;
    case WSAENETDOWN: errno = ENETDOWN; break;
    case WSAENETRESET: errno = ENETRESET; break;
    case WSAENETUNREACH: errno = ENETUNREACH; break;
    case WSAEHOSTUNREACH: errno = EHOSTUNREACH; break;
    default: errno = EIO; break;
  }
  return code;
}

// Switches the socket between non-blocking and blocking; 0 or the Winsock code.
int SetMode(SOCKET s, bool nonBlocking) {
  u_long value = nonBlocking ? 1 : 0;
  return ::ioctlsocket(s, FIONBIO, &value) == 0 ? 0 : SetErrnoFromWinsock();
}

// A non-blocking TCP socket that child processes do not inherit, as a descriptor;
// -1 with *code set when it cannot be made. A value that does not fit an int (never
// seen: handle values are small) is refused rather than cut.
int OpenStreamSocket(int& code, const char*& call) {
  call = "socket";
  const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    code = SetErrnoFromWinsock();
    return -1;
  }
  if (s > static_cast<SOCKET>(INT_MAX)) {
    ::closesocket(s);
    code = WSAEMFILE;
    return -1;
  }
  call = "ioctlsocket";
  code = SetMode(s, true);
  if (code != 0) {
    ::closesocket(s);
    return -1;
  }
  return static_cast<int>(s);
}

// select() on one socket, resuming with the time that is left when it returns early.
// Readable / writable both count a pending error (the exception set) as ready: the
// next read or write reports it. *failed (when given) says whether the exception set
// was marked, which is how a failed connect shows; *code the Winsock code of an Error.
WaitStatus WaitFor(int fd, bool write, std::uint32_t ms, std::string* error,
                   bool* failed = nullptr, int* code = nullptr) {
  if (fd < 0) {
    if (error != nullptr) *error = "no socket";
    if (code != nullptr) *code = WSAENOTSOCK;
    return WaitStatus::Error;
  }
  const SOCKET s = ToSocket(fd);
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const std::int64_t left = MsLeft(deadline);
    fd_set wanted;
    fd_set exceptions;
    FD_ZERO(&wanted);
    FD_ZERO(&exceptions);
    FD_SET(s, &wanted);
    FD_SET(s, &exceptions);
    timeval limit{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    // The first argument is ignored by Winsock.
    const int rc = ::select(0, write ? nullptr : &wanted, write ? &wanted : nullptr, &exceptions, &limit);
    if (rc > 0) {
      if (failed != nullptr) *failed = FD_ISSET(s, &exceptions) != 0;
      return WaitStatus::Ready;
    }
    if (rc == 0) {
      if (left == 0) return WaitStatus::Timeout;
      continue;
    }
    const int err = SetErrnoFromWinsock();
    if (err == WSAEINTR) continue;
    if (code != nullptr) *code = err;
    if (error != nullptr) *error = err == WSAENOTSOCK ? "the socket is not open" : ErrnoText("select", err);
    return WaitStatus::Error;
  }
}

}  // namespace

// Windows has no SIGPIPE: a write to a closed connection is an error and nothing more.
void IgnoreBrokenPipeSignal() {}

void Socket::Close() {
  if (fd_ < 0) return;
  ::closesocket(ToSocket(fd_));
  fd_ = -1;
}

// errorNumber carries Winsock's code (WSAGetLastError, or SO_ERROR) for a failed
// socket or connect, as this system reports it; a time-out or a cancel give the errno
// values the interface names.
ConnectStatus Socket::Connect(const Ipv4Address& address, std::uint16_t port,
                              std::uint32_t timeoutMs, const CancelCheck& cancel,
                              std::string& error, int* errorNumber) {
  int ignored = 0;
  int& number = errorNumber != nullptr ? *errorNumber : ignored;
  number = 0;
  Close();
  const std::string target = address.ToString() + ":" + std::to_string(port);
  if (cancel && cancel()) {
    error = "connect to " + target + " cancelled";
    number = ECANCELED;
    return ConnectStatus::Cancelled;
  }
  if (const int started = detail::StartWinsock(); started != 0) {
    number = started;
    error = ErrnoText("WSAStartup", started);
    return ConnectStatus::NoSocket;
  }
  const char* call = "socket";
  Socket candidate(OpenStreamSocket(number, call));
  if (!candidate.IsOpen()) {
    error = ErrnoText(call, number);
    return ConnectStatus::NoSocket;
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = htonl(address.value);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

  // A non-blocking connect reports WSAEWOULDBLOCK while it is under way.
  bool pending = false;
  if (::connect(ToSocket(candidate.Fd()), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    const int code = SetErrnoFromWinsock();
    if (code != WSAEWOULDBLOCK && code != WSAEINPROGRESS) {
      number = code;
      error = ErrnoText("connect to " + target, code);
      return ConnectStatus::Failed;
    }
    pending = true;
  }
  while (pending) {
    const std::int64_t left = MsLeft(deadline);
    if (left == 0) {
      error = "connect to " + target + " timed out after " + std::to_string(timeoutMs) + " ms";
      number = ETIMEDOUT;
      return ConnectStatus::TimedOut;
    }
    if (cancel && cancel()) {
      error = "connect to " + target + " cancelled";
      number = ECANCELED;
      return ConnectStatus::Cancelled;
    }
    // Success marks the write set, failure the exception set.
    std::string waitError;
    bool failed = false;
    int waitCode = 0;
    const WaitStatus ready =
        WaitFor(candidate.Fd(), true, static_cast<std::uint32_t>(std::min(left, kCancelPollMs)),
                &waitError, &failed, &waitCode);
    if (ready == WaitStatus::Error) {
      number = waitCode != 0 ? waitCode : WSAEINVAL;
      error = "connect to " + target + ": " + waitError;
      return ConnectStatus::Failed;
    }
    if (ready == WaitStatus::Timeout) continue;
    int soError = 0;
    int length = sizeof soError;
    if (::getsockopt(ToSocket(candidate.Fd()), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError),
                     &length) != 0) {
      soError = SetErrnoFromWinsock();
    }
    // A marked exception set is a failed connect even if no code was kept for it.
    if (soError == 0 && failed) soError = WSAENOTCONN;
    if (soError != 0) {
      number = soError;
      error = ErrnoText("connect to " + target, soError);
      return ConnectStatus::Failed;
    }
    pending = false;
  }
  if (const int code = SetMode(ToSocket(candidate.Fd()), false); code != 0) {
    number = code;
    error = "connect to " + target + ": " + ErrnoText("ioctlsocket", code);
    return ConnectStatus::Failed;
  }
  *this = std::move(candidate);
  return ConnectStatus::Connected;
}

WaitStatus Socket::WaitReadable(std::uint32_t ms, std::string* error) const {
  return WaitFor(fd_, false, ms, error);
}

WaitStatus Socket::WaitWritable(std::uint32_t ms, std::string* error) const {
  return WaitFor(fd_, true, ms, error);
}

// send and recv take an int length: a larger request moves at most INT_MAX bytes,
// which a single send or receive may do anyway.
ssize_t Socket::Send(const void* data, std::size_t size) {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  const int length = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
  const int sent = ::send(ToSocket(fd_), static_cast<const char*>(data), length, 0);
  if (sent == SOCKET_ERROR) {
    SetErrnoFromWinsock();
    return -1;
  }
  return sent;
}

ssize_t Socket::Receive(void* data, std::size_t size) {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  const int length = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
  const int got = ::recv(ToSocket(fd_), static_cast<char*>(data), length, 0);
  if (got == SOCKET_ERROR) {
    SetErrnoFromWinsock();
    return -1;
  }
  return got;
}

// Winsock cannot read the mode back; setting it to what it already is does no harm.
bool Socket::SetNonBlocking(bool nonBlocking, std::string* error) {
  if (fd_ < 0) {
    if (error != nullptr) *error = "no socket";
    return false;
  }
  if (const int code = SetMode(ToSocket(fd_), nonBlocking); code != 0) {
    if (error != nullptr) *error = ErrnoText("ioctlsocket", code);
    return false;
  }
  return true;
}

bool Socket::Shutdown(ShutdownHow how) {
  if (fd_ < 0) return false;
  const int mode = how == ShutdownHow::Receive ? SD_RECEIVE : how == ShutdownHow::Send ? SD_SEND : SD_BOTH;
  if (::shutdown(ToSocket(fd_), mode) == 0) return true;
  SetErrnoFromWinsock();
  return false;
}

}  // namespace qmos
