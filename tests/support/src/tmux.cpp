#include "testsupport/tmux.h"

#include <chrono>
#include <thread>
#include <utility>

namespace testsupport {

Tmux::Tmux(std::string socket)
    : program_(RunProgram("/bin/sh", {"-c", "command -v tmux | tr -d '\\n'"}).out), socket_(std::move(socket)) {}

Tmux::~Tmux() {
  if (Available()) Run({"kill-server"});
}

Result Tmux::Run(std::vector<std::string> args) const {
  args.insert(args.begin(), {"-S", socket_, "-f", "/dev/null"});
  return RunProgram(program_, args, {}, "", 10000);
}

bool Tmux::Start(const std::string& session, const std::string& command) const {
  return Run({"new-session", "-d", "-s", session, "-x", "200", "-y", "50", command, ";", "set-option", "-t",
              session, "remain-on-exit", "on"})
             .status == 0;
}

void Tmux::Enter(const std::string& session, const std::string& text) const {
  if (!text.empty()) Run({"send-keys", "-t", session, "-l", text});
  Run({"send-keys", "-t", session, "Enter"});
}

std::size_t Tmux::Shown(const std::string& session, const std::string& text) const {
  const std::string screen = Run({"capture-pane", "-p", "-J", "-S", "-", "-t", session}).out;
  std::size_t n = 0;
  for (auto at = screen.find(text); at != std::string::npos; at = screen.find(text, at + 1)) ++n;
  return n;
}

bool Tmux::Ended(const std::string& session) const {
  return Run({"display-message", "-p", "-t", session, "#{pane_dead}"}).out == "1\n";
}

std::string Tmux::Screen(const std::string& session) const {
  return Run({"capture-pane", "-p", "-t", session}).out;
}

bool Eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace testsupport
