#include "e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "testsupport/test_pki.h"

namespace e2e {

namespace {

// The Windows build's bin/ folder, or "".
std::string WindowsBin() {
  const char* bin = std::getenv("VANTIRO_E2E_WINDOWS_BIN");
  return bin ? bin : "";
}

// The keys of the client's side that a world must start without, removed by one
// import.
const char* const kClientKeysRemoved =
    "Windows Registry Editor Version 5.00\n\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmere]\n\n"
    "[-HKEY_CURRENT_USER\\Software\\Quillmere]\n\n"
    "[-HKEY_CLASSES_ROOT\\VantiroPlugin.Vantiro]\n\n"
    "[-HKEY_CLASSES_ROOT\\CLSID\\{8E902927-A1DF-4A2F-8739-7725DBAEE5C7}]\n";

}  // namespace

bool WindowsHost() { return !WindowsBin().empty(); }

std::string Tool(const std::string& name) {
  return WindowsHost() ? WindowsBin() + "/" + name + ".exe" : BinDir() + "/" + name;
}

std::string PluginModule() {
  return WindowsHost() ? HostPath(WindowsBin() + "/VantiroPlugin.dll") : LibDir() + "/VantiroPlugin.so";
}

std::string HostPath(const std::string& path) {
  if (!WindowsHost()) return "C:" + path;
  std::string windows = "Z:" + path;
  for (char& c : windows)
    if (c == '/') c = '\\';
  return windows;
}

std::string HostFile(const std::string& path) { return WindowsHost() ? HostPath(path) : path; }

std::string HostLauncher() { return WindowsHost() ? "wine " : ""; }

bool RealWindows() { return WindowsHost() && std::getenv("VANTIRO_E2E_REAL_WINDOWS") != nullptr; }

std::vector<std::string> HostArgs(std::vector<std::string> args) {
  if (RealWindows()) args.emplace_back("--windows");
  return args;
}

World::World() {
  if (!WindowsHost()) return;
  testsupport::WriteFile(File("clean.reg"), kClientKeysRemoved);
  const Result r = RunProgram(Tool("qmreg"), {"import", HostPath(File("clean.reg"))}, Env(), "");
  if (r.status != 0) throw std::runtime_error("qmreg import failed: " + r.err);
}

std::map<std::string, std::string> World::Env() const {
  if (WindowsHost()) return {{"VANTIRO_TIME_SCALE", timeScale_}, {"WINEDEBUG", "-all"}};
  return {{"QUILLMERE_REGISTRY", File("registry.reg")}, {"VANTIRO_TIME_SCALE", timeScale_}};
}

void World::MakeCertificates() {
  testsupport::TestPki(File("ca.pem"), File("server.pem"), File("server.key"), "Vantiro Test CA");
  testsupport::WriteSelfSigned(File("foreign.pem"), File("foreign.key"), "Foreign Issuer");
}

namespace {

// qmreg add with args; what failed, with qmreg's status and output, as an exception.
void AddValue(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
  const Result r = RunProgram(Tool("qmreg"), args, env, "");
  if (r.status != 0)
    throw std::runtime_error("qmreg add failed (status " + std::to_string(r.status) + "): " + r.err + r.out);
}

}  // namespace

void World::SetString(const std::string& key, const std::string& name, const std::string& value) {
  AddValue({"add", key, "/v", name, "/d", value, "/f"}, Env());
}

void World::SetDword(const std::string& key, const std::string& name, unsigned value) {
  AddValue({"add", key, "/v", name, "/t", "REG_DWORD", "/d", std::to_string(value), "/f"}, Env());
}

long StatusKb(pid_t pid, const std::string& name) {
  for (const std::string& line : Lines(ReadFile("/proc/" + std::to_string(pid) + "/status")))
    if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
  return -1;
}

std::vector<nlohmann::json> Events(const std::string& out) {
  std::vector<nlohmann::json> events;
  for (const std::string& line : Lines(out)) {
    if (!line.empty()) events.push_back(nlohmann::json::parse(line));
  }
  return events;
}

TlsServer::TlsServer(const std::string& cert, const std::string& key, const std::string& log) {
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) throw std::runtime_error("cannot create " + log);
  // Its standard input stays open: s_server ends a connection when that input ends.
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = testsupport::Spawn("/usr/bin/openssl",
                            {"s_server", "-accept", "127.0.0.1:0", "-cert", cert, "-key", key},
                            {}, in[0], out, out);
  close(in[0]);
  input_ = in[1];
  close(out);
  // s_server says "ACCEPT 127.0.0.1:PORT" once it listens.
  const std::string marker = "ACCEPT 127.0.0.1:";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (port_ == 0 && std::chrono::steady_clock::now() < deadline) {
    const std::string seen = ReadFile(log);
    const auto at = seen.find(marker);
    if (at != std::string::npos && seen.find('\n', at) != std::string::npos) {
      port_ = std::atoi(seen.c_str() + at + marker.size());
    } else {
      usleep(20000);
    }
  }
  if (port_ == 0) {
    close(input_);
    kill(-pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    throw std::runtime_error("openssl s_server did not start: " + ReadFile(log));
  }
}

TlsServer::~TlsServer() {
  close(input_);
  kill(-pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

}  // namespace e2e
