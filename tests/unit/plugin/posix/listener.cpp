#include "listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plugin_test {

Listener::Listener() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  socket_ = fd;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 4) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return;
  port_ = ntohs(address.sin_port);
}

Listener::~Listener() {
  if (accepted_ >= 0) ::close(static_cast<int>(accepted_));
  if (socket_ >= 0) ::close(static_cast<int>(socket_));
}

bool Listener::Accept(std::chrono::milliseconds timeout) {
  pollfd p{static_cast<int>(socket_), POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) return false;
  accepted_ = ::accept4(static_cast<int>(socket_), nullptr, nullptr, SOCK_CLOEXEC);
  return accepted_ >= 0;
}

}  // namespace plugin_test
