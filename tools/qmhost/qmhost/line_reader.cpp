#include "qmhost/line_reader.h"

namespace qmhost {

void LineReader::Take(std::string_view data) {
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
