// Winsock is started by libqmos's first name lookup, which the constructor asks for.
#include "listener.h"
#include "qmos/socket.h"

#include <string>

#include <winsock2.h>

namespace plugin_test {
namespace {

SOCKET Of(std::intptr_t socket) { return static_cast<SOCKET>(socket); }

}  // namespace

Listener::Listener() {
  qmos::Ipv4Address ignored;
  std::string error;
  qmos::ResolveIPv4("127.0.0.1", ignored, error);
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return;
  socket_ = static_cast<std::intptr_t>(s);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 4) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return;
  port_ = ntohs(address.sin_port);
}

Listener::~Listener() {
  if (accepted_ != -1) ::closesocket(Of(accepted_));
  if (socket_ != -1) ::closesocket(Of(socket_));
}

bool Listener::Accept(std::chrono::milliseconds timeout) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Of(socket_), &readable);
  timeval wait{static_cast<long>(timeout.count() / 1000), static_cast<long>(timeout.count() % 1000 * 1000)};
  if (::select(0, &readable, nullptr, nullptr, &wait) != 1) return false;
  const SOCKET s = ::accept(Of(socket_), nullptr, nullptr);
  if (s == INVALID_SOCKET) return false;
  accepted_ = static_cast<std::intptr_t>(s);
  return true;
}

}  // namespace plugin_test
