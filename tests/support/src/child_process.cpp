#include "testsupport/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "testsupport/files.h"

extern char** environ;

namespace testsupport {

namespace {

std::string EnvOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

std::string BinDir() { return EnvOr("QM_TEST_BIN_DIR", "."); }
std::string LibDir() { return EnvOr("QM_TEST_LIB_DIR", "."); }

int ExitStatus(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

namespace {

// Windows programs (.exe) run under Wine: the wine found on PATH, or "" when none is.
std::string WineFor(const std::string& program) {
  const std::string suffix = ".exe";
  if (program.size() < suffix.size() ||
      program.compare(program.size() - suffix.size(), suffix.size(), suffix) != 0)
    return "";
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  for (std::size_t at = 0; at <= folders.size();) {
    std::size_t end = folders.find(':', at);
    if (end == std::string::npos) end = folders.size();
    const std::string candidate = folders.substr(at, end - at) + "/wine";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return "";
}

}  // namespace

pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const Environment& env, int in, int out, int err) {
  const std::string wine = WineFor(program);
  std::vector<std::string> argvText{program};
  if (!wine.empty()) argvText.insert(argvText.begin(), wine);
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::map<std::string, std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const auto eq = entry.find('=');
    if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [k, v] : env) merged[k] = v;
  std::vector<std::string> envText;
  for (const auto& [k, v] : merged) envText.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);

  // Between fork and exec only async-signal-safe calls: this process has threads.
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    const int streams[3] = {in, out, err};
    for (int fd = 0; fd < 3; ++fd) {
      if (streams[fd] != kInherit) dup2(streams[fd] >= 0 ? streams[fd] : null, fd);
    }
    setpgid(0, 0);
    execve(argvText.front().c_str(), argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

namespace {

Result RunOnce(const std::string& program, const std::vector<std::string>& args,
               const Environment& env, const std::string& input, int timeoutMs) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
      pipe2(errPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  const pid_t pid = Spawn(program, args, env, inPipe[0], outPipe[1], errPipe[1]);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);

  Result result;
  std::size_t written = 0;
  int inFd = inPipe[1];
  fcntl(inFd, F_SETFL, O_NONBLOCK);
  if (input.empty() || pid < 0) {
    close(inFd);
    inFd = -1;
  }
  if (pid < 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // The program's end, once seen: a program that leaves a descendant holding its
  // output (Wine's desktop, started by the first program that needs it) is read only
  // for a short while longer, not until that descendant ends.
  int exitStatus = 0;
  bool ended = false;
  int open = 2;
  while (open > 0) {
    if (!ended && ::waitpid(pid, &exitStatus, WNOHANG) == pid) {
      ended = true;
      deadline = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(300));
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      if (!ended) kill(-pid, SIGKILL);
      break;
    }
    pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
    if (poll(fds, 3, static_cast<int>(std::min<long long>(left.count(), 50))) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        (i == 0 ? outPipe[0] : errPipe[0]) = -1;
        --open;
      }
    }
    if (inFd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n = write(inFd, input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n < 0 || written == input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  if (inFd >= 0) close(inFd);
  if (outPipe[0] >= 0) close(outPipe[0]);
  if (errPipe[0] >= 0) close(errPipe[0]);
  result.status = ended ? ExitStatus(exitStatus) : WaitProgram(pid);
  return result;
}

// Wine's own words when it could not start a Windows program at all: the program
// never ran, so running it again changes nothing it did.
bool WineCouldNotStart(const Result& result) {
  return result.status == 1 && result.err.find("ShellExecuteEx failed") != std::string::npos;
}

}  // namespace

Result RunProgram(const std::string& program, const std::vector<std::string>& args,
                  const Environment& env, const std::string& input, int timeoutMs) {
  Result result = RunOnce(program, args, env, input, timeoutMs);
  // Wine now and then fails to start a program while its desktop comes or goes.
  // Such a run is started again, after a pause, at most twice; the log says so.
  for (int attempt = 1; attempt < 3 && !WineFor(program).empty() && WineCouldNotStart(result); ++attempt) {
    std::fprintf(stderr, "wine could not start %s; starting it again\n", program.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    result = RunOnce(program, args, env, input, timeoutMs);
  }
  return result;
}

int StartProgram(const std::string& program, const std::vector<std::string>& args) {
  return Spawn(program, args, {}, kDevNull, kDevNull, kInherit);
}

int WaitProgram(int pid) {
  if (pid < 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return ExitStatus(status);
}

namespace {

Process::Options WithLog(const Environment& env, const std::string& errorLog) {
  Process::Options options;
  options.env = env;
  options.errorLog = errorLog;
  return options;
}

}  // namespace

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const Environment& env, const std::string& errorLog)
    : Process(program, args, WithLog(env, errorLog)) {}

Process::Process(const std::string& program, const std::vector<std::string>& args, Options options)
    : options_(std::move(options)) {
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  int err = kInherit;
  if (!options_.errorLog.empty()) {
    err = open(options_.errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (err < 0) throw std::runtime_error("cannot create " + options_.errorLog);
  }
  pid_ = Spawn(program, args, options_.env, in[0], out[1], err);
  close(in[0]);
  close(out[1]);
  if (err >= 0) close(err);
  input_ = in[1];
  output_ = out[0];
  if (pid_ < 0) {
    close(input_);
    close(output_);
    throw std::runtime_error("cannot start " + program);
  }
  reader_ = std::thread([this] { ReadLines(); });
}

Process::~Process() {
  CloseInput();
  if (!status_) {
    const std::optional<int> status = WaitExit();
    if (!status) {
      ADD_FAILURE() << "the program did not end within " << options_.wait.count()
                    << " ms after its input ended; killed";
      kill(-pid_, SIGKILL);
      WaitExit(std::chrono::seconds(5));
    } else if (options_.requireCleanExit) {
      EXPECT_EQ(*status, 0) << "the program did not exit cleanly at the end of its input";
    }
  }
  if (reader_.joinable()) reader_.join();  // the output ends with the process group
  close(output_);
}

void Process::Send(const std::string& line) {
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (input_ >= 0 && done < text.size()) {
    const ssize_t n = write(input_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ADD_FAILURE() << "cannot write the command " << line;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

void Process::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void Process::ReadLines() {
  std::string pending;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(output_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(chunk, static_cast<std::size_t>(n));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      Event event = Event::parse(line, nullptr, false);
      if (event.is_discarded() || !event.is_object()) {
        ADD_FAILURE() << "not a JSON event line: " << line;
        continue;
      }
      std::lock_guard lock(mutex_);
      events_.push_back(std::move(event));
      arrived_.notify_all();
    }
  }
  std::lock_guard lock(mutex_);
  ended_ = true;
  arrived_.notify_all();
}

Process::Event Process::WaitFor(const Match& match, const std::string& what,
                                std::optional<std::chrono::milliseconds> timeout) {
  const std::chrono::milliseconds limit = timeout.value_or(options_.wait);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(mutex_);
  for (;;) {
    while (cursor_ < events_.size()) {
      const Event& event = events_[cursor_++];
      if (match(event)) return event;
    }
    if (ended_ || arrived_.wait_until(lock, deadline) == std::cv_status::timeout) {
      // One last look: events may have come with the time-out.
      if (cursor_ < events_.size()) continue;
      ADD_FAILURE() << "no event " << what << " within " << limit.count() << " ms; last: "
                    << (events_.empty() ? std::string("(none)") : events_.back().dump());
      return Event();
    }
  }
}

Process::Event Process::WaitEvent(const std::string& name, const Event& subset,
                                  std::optional<std::chrono::milliseconds> timeout) {
  Event wanted = subset;
  wanted["event"] = name;
  return WaitFor([&](const Event& e) { return HasMembers(e, wanted); }, wanted.dump(), timeout);
}

std::vector<Process::Event> Process::Events() {
  std::lock_guard lock(mutex_);
  return events_;
}

bool Process::Saw(const Match& match, std::size_t from,
                  std::optional<std::chrono::milliseconds> timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout.value_or(options_.wait);
  std::unique_lock lock(mutex_);
  for (std::size_t at = from;;) {
    for (; at < events_.size(); ++at)
      if (match(events_[at])) return true;
    if (ended_ || arrived_.wait_until(lock, deadline) == std::cv_status::timeout) {
      if (at < events_.size()) continue;
      return false;
    }
  }
}

std::size_t Process::Count() {
  std::lock_guard lock(mutex_);
  return events_.size();
}

std::optional<int> Process::WaitExit(std::optional<std::chrono::milliseconds> timeout) {
  if (status_) return status_;
  const auto deadline = std::chrono::steady_clock::now() + timeout.value_or(options_.wait);
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = ExitStatus(status);
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    usleep(5000);
  }
}

std::string Process::ErrorText() const { return ReadFile(options_.errorLog); }

bool HasMembers(const Process::Event& event, const Process::Event& subset) {
  for (auto it = subset.begin(); it != subset.end(); ++it) {
    const auto found = event.find(it.key());
    if (found == event.end() || *found != it.value()) return false;
  }
  return true;
}

}  // namespace testsupport
