// The smallest Windows client (tests/windows/minimal_host.cpp): no presenter, so the
// plug-in shows the login dialog as a real window. A refused password brings it up,
// the client's person thread types the right one and presses Enter, and the next
// login carries it through to the mailbox server's check and online.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection_fixture.h"
#include "e2e_support.h"

namespace {

using namespace connection_e2e;

// The first line at or after from that is line, or lines.size().
std::size_t Find(const std::vector<std::string>& lines, const std::string& line, std::size_t from) {
  while (from < lines.size() && lines[from] != line) ++from;
  return from;
}

TEST(MinimalHost, ARefusedPasswordShowsTheDialogWhoseTypedPasswordLogsIn) {
  if (!e2e::RealWindows()) GTEST_SKIP() << "needs the Windows build with real windows (VANTIRO_E2E_REAL_WINDOWS)";
  World world;
  ASSERT_EQ(RunProgram(e2e::Tool("regsvr"), {e2e::PluginModule()}, world.Env(), "").status, 0);
  world.SetString(kSettings, "TraceFilesDir", e2e::HostPath(world.Dir()));
  world.SetDword(kSettings, "TraceEnabled", 1);
  world.SetString(kSettings, "InstallDir", e2e::HostPath(world.Dir()));
  Process mux(e2e::BinDir() + "/muxsim",
              {"--make-certs", world.File("mux"), "--profile", std::string(kProfile) + ":" + kPassword,
               "--show-secrets"},
              world.Env(), world.File("muxsim.err"));
  const Event listening = mux.WaitEvent("listening");
  ASSERT_FALSE(listening.is_null()) << mux.ErrorText();
  world.SetString(kSettings, "CACertificate", e2e::HostPath(world.File("mux/ca.pem")));
  Process mc(e2e::BinDir() + "/mcsim",
             {"--cert", world.File("mux/server.pem"), "--key", world.File("mux/server.key"), "--mailbox",
              std::string(kProfile) + ":" + kPassword + ":first_time_user=1,pwd_expiry=+20"},
             world.Env(), world.File("mcsim.err"));
  const Event mcListening = mc.WaitEvent("listening");
  ASSERT_FALSE(mcListening.is_null()) << mc.ErrorText();

  const std::string wrong = "99990000";
  const e2e::Result run = RunProgram(
      e2e::Tool("minimal_host"),
      {"mc_profile=" + std::string(kProfile), "mc_password=" + wrong, "mc_gateway_server=127.0.0.1",
       "--service=multiplexor=127.0.0.1:" + std::to_string(listening["port"].get<int>()),
       "--service=XXX_MessageCenterAPI=127.0.0.1:" + std::to_string(mcListening["port"].get<int>()),
       "--type=" + std::string(kPassword)},
      world.Env(), "", 150000);
  EXPECT_EQ(run.status, 0) << run.out << run.err;

  // What the person saw and did, in order, then online.
  std::vector<std::string> lines = e2e::Lines(run.out);
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();  // the console's line ends
  std::size_t at = 0;
  const std::vector<std::string> expected = {"published mc_login_failed",
                                             "dialog \"Provide a Valid Password \" top_level 1 main_thread 1",
                                             "ok_enabled 0", "ok_enabled 1", "closed", "published mc_logged_in"};
  for (const std::string& line : expected) {
    at = Find(lines, line, at);
    if (at == lines.size()) {
      ADD_FAILURE() << "no \"" << line << "\" in order in:\n" << run.out;
      break;
    }
  }

  // muxsim refused the stored password and accepted the typed one.
  mux.CloseInput();
  EXPECT_EQ(mux.WaitExit(30s), 0) << mux.ErrorText();
  mc.CloseInput();
  EXPECT_EQ(mc.WaitExit(30s), 0) << mc.ErrorText();
  std::vector<std::string> logins;
  std::string helloId;
  for (const Event& e : mux.Events()) {
    if (e["event"] == "frame" && e["command"] == "hello") {
      helloId = e["id"].get<std::string>();
      logins.push_back("hello " + e["fields"]["password"].get<std::string>());
    } else if (e["event"] == "sent" && e["kind"] == "answer" && e["fields"].value("id", "") == helloId) {
      logins.push_back("answer " + e["fields"].value("result", ""));
    }
  }
  EXPECT_EQ(logins, (std::vector<std::string>{"hello " + wrong, "answer password_invalid",
                                              "hello " + std::string(kPassword), "answer ok"}));
  const std::string trace = e2e::ReadFile(world.TraceFile());
  for (const std::string& password : {wrong, std::string(kPassword)})
    EXPECT_EQ(trace.find(password), std::string::npos) << password << " in the trace";
}

}  // namespace
