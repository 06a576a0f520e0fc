// Command lines from a descriptor (a script file or standard input), read only
// when poll says there is something, so the main loop never blocks on it.
#pragma once

#include <cstddef>
#include <string>

namespace qmhost {

class LineReader {
 public:
  // Lines longer than maxLine are reported as Overlong and skipped.
  LineReader(int fd, bool ownsFd, std::size_t maxLine = 1 << 20);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  int Fd() const { return fd_; }
  // Reads what is there (one read); end of input and read errors end the input.
  void Fill();
  // End of input reached and every line taken.
  bool AtEnd() const { return eof_ && buffer_.empty() && !overlongPending_; }

  enum class Next { Line, Overlong, None };
  // A complete line without its line feed (at end of input, also the last line
  // without one); None when no complete line is buffered yet.
  Next NextLine(std::string& line);

 private:
  int fd_;
  bool ownsFd_;
  std::size_t maxLine_;
  std::string buffer_;
  bool eof_ = false;
  bool skipping_ = false;        // inside an overlong line, up to its line feed
  bool overlongPending_ = false;  // an overlong line not yet reported
};

}  // namespace qmhost
