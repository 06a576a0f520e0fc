// What both platforms share of the socket object: handing the descriptor on.
#include "qmos/socket.h"

namespace qmos {

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

int Socket::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

}  // namespace qmos
