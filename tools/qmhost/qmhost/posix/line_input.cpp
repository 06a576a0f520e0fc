// Reading command input on Linux: one read of the descriptor whenever the loop's
// poll says it is readable.
#include <unistd.h>

#include <cerrno>

#include "qmhost/line_reader.h"

namespace qmhost {

LineReader::LineReader(int fd, bool ownsFd, std::size_t maxLine)
    : fd_(fd), ownsFd_(ownsFd), maxLine_(maxLine) {
  if (fd_ < 0) eof_ = true;
}

LineReader::~LineReader() {
  if (ownsFd_ && fd_ >= 0) ::close(fd_);
}

void LineReader::SetWakeSignal(WakeSignal*) {}

bool LineReader::Fill() {
  if (eof_) return true;
  char chunk[8192];
  const ssize_t n = ::read(fd_, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return false;
  if (n <= 0) {
    eof_ = true;
    return true;
  }
  Take(std::string_view(chunk, static_cast<std::size_t>(n)));
  return true;
}

}  // namespace qmhost
