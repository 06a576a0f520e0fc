// A listening TCP socket on 127.0.0.1 with a port the system picked.
#pragma once

#include <chrono>
#include <cstdint>

namespace plugin_test {

class Listener {
 public:
  Listener();
  ~Listener();
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  // 0 when no socket could be made.
  std::uint16_t Port() const { return port_; }
  // True when a connection arrives within the time.
  bool Accept(std::chrono::milliseconds timeout);

 private:
  std::intptr_t socket_ = -1;  // the system's descriptor or SOCKET
  std::intptr_t accepted_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace plugin_test
