// The host's main loop, on the main thread: it serves, one at a time, command
// lines, the publications waiting for delivery and the platform's main-thread
// queue, and carries out `wait`, `sleep` and `quit` (end of input is `quit`).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qmhost/line_reader.h"

namespace qmhost {

class EventWriter;
class PluginHost;
class WakeSignal;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitWaitTimeout = 3;

class MainLoop {
 public:
  // inputs are read one after the other (the script, then standard input).
  MainLoop(PluginHost& host, EventWriter& events, WakeSignal& wake,
           std::vector<std::unique_ptr<LineReader>> inputs);
  // Runs until quit, end of input or a wait's time-out; returns the exit status.
  int Run();

 private:
  enum class Mode { Reading, Sleeping, Waiting };
  void Serve();
  // Takes and runs one command line if one is ready; false when none is.
  bool RunNextLine(bool& quit);
  void RunLine(const std::string& line, bool& quit);
  // Waits until something may need serving: the input has something (while reading
  // commands), the wake signal or the platform's main-thread queue was signalled, or
  // the deadline of a sleep or wait passed. The platform's backend: poll on Linux;
  // on Windows a wait on the thread's messages, which it then dispatches.
  void WaitOnce();

  PluginHost& host_;
  EventWriter& events_;
  WakeSignal& wake_;
  std::vector<std::unique_ptr<LineReader>> inputs_;
  std::size_t input_ = 0;
  std::uint64_t lineNumber_ = 0;
  Mode mode_ = Mode::Reading;
  std::int64_t deadline_ = 0;
  std::string waitText_;
};

}  // namespace qmhost
