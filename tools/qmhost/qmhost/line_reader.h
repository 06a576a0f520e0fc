// Command lines from a descriptor (a script file or standard input), read so that
// the main loop never blocks on it. On Linux the loop polls the descriptor and
// reads when poll says there is something. On Windows, where a pipe cannot be
// waited on, a thread of the reader's own reads when the loop asks for more and
// signals the loop's wake signal once it has read something or the input ended.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace qmhost {

class WakeSignal;

class LineReader {
 public:
  // Lines longer than maxLine are reported as Overlong and skipped. An owned
  // descriptor is closed when the reader is done with it.
  LineReader(int fd, bool ownsFd, std::size_t maxLine = 1 << 20);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  int Fd() const { return fd_; }
  // What a reading thread signals when it has read (Windows); set before Fill.
  void SetWakeSignal(WakeSignal* wake);
  // Takes in what the input has. On Linux one read of the descriptor (the loop calls
  // it when poll says the descriptor is readable). On Windows what the reading
  // thread has read, without waiting; when it has nothing yet, it is set to read on.
  // End of input and read errors end the input. True when something was taken in
  // or the input has ended.
  bool Fill();
  // End of input reached and every line taken.
  bool AtEnd() const { return eof_ && buffer_.empty() && !overlongPending_; }

  enum class Next { Line, Overlong, None };
  // A complete line without its line feed (at end of input, also the last line
  // without one); None when no complete line is buffered yet.
  Next NextLine(std::string& line);

 private:
  // Adds data that was read to the buffer, skipping an overlong line to its end.
  void Take(std::string_view data);

  // The reading thread and what it hands over, where there is one (Windows).
  struct Background;

  int fd_;
  bool ownsFd_;
  std::size_t maxLine_;
  std::string buffer_;
  bool eof_ = false;
  bool skipping_ = false;         // inside an overlong line, up to its line feed
  bool overlongPending_ = false;  // an overlong line not yet reported
  std::shared_ptr<Background> background_;
};

}  // namespace qmhost
