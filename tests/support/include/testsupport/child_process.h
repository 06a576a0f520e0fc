// Child processes for tests: programs run to completion with a given standard input,
// programs started in the background, and a driver for programs that take command
// lines on standard input and write JSON event lines on standard output (qmhost,
// muxsim).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace testsupport {

using Environment = std::map<std::string, std::string>;

// The build's bin/ and lib/ folders ($QM_TEST_BIN_DIR, $QM_TEST_LIB_DIR; "." when unset).
std::string BinDir();
std::string LibDir();

struct Result {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Runs program with args and env (added to this process's environment), feeding
// input on its standard input; kills it after timeoutMs.
Result RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const Environment& env = {}, const std::string& input = "",
                  int timeoutMs = 60000);

// Starts program in the background, standard input and output on /dev/null; returns
// its process id, or -1.
int StartProgram(const std::string& program, const std::vector<std::string>& args);
// Waits for the end of a program StartProgram started: its exit status (128 + signal
// for a killed program), or -1.
int WaitProgram(int pid);

// What Spawn connects a standard stream to instead of a descriptor.
inline constexpr int kDevNull = -1;
inline constexpr int kInherit = -2;  // the stream of this process

// Starts program with args and env (added to this process's environment) in a
// process group of its own, its standard streams on the given descriptors; the
// process id, or -1. A program that cannot be run ends with status 127. A Windows
// program (a name ending in ".exe") runs under the wine found on PATH.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const Environment& env, int in, int out, int err);

// The exit status of a waitpid status: the code, or 128 + signal.
int ExitStatus(int waitStatus);

// A program running in the background, in a process group of its own, for as long as
// a test drives it: command lines go to its standard input, and every line it writes
// on standard output is read as it comes and kept as a JSON event (members in their
// order), so that it never blocks on a full pipe.
class Process {
 public:
  using Event = nlohmann::ordered_json;
  using Match = std::function<bool(const Event&)>;

  struct Options {
    Environment env;       // added to this process's environment
    std::string errorLog;  // where standard error goes; empty: to this process's
    // The default time limit of the waits, and of the wait for the end at destruction.
    std::chrono::milliseconds wait = std::chrono::seconds(20);
    // Whether the end at destruction must be a clean one (status 0): that also
    // catches sanitizer reports in the child, which change its exit status.
    bool requireCleanExit = false;
  };

  Process(const std::string& program, const std::vector<std::string>& args, Options options);
  Process(const std::string& program, const std::vector<std::string>& args,
          const Environment& env, const std::string& errorLog);
  // Closes the input and waits for the end (killing the program when it does not
  // end in time, which fails the test), unless the end was already awaited.
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Writes one line (a line feed is added).
  void Send(const std::string& line);
  void CloseInput();

  // The next event after those already returned by a wait for which match holds;
  // events passed over stay in Events(). On time-out a test failure naming what was
  // awaited, and a null event. No timeout: the default of the options.
  Event WaitFor(const Match& match, const std::string& what,
                std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  // The next event named name whose members include every member of subset.
  Event WaitEvent(const std::string& name, const Event& subset = Event::object(),
                  std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  // Whether an event at or after position from matches, waiting for it if need be;
  // the cursor of WaitFor does not move.
  bool Saw(const Match& match, std::size_t from,
           std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  // Every event read so far.
  std::vector<Event> Events();
  std::size_t Count();

  // The exit status (128 + signal for a killed program), or nullopt while it runs.
  std::optional<int> WaitExit(std::optional<std::chrono::milliseconds> timeout = std::nullopt);
  std::string ErrorText() const;
  pid_t Pid() const { return pid_; }

 private:
  void ReadLines();

  Options options_;
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Event> events_;  // under mutex_
  bool ended_ = false;         // under mutex_
  std::size_t cursor_ = 0;     // under mutex_
  std::optional<int> status_;
};

// True when event has every member of subset with an equal value.
bool HasMembers(const Process::Event& event, const Process::Event& subset);

}  // namespace testsupport
