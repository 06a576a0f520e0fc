// The person's terminal, apart from the command input and the event lines, for
// message boxes and forms answered there (--interactive): /dev/tty on Linux, the
// console on Windows. Text is UTF-8 both ways. Main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace qmhost {

class Terminal {
 public:
  // The process's terminal; nullptr when it has none.
  static std::unique_ptr<Terminal> Open();
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Writes all of text; stops when the terminal went away (reading then ends too).
  void Write(std::string_view text);

  enum class Read { Line, TooLong, End };
  // One line as typed, without its line end. A line longer than maxLine is read to
  // its end and refused (TooLong). End at end of input (Ctrl-D on Linux, Ctrl-Z on
  // Windows) or when the terminal went away. What was read passes through buffers
  // that are cleared once done with.
  Read ReadLine(std::string& line, std::size_t maxLine);
  // Clears the spare room of the buffer of what was read but not yet taken (after a
  // password was read).
  void WipeReadBuffer();

  // Typing is not shown until ShowTyping (the line end still is); false when this
  // terminal cannot hide it.
  bool HideTyping();
  void ShowTyping();

 private:
  struct Device;  // the platform's side
  explicit Terminal(std::unique_ptr<Device> device);
  // Reads what is typed into buffer (at least one byte); 0 at end of input.
  std::size_t ReadSome(char* buffer, std::size_t size);

  std::unique_ptr<Device> device_;
  std::string pending_;  // read, not yet taken as a line
};

}  // namespace qmhost
