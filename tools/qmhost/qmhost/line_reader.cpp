#include "qmhost/line_reader.h"

#include <unistd.h>

#include <cerrno>

namespace qmhost {

LineReader::LineReader(int fd, bool ownsFd, std::size_t maxLine)
    : fd_(fd), ownsFd_(ownsFd), maxLine_(maxLine) {
  if (fd_ < 0) eof_ = true;
}

LineReader::~LineReader() {
  if (ownsFd_ && fd_ >= 0) ::close(fd_);
}

void LineReader::Fill() {
  if (eof_) return;
  char chunk[8192];
  const ssize_t n = ::read(fd_, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
  if (n <= 0) {
    eof_ = true;
    return;
  }
  std::string_view data(chunk, static_cast<std::size_t>(n));
  if (skipping_) {
    const auto end = data.find('\n');
    if (end == std::string_view::npos) return;
    skipping_ = false;
    data.remove_prefix(end + 1);
  }
  buffer_.append(data);
  if (buffer_.size() > maxLine_ && buffer_.find('\n') == std::string::npos) {
    buffer_.clear();
    skipping_ = true;
    overlongPending_ = true;
  }
}

LineReader::Next LineReader::NextLine(std::string& line) {
  if (overlongPending_) {
    overlongPending_ = false;
    return Next::Overlong;
  }
  const auto end = buffer_.find('\n');
  if (end == std::string::npos) {
    if (!eof_ || buffer_.empty()) return Next::None;
    line = std::move(buffer_);
    buffer_.clear();
    return Next::Line;
  }
  if (end > maxLine_) {
    buffer_.erase(0, end + 1);
    return Next::Overlong;
  }
  line = buffer_.substr(0, end);
  buffer_.erase(0, end + 1);
  return Next::Line;
}

}  // namespace qmhost
