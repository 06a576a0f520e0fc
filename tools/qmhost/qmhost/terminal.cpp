#include "qmhost/terminal.h"

#include "qmos/secure_clear.h"

namespace qmhost {

Terminal::Read Terminal::ReadLine(std::string& line, std::size_t maxLine) {
  bool tooLong = false;
  for (;;) {
    const auto end = pending_.find('\n');
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return tooLong ? Read::TooLong : Read::Line;
    }
    if (pending_.size() > maxLine) {
      pending_.clear();  // keep reading to the end of that line, then refuse it
      tooLong = true;
    }
    char chunk[4096];
    const std::size_t n = ReadSome(chunk, sizeof chunk);
    if (n == 0) return Read::End;
    pending_.append(chunk, n);
    qmos::SecureClear(chunk, n);  // it may have held a password
  }
}

void Terminal::WipeReadBuffer() {
  const std::size_t size = pending_.size();
  pending_.resize(pending_.capacity());
  qmos::SecureClear(pending_.data() + size, pending_.size() - size);
  pending_.resize(size);
}

}  // namespace qmhost
