// Helpers of the end-to-end tests: a throw-away world (folder, registry file, trace
// folder), certificates made with the openssl command, programs run to completion
// with a script on standard input, and background servers.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
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

}  // namespace e2e
