// The plug-in as the client runs it: registered with regsvr, loaded by qmhost,
// talking TLS to a server that is not ours (openssl s_server).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::Events;
using e2e::Result;
using e2e::RunProgram;
using e2e::World;
using nlohmann::json;

const char* const kSettings = "HKLM\\SOFTWARE\\Quillmere\\Viewer\\Settings";
const char* const kClsid = "{8E902927-A1DF-4A2F-8739-7725DBAEE5C7}";
const char* const kLookup = "service_name:multiplexor\nforced:1\n";

class PluginHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const Result reg = RunProgram(e2e::Tool("regsvr"), {e2e::PluginModule()}, world.Env(), "");
    ASSERT_EQ(reg.status, 0) << reg.out << reg.err;
    // The trace file goes into the world's folder, given in Windows form.
    world.SetString(kSettings, "TraceFilesDir", e2e::HostPath(world.Dir()));
    world.SetDword(kSettings, "TraceEnabled", 1);
  }

  Result Host(const std::string& script, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"--format", "json"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunProgram(e2e::Tool("qmhost"), e2e::HostArgs(args), world.Env(), script);
  }

  std::string Trace() const { return e2e::ReadFile(world.TraceFile()); }

  World world;
};

std::vector<json> OfKind(const std::vector<json>& events, const std::string& kind) {
  std::vector<json> found;
  std::copy_if(events.begin(), events.end(), std::back_inserter(found),
               [&](const json& e) { return e["event"] == kind; });
  return found;
}

std::string Qmreg(const World& world, const std::vector<std::string>& args) {
  return RunProgram(e2e::Tool("qmreg"), args, world.Env(), "").out;
}

TEST_F(PluginHostTest, RegistrationWritesEveryValueAndUnregistrationKeepsTheTypeLibrary) {
  const std::string hostKey = std::string("HKLM\\SOFTWARE\\Quillmere\\Viewer\\Plugins\\") + kClsid;
  const std::string values = Qmreg(world, {"query", hostKey});
  const std::vector<std::string> expected = {
      "short_description    REG_SZ    Vantiro Backend",
      "long_description    REG_SZ    Supplies the necessary connectivity to the Unified "
      "Messaging mailbox",
      "version    REG_SZ    ",
      "install_datetime    REG_SZ    ",
      "update_check_frequency    REG_DWORD    0xb4",
      "mandatory    REG_DWORD    0x0",
      "has_gui    REG_DWORD    0x0",
      "customer    REG_SZ    "};
  // In the order written, as this build's registry lists them; Wine's registry lists
  // a key's values sorted by name, so there only each one is looked for.
  std::size_t at = 0;
  for (const std::string& value : expected) {
    const std::size_t found = values.find(value, at);
    ASSERT_NE(found, std::string::npos) << value << " in order in\n" << values;
    if (!e2e::WindowsHost()) at = found + value.size();
  }
  const std::size_t stamp = values.find("install_datetime    REG_SZ    ") + 30;
  const std::string digits = values.substr(stamp, values.find('\n', stamp) - stamp);
  EXPECT_EQ(digits.size(), 14u);
  EXPECT_TRUE(std::all_of(digits.begin(), digits.end(), ::isdigit)) << digits;

  const std::string classKey = std::string("HKCR\\CLSID\\") + kClsid;
  const std::string server = Qmreg(world, {"query", classKey + "\\InprocServer32"});
  EXPECT_NE(server.find(e2e::PluginModule()), std::string::npos) << server;
  EXPECT_NE(server.find("ThreadingModel    REG_SZ    Apartment"), std::string::npos);
  EXPECT_NE(Qmreg(world, {"query", "HKCR\\VantiroPlugin.Vantiro\\CLSID"}).find(kClsid),
            std::string::npos);

  const Result unreg = RunProgram(e2e::Tool("regsvr"), {"/u", e2e::PluginModule()}, world.Env(), "");
  ASSERT_EQ(unreg.status, 0) << unreg.err;
  EXPECT_EQ(RunProgram(e2e::Tool("qmreg"), {"query", hostKey}, world.Env(), "").status, 1);
  EXPECT_EQ(RunProgram(e2e::Tool("qmreg"), {"query", classKey}, world.Env(), "").status, 1);
  EXPECT_EQ(RunProgram(e2e::Tool("qmreg"), {"query", "HKCR\\VantiroPlugin.Vantiro"}, world.Env(), "")
                .status,
            1);
  EXPECT_EQ(RunProgram(e2e::Tool("qmreg"),
                {"query", "HKCR\\TypeLib\\{557FA17D-8169-4A4A-8F05-DA9CD98F5623}"}, world.Env(), "")
                .status,
            0);
}

TEST_F(PluginHostTest, SubscribesInOrderAndRepeatsTheLookupWhileNoAnswerComes) {
  const Result run = Host(
      "wait \"publish\",\"queue\":\"service_lookup_request\" 10000\n"
      "wait \"publish\",\"queue\":\"service_lookup_request\" 10000\n"
      "wait \"publish\",\"queue\":\"service_lookup_request\" 10000\n"
      "info\nhasgui\nterminate\nquit\n");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::vector<json> events = Events(run.out);

  const std::vector<std::string> queues = {
      "mc_intercept",     "mc_place_call",           "service_lookup_response",
      "mc_hold_call",     "mc_take_message",         "mc_send_message",
      "presence_monitor", "presence_monitor_remove", "presence_monitor_query",
      "presence_monitor_remove_all", "mc_logged_out", "send_im"};
  const std::vector<json> subscribes = OfKind(events, "subscribe");
  ASSERT_EQ(subscribes.size(), queues.size());
  for (std::size_t i = 0; i < queues.size(); ++i) EXPECT_EQ(subscribes[i]["queue"], queues[i]);

  int lookups = 0;
  for (const json& e : OfKind(events, "publish"))
    if (e["queue"] == "service_lookup_request" && e["data"] == kLookup) ++lookups;
  EXPECT_GE(lookups, 3);

  bool sawInfo = false, sawHasGui = false;
  for (const json& e : OfKind(events, "call")) {
    if (e["method"] == "PlugInInfo") {
      sawInfo = true;
      EXPECT_EQ(e["short"], "Vantiro Backend");
      EXPECT_EQ(e["long"], "Supplies the necessary connectivity to the Unified Messaging mailbox");
      EXPECT_FALSE(e["version"].get<std::string>().empty());
      EXPECT_EQ(e["tab"], "");
    }
    if (e["method"] == "HasGUI") {
      sawHasGui = true;
      EXPECT_EQ(e["hresult"], "0x00000001");
    }
  }
  EXPECT_TRUE(sawInfo);
  EXPECT_TRUE(sawHasGui);
}

TEST_F(PluginHostTest, HandshakeSucceedsWithAServerTheConfiguredCaSigned) {
  world.MakeCertificates();
  world.SetString(kSettings, "CACertificate", e2e::HostPath(world.File("ca.pem")));
  e2e::TlsServer server(world.File("server.pem"), world.File("server.key"), world.File("s.log"));
  const std::string service = "multiplexor=127.0.0.1:" + std::to_string(server.Port());
  const Result run = Host("wait service_lookup_response 10000\nsleep 3000\nterminate\nquit\n",
                          {"--service", service});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::string trace = Trace();
  EXPECT_NE(trace.find("SSL_CTX_load_verify_locations() returned successfully"), std::string::npos);
  EXPECT_NE(trace.find("PluginThread::ConnectToMultiplexor(): Connected OK"), std::string::npos)
      << trace;
  EXPECT_EQ(trace.find("verify_callback"), std::string::npos);
}

TEST_F(PluginHostTest, AForeignCertificateFailsTheHandshakeAndTheSupervisorPauses) {
  world.MakeCertificates();
  world.SetString(kSettings, "CACertificate", e2e::HostPath(world.File("ca.pem")));
  e2e::TlsServer server(world.File("foreign.pem"), world.File("foreign.key"), world.File("s.log"));
  const std::string service = "multiplexor=127.0.0.1:" + std::to_string(server.Port());
  // Two attempts: the second lookup follows the 10 s pause (0.5 s at this scale).
  const Result run = Host(
      "wait \"publish\",\"queue\":\"service_lookup_response\" 10000\n"
      "wait \"publish\",\"queue\":\"service_lookup_response\" 10000\n"
      "terminate\nquit\n",
      {"--service", service});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::string trace = Trace();
  EXPECT_NE(trace.find("verify_callback(): SSL handshake problem with certificate from "
                       "[/CN=Foreign Issuer]"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("SSL connection failed SSL Error = "), std::string::npos);
  EXPECT_EQ(trace.find("Connected OK"), std::string::npos);

  std::vector<long> responses;
  for (const json& e : OfKind(Events(run.out), "publish"))
    if (e["queue"] == "service_lookup_response") responses.push_back(e["t"].get<long>());
  ASSERT_GE(responses.size(), 2u);
  EXPECT_GE(responses[1] - responses[0], 450) << "the pause is 10 s scaled by 0.05";
}

TEST_F(PluginHostTest, WithoutACaFileAnyServerIsAccepted) {
  world.MakeCertificates();
  e2e::TlsServer server(world.File("foreign.pem"), world.File("foreign.key"), world.File("s.log"));
  const std::string service = "multiplexor=127.0.0.1:" + std::to_string(server.Port());
  const Result run = Host("wait service_lookup_response 10000\nsleep 3000\nterminate\nquit\n",
                          {"--service", service});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  const std::string trace = Trace();
  EXPECT_NE(trace.find("PluginThread::initialize_ctx(): SSL initialization failure - Trust file [] "
                       "not available!"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find("PluginThread::initialize_ctx(): Skipping verification callback"),
            std::string::npos);
  EXPECT_NE(trace.find("Connected OK"), std::string::npos);
}

// Every trace line starts with "[MM/DD HH:MM:SS.mmm] ".
bool WellStamped(const std::string& line) {
  const std::string shape = "[00/00 00:00:00.000] ";
  if (line.size() < shape.size()) return false;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == '0' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i])
      return false;
  }
  return true;
}

TEST_F(PluginHostTest, TerminatePublishesTheAbortAndTheTraceHoldsTheLifecycle) {
  const Result run = Host("wait service_lookup_request 10000\nterminate\nquit\n");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<json> events = Events(run.out);
  bool aborted = false;
  for (const json& e : OfKind(events, "publish"))
    if (e["queue"] == "mc_logged_out" && e["data"] == "reason:abort\n") aborted = true;
  EXPECT_TRUE(aborted);

  const std::vector<std::string> lines = e2e::Lines(Trace());
  for (const std::string& line : lines) {
    // A traced queue message may span lines; only stamped lines start with '['.
    if (!line.empty() && line[0] == '[') {
      EXPECT_TRUE(WellStamped(line)) << line;
    }
  }
  const std::string trace = Trace();
  for (const char* expected :
       {"*********************************************************",
        "TVantiroImpl::Initialize(): Spawing PluginThread", "TVantiroImpl::Terminate(): Terminating",
        "PluginThread::AbortConnection(): At start",
        "TVantiroImpl::Terminate(): Got a \"pluginThreadTerminatedEvent\" signal",
        "TVantiroImpl::~TVantiroImpl(): Plugin terminating"}) {
    EXPECT_NE(trace.find(expected), std::string::npos) << expected;
  }
}

TEST_F(PluginHostTest, WithTracingOffOnlyTheDestructorsLineIsWritten) {
  world.SetDword(kSettings, "TraceEnabled", 0);
  const Result run = Host("wait service_lookup_request 10000\nterminate\nquit\n");
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = e2e::Lines(Trace());
  ASSERT_EQ(lines.size(), 1u) << Trace();
  EXPECT_TRUE(WellStamped(lines[0]));
  EXPECT_EQ(lines[0].substr(21), "TVantiroImpl::~TVantiroImpl(): Plugin terminating");
}

}  // namespace
