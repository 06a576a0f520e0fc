// A tmux server of a test's own, to run a program at a terminal and type into it as
// a person would: its socket in the test's folder, no configuration file, killed with
// everything in it when the object goes.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "testsupport/child_process.h"

namespace testsupport {

class Tmux {
 public:
  // program empty: tmux is not installed (Available() is false).
  explicit Tmux(std::string socket);
  ~Tmux();
  Tmux(const Tmux&) = delete;
  Tmux& operator=(const Tmux&) = delete;

  bool Available() const { return !program_.empty(); }
  // Runs tmux with these arguments on this server.
  Result Run(std::vector<std::string> args) const;
  // Starts command (run by /bin/sh) in a detached 200x50 session named session,
  // whose pane stays after the command ends. False when tmux refused.
  bool Start(const std::string& session, const std::string& command) const;
  // Types text into the session's pane, then Enter.
  void Enter(const std::string& session, const std::string& text) const;
  // How often the pane (its history included) has shown text.
  std::size_t Shown(const std::string& session, const std::string& text) const;
  // Whether the command in the session's pane has ended.
  bool Ended(const std::string& session) const;
  std::string Screen(const std::string& session) const;

 private:
  std::string program_;
  std::string socket_;
};

// Whether done() holds within 30 s, asked every 50 ms.
bool Eventually(const std::function<bool()>& done);

// text quoted for /bin/sh.
std::string ShellQuoted(const std::string& text);

}  // namespace testsupport
