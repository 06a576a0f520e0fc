// Helpers of the end-to-end tests: a throw-away world (folder, registry, trace
// folder, certificates), the JSON event lines of a run, and `openssl s_server` as a
// TLS server that is not ours. Programs are run and driven with the shared
// child-process helpers.
//
// Two hosts: by default the client's side (qmhost, regsvr, qmreg and the module) is
// this build's. With VANTIRO_E2E_WINDOWS_BIN naming a Windows build's bin/ folder it
// is that build's, run under Wine in the Wine prefix of the environment, while
// muxsim, mcsim and the tests stay this build's. The Windows side keeps its settings
// in the prefix's registry, which every world then shares: the tests run one at a
// time, and each world starts from a registry without the client's keys.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "testsupport/child_process.h"
#include "testsupport/files.h"
#include "testsupport/temp_dir.h"

namespace e2e {

using testsupport::BinDir;
using testsupport::HasMembers;
using testsupport::LibDir;
using testsupport::Lines;
using testsupport::Process;
using testsupport::ReadFile;
using testsupport::Result;
using testsupport::RunProgram;

// Whether the client's side is the Windows build's (see above).
bool WindowsHost();
// The client's side's programs: "qmhost", "regsvr", "qmreg".
std::string Tool(const std::string& name);
// The module as regsvr is given it and as its registration names it: this build's
// VantiroPlugin.so, or the Windows build's VantiroPlugin.dll by its Windows path.
std::string PluginModule();
// A file or folder of the world as the client's side names it in its settings: a
// path with a drive, as on Windows ("C:/tmp/x", which this build's libqmos reads as
// /tmp/x; "Z:\tmp\x" for Wine, whose drive Z: is the root of this system).
std::string HostPath(const std::string& path);
// A file of the world as the client's side takes it on its command line: the path
// itself, or its Windows form for Wine.
std::string HostFile(const std::string& path);
// What a shell command line puts before a client's side's program: "wine " or "".
std::string HostLauncher();
// Whether qmhost shows real windows (VANTIRO_E2E_REAL_WINDOWS set with the Windows
// client's side): the forms and message boxes are then the system's windows, driven
// by qmhost --windows, under the X display of the environment.
bool RealWindows();
// qmhost's arguments, with --windows added when RealWindows().
std::vector<std::string> HostArgs(std::vector<std::string> args);

// A fresh folder removed with its content at the end.
class World {
 public:
  World();
  const std::string& Dir() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }
  // The environment every program of this world gets: its registry file and the
  // time scale (0.05 unless set before the programs start).
  std::map<std::string, std::string> Env() const;
  void SetTimeScale(const std::string& scale) { timeScale_ = scale; }
  std::string TraceFile() const { return File("VantiroBackend.out"); }

  // A CA (ca.pem), a server certificate it signs (server.pem, server.key) and a
  // self-signed one of another issuer (foreign.pem, foreign.key).
  void MakeCertificates();
  // Registry settings through the client's side's qmreg.
  void SetString(const std::string& key, const std::string& name, const std::string& value);
  void SetDword(const std::string& key, const std::string& name, unsigned value);

 private:
  testsupport::TempDir dir_;
  std::string timeScale_ = "0.05";
};

// A "kB" value of /proc/PID/status (VmData, VmRSS ...), or -1.
long StatusKb(pid_t pid, const std::string& name);

// The JSON event lines of a qmhost run.
std::vector<nlohmann::json> Events(const std::string& out);

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
