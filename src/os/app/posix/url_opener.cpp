// Opening a URL on Linux: "xdg-open URL", which hands it to the desktop.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

#include "app/url_opener.h"

extern char** environ;

namespace qmos::detail {

namespace {

// How long the caller waits for the opener's own answer. xdg-open hands the URL to
// the desktop and ends quickly; a browser started in its place may run for hours.
constexpr auto kOpenerAnswerWait = std::chrono::milliseconds(3000);

void SetError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

}  // namespace

bool OpenUrlWithSystem(const std::string& url, std::string* error) {
  std::string program = "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ);
  if (rc != 0) {
    SetError(error, std::string("cannot run xdg-open: ") + std::strerror(rc));
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + kOpenerAnswerWait;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
      if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        SetError(error, "xdg-open was not found");
      } else if (WIFEXITED(status)) {
        SetError(error, "xdg-open failed with status " + std::to_string(WEXITSTATUS(status)));
      } else {
        SetError(error, "xdg-open ended abnormally");
      }
      return false;
    }
    if (done < 0 && errno != EINTR) {
      // Someone else reaped it (a host that ignores SIGCHLD): we cannot tell.
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Still running: count it as started and reap it when it ends, so that no zombie
  // is left behind.
  try {
    std::thread([pid] {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the process reaps it when it ends.
  }
  return true;
}

}  // namespace qmos::detail
