#include "qmos/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "qmos/clock.h"

namespace qmos {

namespace {

// The longest a connect waits between two questions to its cancel check.
constexpr std::int64_t kCancelPollMs = 100;

using Clock = std::chrono::steady_clock;

// poll() on one descriptor, resuming after signals with the time that is left.
WaitStatus WaitFor(int fd, short events, std::uint32_t ms, std::string* error) {
  if (fd < 0) {
    if (error != nullptr) *error = "no socket";
    return WaitStatus::Error;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    pollfd entry{fd, events, 0};
    const std::int64_t left = MsLeft(deadline);
    const int rc = ::poll(&entry, 1, static_cast<int>(std::min<std::int64_t>(left, 1 << 30)));
    if (rc > 0) {
      if ((entry.revents & POLLNVAL) != 0) {
        if (error != nullptr) *error = "the socket is not open";
        return WaitStatus::Error;
      }
      // Hang-ups and pending errors count as ready: the next read or write reports them.
      return WaitStatus::Ready;
    }
    if (rc == 0) {
      if (left == 0) return WaitStatus::Timeout;
      continue;
    }
    if (errno != EINTR) {
      if (error != nullptr) *error = ErrnoText("poll", errno);
      return WaitStatus::Error;
    }
  }
}

}  // namespace

void IgnoreBrokenPipeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        (current.sa_flags & SA_SIGINFO) == 0) {
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigemptyset(&ignore.sa_mask);
      ::sigaction(SIGPIPE, &ignore, nullptr);
    }
  });
}

void Socket::Close() {
  if (fd_ < 0) return;
  ::close(fd_);  // on Linux the descriptor is gone even when close reports EINTR
  fd_ = -1;
}

ConnectStatus Socket::Connect(const Ipv4Address& address, std::uint16_t port,
                              std::uint32_t timeoutMs, const CancelCheck& cancel,
                              std::string& error, int* errorNumber) {
  int ignored = 0;
  int& number = errorNumber != nullptr ? *errorNumber : ignored;
  number = 0;
  Close();
  IgnoreBrokenPipeSignal();
  const std::string target = address.ToString() + ":" + std::to_string(port);
  if (cancel && cancel()) {
    error = "connect to " + target + " cancelled";
    number = ECANCELED;
    return ConnectStatus::Cancelled;
  }
  Socket candidate(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!candidate.IsOpen()) {
    number = errno;
    error = ErrnoText("socket", number);
    return ConnectStatus::NoSocket;
  }
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = htonl(address.value);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

  int rc;
  do {
    rc = ::connect(candidate.Fd(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && errno != EINPROGRESS) {
    number = errno;
    error = ErrnoText("connect to " + target, number);
    return ConnectStatus::Failed;
  }
  while (rc != 0) {
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
    std::string waitError;
    const WaitStatus ready =
        WaitFor(candidate.Fd(), POLLOUT, static_cast<std::uint32_t>(std::min(left, kCancelPollMs)),
                &waitError);
    if (ready == WaitStatus::Error) {
      number = errno != 0 ? errno : EIO;
      error = "connect to " + target + ": " + waitError;
      return ConnectStatus::Failed;
    }
    if (ready == WaitStatus::Timeout) continue;
    int soError = 0;
    socklen_t length = sizeof soError;
    if (::getsockopt(candidate.Fd(), SOL_SOCKET, SO_ERROR, &soError, &length) != 0) {
      soError = errno;
    }
    if (soError != 0) {
      number = soError;
      error = ErrnoText("connect to " + target, soError);
      return ConnectStatus::Failed;
    }
    rc = 0;
  }
  std::string modeError;
  if (!candidate.SetNonBlocking(false, &modeError)) {
    number = errno != 0 ? errno : EIO;
    error = "connect to " + target + ": " + modeError;
    return ConnectStatus::Failed;
  }
  *this = std::move(candidate);
  return ConnectStatus::Connected;
}

WaitStatus Socket::WaitReadable(std::uint32_t ms, std::string* error) const {
  return WaitFor(fd_, POLLIN, ms, error);
}

WaitStatus Socket::WaitWritable(std::uint32_t ms, std::string* error) const {
  return WaitFor(fd_, POLLOUT, ms, error);
}

ssize_t Socket::Send(const void* data, std::size_t size) {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  ssize_t sent;
  do {
    sent = ::send(fd_, data, size, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

ssize_t Socket::Receive(void* data, std::size_t size) {
  if (fd_ < 0) {
    errno = EBADF;
    return -1;
  }
  ssize_t got;
  do {
    got = ::recv(fd_, data, size, 0);
  } while (got < 0 && errno == EINTR);
  return got;
}

bool Socket::SetNonBlocking(bool nonBlocking, std::string* error) {
  if (fd_ < 0) {
    if (error != nullptr) *error = "no socket";
    return false;
  }
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0) {
    if (error != nullptr) *error = ErrnoText("fcntl", errno);
    return false;
  }
  const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (wanted != flags && ::fcntl(fd_, F_SETFL, wanted) != 0) {
    if (error != nullptr) *error = ErrnoText("fcntl", errno);
    return false;
  }
  return true;
}

bool Socket::Shutdown(ShutdownHow how) {
  if (fd_ < 0) return false;
  const int mode = how == ShutdownHow::Receive ? SHUT_RD : how == ShutdownHow::Send ? SHUT_WR : SHUT_RDWR;
  return ::shutdown(fd_, mode) == 0;
}

}  // namespace qmos
