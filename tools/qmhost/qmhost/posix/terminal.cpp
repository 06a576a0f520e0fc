// The terminal on Linux: /dev/tty, with the echo turned off through termios.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "qmhost/terminal.h"

namespace qmhost {

struct Terminal::Device {
  int fd = -1;
  termios saved{};
  bool hidden = false;
};

std::unique_ptr<Terminal> Terminal::Open() {
  const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  auto device = std::make_unique<Device>();
  device->fd = fd;
  return std::unique_ptr<Terminal>(new Terminal(std::move(device)));
}

Terminal::Terminal(std::unique_ptr<Device> device) : device_(std::move(device)) {}

Terminal::~Terminal() {
  ShowTyping();
  ::close(device_->fd);
}

void Terminal::Write(std::string_view text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(device_->fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the terminal went away; reading will end too
    done += static_cast<std::size_t>(n);
  }
}

std::size_t Terminal::ReadSome(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(device_->fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    // Ctrl-D on an empty line, or the terminal is gone.
    return n <= 0 ? 0 : static_cast<std::size_t>(n);
  }
}

bool Terminal::HideTyping() {
  if (device_->hidden) return true;
  if (::tcgetattr(device_->fd, &device_->saved) != 0) return false;
  termios quiet = device_->saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK);
  quiet.c_lflag |= ECHONL;
  device_->hidden = ::tcsetattr(device_->fd, TCSANOW, &quiet) == 0;
  return device_->hidden;
}

void Terminal::ShowTyping() {
  if (!device_->hidden) return;
  ::tcsetattr(device_->fd, TCSANOW, &device_->saved);
  device_->hidden = false;
}

}  // namespace qmhost
