// Helpers of the end-to-end tests: a throw-away world (folder, registry file, trace
// folder), certificates made with the openssl command, programs run to completion
// with a script on standard input, and background servers.
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

namespace e2e {

std::string BinDir();
std::string LibDir();
std::string PluginModule();  // VantiroPlugin.so of this build

// A fresh folder removed with its content at the end.
class World {
 public:
  World();
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  const std::string& Dir() const { return dir_; }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  // The environment every program of this world gets: its registry file and the
  // time scale.
  std::map<std::string, std::string> Env() const;
  std::string TraceFile() const { return File("VantiroBackend.out"); }

  // A CA (ca.pem), a server certificate it signs (server.pem, server.key) and a
  // self-signed one of another issuer (foreign.pem, foreign.key).
  void MakeCertificates();
  // Registry settings through qmreg.
  void SetString(const std::string& key, const std::string& name, const std::string& value);
  void SetDword(const std::string& key, const std::string& name, unsigned value);

 private:
  std::string dir_;
};

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs program with args and env (added to this process's), feeding input on its
// standard input; kills it after timeoutMs.
Result RunProgram(const std::string& program, const std::vector<std::string>& args,
           const std::map<std::string, std::string>& env, const std::string& input,
           int timeoutMs = 60000);

// The JSON event lines of a qmhost run.
std::vector<nlohmann::json> Events(const std::string& out);

std::string ReadFile(const std::string& path);
std::vector<std::string> Lines(const std::string& text);

// `openssl s_server` on 127.0.0.1 with a port the system picks, writing what it says
// to log; stopped on destruction.
class TlsServer {
 public:
  TlsServer(const std::string& cert, const std::string& key, const std::string& log);
  ~TlsServer();
  TlsServer(const TlsServer&) = delete;
  TlsServer& operator=(const TlsServer&) = delete;
  int Port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int port_ = 0;
};

// A program running in the background for as long as a test drives it: command lines
// go to its standard input, and every line it writes on standard output is read as it
// comes and kept as a JSON event (in member order), so that it never blocks on a full
// pipe. Standard error goes to errorLog. Used for qmhost and muxsim, whose event lines
// are JSON objects beginning with "t" and "event".
class Process {
 public:
  using Event = nlohmann::ordered_json;
  using Match = std::function<bool(const Event&)>;

  Process(const std::string& program, const std::vector<std::string>& args,
          const std::map<std::string, std::string>& env, const std::string& errorLog);
  // Closes the input and waits for the end (at most 20 s, then kills the program).
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Writes one line (a line feed is added).
  void Send(const std::string& line);
  void CloseInput();

  // The next event after those already returned by a wait for which match holds;
  // events passed over stay in Events(). On time-out a test failure naming what was
  // awaited, and a null event.
  Event WaitFor(const Match& match, const std::string& what,
                std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // The next event named name whose members include every member of subset.
  Event WaitEvent(const std::string& name, const Event& subset = Event::object(),
                  std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Whether an event at or after position from matches, waiting for it if need be;
  // the cursor of WaitFor does not move.
  bool Saw(const Match& match, std::size_t from,
           std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Every event read so far.
  std::vector<Event> Events();
  std::size_t Count();

  // The exit status (128 + signal for a killed program), or nullopt while it runs.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout);
  std::string ErrorText() const;

 private:
  void ReadLines();

  std::string errorLog_;
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

}  // namespace e2e
