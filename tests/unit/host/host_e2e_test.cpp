// End-to-end runs of the built qmhost with the fake plug-in module, registered into
// a registry file of the test's own. Each run feeds a script, takes the event lines
// from --events and the exit status.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "fake_plugin.h"
#include "host_e2e.h"
#include "testsupport/files.h"

namespace {

using host_test::HostE2ETest;
using host_test::HostRun;
using host_test::Json;
using testsupport::ReadFile;
using testsupport::WriteFile;
using host_test::kFakeClsidAText;
using host_test::kFakeClsidBText;

TEST_F(HostE2ETest, DeliversToEverySubscriberIncludingThePublisherFromMainAndWorkerThreads) {
  const HostRun run = Run(
      "publish fake_in hello\\nworld\n"
      "wait \"queue\":\"fake_out\",\"data\":\"hello\\\\nworld\"\n"
      "publish fake_control worker_publish:fake_out\n"
      "wait \"method\":\"Publish\",\"hresult\":\"0x00000000\",\"queue\":\"fake_out\",\"data\":\"from:worker\n"
      "quit\n",
      {"--plugin", host_test::kFakeProgIdA});
  EXPECT_EQ(run.status, 0) << stderr_;
  const std::string a = kFakeClsidAText;
  EXPECT_ORDERED(run, {{"event", "loaded"}, {"clsid", a}},
                 {{"event", "subscribe"}, {"queue", "fake_in"}, {"plugin", a}},
                 {{"event", "call"}, {"method", "Initialize"}, {"hresult", "0x00000000"}},
                 {{"event", "publish"}, {"queue", "fake_in"}, {"data", "hello\nworld"}, {"thread", "main"}},
                 // The plug-in publishes inside the call; the call's event follows its return.
                 {{"event", "publish"}, {"queue", "fake_out"}, {"thread", "main"}, {"plugin", a}},
                 {{"event", "call"}, {"method", "Publish"}, {"queue", "fake_in"}, {"data", "hello\nworld"}},
                 {{"event", "call"}, {"method", "Publish"}, {"queue", "fake_out"}, {"data", "hello\nworld"}},
                 {{"event", "publish"}, {"queue", "fake_out"}, {"data", "from:worker\n"}, {"thread", "worker"}},
                 {{"event", "call"}, {"method", "Publish"}, {"queue", "fake_out"}, {"data", "from:worker\n"}},
                 {{"event", "call"}, {"method", "Terminate"}},
                 {{"event", "exit"}, {"status", 0}, {"loaded_modules", 0}});
  EXPECT_EQ(run.Of("exit").size(), 1u);
  const auto loaded = run.Of("loaded");
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0]["module"], HOST_FAKE_PLUGIN);
  // t and event lead every line.
  EXPECT_EQ(run.text.rfind("{\"t\":", 0), 0u);
  EXPECT_NE(run.text.find(",\"event\":\"loaded\""), std::string::npos);
}

TEST_F(HostE2ETest, AnswersLookupsOfKnownServicesOnly) {
  const HostRun run = Run(
      "publish fake_control lookup:mux\n"
      "wait fake_service\n"
      "service other 10.0.0.2 99\n"
      "publish fake_control lookup:other\n"
      "wait \"queue\":\"fake_service\",\"data\":\"service_name:other\n"
      "service other off\n"
      "publish fake_control lookup:other\\nlookup:nobody\n"
      "wait \"method\":\"Publish\",\"hresult\":\"0x00000001\",\"queue\":\"service_lookup_request\",\"data\":\"service_name:nobody\n",
      {"--plugin", host_test::kFakeProgIdA, "--service", "mux=127.0.0.1:7000"});
  EXPECT_EQ(run.status, 0) << stderr_;
  const std::string muxAnswer = "service_name:mux\nip_address:127.0.0.1\ntcp_port:7000\n";
  EXPECT_ORDERED(run,
                 {{"event", "publish"}, {"queue", "service_lookup_request"}, {"data", "service_name:mux\n"}, {"thread", "main"}},
                 {{"event", "publish"}, {"queue", "service_lookup_response"}, {"data", muxAnswer}, {"thread", "main"}},
                 {{"event", "publish"}, {"queue", "fake_service"}, {"data", muxAnswer}},
                 {{"event", "call"}, {"method", "Publish"}, {"queue", "service_lookup_response"}, {"data", muxAnswer}});
  EXPECT_EQ(run.Count({{"event", "publish"}, {"queue", "service_lookup_response"}}), 2u) << run.text;
  EXPECT_EQ(run.Count({{"event", "publish"},
                       {"queue", "service_lookup_response"},
                       {"data", "service_name:other\nip_address:10.0.0.2\ntcp_port:99\n"}}),
            1u);
}

TEST_F(HostE2ETest, SettingsPersistAcrossRunsPerPlugin) {
  const std::string settings = PathOf("settings.json");
  const HostRun first = Run(
      "set color blue\\tgreen\n"
      "publish fake_control put:shade=dark\\ndelete:absent\n"
      "wait \"event\":\"delete_data\"\n",
      {"--plugin", host_test::kFakeProgIdA, "--settings", settings});
  EXPECT_EQ(first.status, 0) << stderr_;
  EXPECT_ORDERED(first,
                 {{"event", "get_data"}, {"key", "init_count"}, {"hresult", "0x00000001"}},
                 {{"event", "put_data"}, {"key", "init_count"}, {"value", "1"}, {"plugin", kFakeClsidAText}},
                 {{"event", "setting"}, {"key", "color"}, {"value", "blue\tgreen"}},
                 {{"event", "put_data"}, {"key", "shade"}, {"value", "dark"}},
                 {{"event", "delete_data"}, {"key", "absent"}});
  EXPECT_FALSE(first.events.at(static_cast<std::size_t>(first.Find({{"event", "get_data"}}))).contains("value"));
  const Json file = Json::parse(ReadFile(settings));
  EXPECT_EQ(file[kFakeClsidAText]["shade"], "dark");

  const HostRun second = Run(
      "get color\n"
      "unset shade\n"
      "publish fake_control get:shade\n"
      "wait fake_value\n"
      "get nothing\n",
      {"--plugin", host_test::kFakeProgIdA, "--settings", settings});
  EXPECT_EQ(second.status, 0) << stderr_;
  EXPECT_ORDERED(second,
                 {{"event", "get_data"}, {"key", "init_count"}, {"value", "1"}, {"hresult", "0x00000000"}},
                 {{"event", "put_data"}, {"key", "init_count"}, {"value", "2"}},
                 {{"event", "setting"}, {"key", "color"}, {"value", "blue\tgreen"}, {"plugin", kFakeClsidAText}},
                 {{"event", "setting"}, {"key", "shade"}},
                 {{"event", "get_data"}, {"key", "shade"}, {"hresult", "0x00000001"}},
                 {{"event", "publish"}, {"queue", "fake_value"}, {"data", "key:shade\nhr:1\nvalue:\n"}},
                 {{"event", "setting"}, {"key", "nothing"}});
  const Json after = Json::parse(ReadFile(settings));
  EXPECT_EQ(after[kFakeClsidAText]["init_count"], "2");
  EXPECT_FALSE(after[kFakeClsidAText].contains("shade"));
  for (const Json& e : second.Of("setting")) {
    if (e["key"] == "color") continue;
    EXPECT_FALSE(e.contains("value")) << e.dump();
  }
}

// A setting whose key names a password, in any case, shows "***" as its value in the
// put_data, get_data and setting events of both forms, unless --show-secrets.
TEST_F(HostE2ETest, PasswordSettingsShowOnlyStarsUnlessSecretsAreShown) {
  const struct {
    std::vector<std::string> args;
    const char* file;
    std::string value;  // in every line of a password setting
  } runs[] = {{{}, "events.out", R"("value":"***")"},
              {{"--show-secrets"}, "events.out", R"("value":"s3cr3t)"},
              {{"--format", "text"}, "events.txt", R"(value="***")"},
              {{"--format", "text", "--show-secrets"}, "events.txt", R"(value="s3cr3t)"}};
  for (const auto& r : runs) {
    std::vector<std::string> args = r.args;
    args.insert(args.end(), {"--plugin", host_test::kFakeProgIdA});
    const HostRun run = Run("set mc_password s3cr3t-1\nget mc_password\npublish fake_control "
                            "put:Login_PASSWORD=s3cr3t-2\\nput:shade=dark\\nget:mc_password\nwait fake_value\n",
                            args, r.file);
    int secretLines = 0;  // set, get, put_data, get_data (publications carry the plug-in's data)
    std::istringstream lines(run.text);
    for (std::string line; std::getline(lines, line);) {
      if (line.find("ublish") != std::string::npos ||
          (line.find("mc_password") == std::string::npos && line.find("_PASSWORD") == std::string::npos))
        continue;
      ++secretLines;
      EXPECT_NE(line.find(r.value), std::string::npos) << line;
    }
    EXPECT_EQ(secretLines, 4) << run.text;
    EXPECT_NE(run.text.find("dark"), std::string::npos) << run.text;
  }
}

TEST_F(HostE2ETest, MessageBoxesFromWorkersTakeQueuedResultsThenOk) {
  const HostRun run = Run(
      "box 7\n"
      "publish fake_control box:Really?\n"
      "wait fake_box_result\n"
      "publish fake_control box:Again\n"
      "wait result:1\n",
      {"--plugin", host_test::kFakeProgIdA});
  EXPECT_EQ(run.status, 0) << stderr_;
  EXPECT_ORDERED(run,
                 {{"event", "message_box"}, {"title", "Fake"}, {"text", "Really?"}, {"flags", 0x23}, {"result", 7}},
                 {{"event", "publish"}, {"queue", "fake_box_result"}, {"data", "result:7\n"}, {"thread", "worker"}},
                 {{"event", "message_box"}, {"text", "Again"}, {"result", 1}},
                 {{"event", "publish"}, {"queue", "fake_box_result"}, {"data", "result:1\n"}});
}

TEST_F(HostE2ETest, WaitTimeOutEndsTheSessionWithStatusThree) {
  const HostRun run = Run(
      "wait never-written 150\n"
      "publish not_reached x\n",
      {"--plugin", host_test::kFakeProgIdA});
  EXPECT_EQ(run.status, 3) << stderr_;
  EXPECT_ORDERED(run, {{"event", "wait_timeout"}, {"text", "never-written"}},
                 {{"event", "call"}, {"method", "Terminate"}},
                 {{"event", "exit"}, {"status", 3}, {"loaded_modules", 0}});
  EXPECT_EQ(run.Find({{"queue", "not_reached"}}), -1);
}

TEST_F(HostE2ETest, RealWindowsAreRefusedWhereThereAreNone) {
  const HostRun run = Run("publish not_reached x\n", {"--plugin", host_test::kFakeProgIdA, "--windows"});
  EXPECT_EQ(run.status, 2) << stderr_;
  EXPECT_ORDERED(run, {{"event", "error"}}, {{"event", "exit"}, {"status", 2}});
  EXPECT_EQ(run.Find({{"queue", "not_reached"}}), -1);
}

TEST_F(HostE2ETest, FailedActivationsAndInitializeAreErrorsAndTheOthersStillRun) {
  WriteFile(PathOf("settings.json"),
            std::string(R"({")") + kFakeClsidBText + R"(": {"fail_initialize": "B refuses to start"}})");
  const HostRun run = Run(
      "publish fake_in ping\n"
      "wait \"method\":\"Publish\",\"hresult\":\"0x00000000\",\"queue\":\"fake_out\"\n",
      {"--plugin", host_test::kMissingClsidText, "--plugin", host_test::kFakeProgIdB, "--plugin",
       "No.Such.Plugin", "--plugin", "{not-a-guid}", "--plugin", host_test::kFakeProgIdA,
       "--settings", PathOf("settings.json")});
  EXPECT_EQ(run.status, 0) << stderr_;
  const auto errors = run.Of("error");
  ASSERT_EQ(errors.size(), 4u) << run.text;
  EXPECT_NE(errors[0]["message"].get<std::string>().find(host_test::kMissingClsidText), std::string::npos);
  EXPECT_EQ(errors[0]["hresult"], "0x80040154");  // REGDB_E_CLASSNOTREG
  EXPECT_ORDERED(run,
                 {{"event", "call"}, {"method", "Initialize"}, {"hresult", "0x80020009"},
                  {"error", "B refuses to start"}, {"plugin", kFakeClsidBText}},
                 {{"event", "error"}, {"hresult", "0x80020009"}});
  EXPECT_NE(errors[1]["message"].get<std::string>().find("B refuses to start"), std::string::npos);
  EXPECT_NE(errors[2]["message"].get<std::string>().find("No.Such.Plugin"), std::string::npos);
  EXPECT_NE(errors[3]["message"].get<std::string>().find("{not-a-guid}"), std::string::npos);
  // A runs; B, which failed, gets no deliveries and no Terminate.
  EXPECT_EQ(run.Count({{"event", "call"}, {"method", "Publish"}, {"plugin", kFakeClsidAText}}), 2u);
  EXPECT_EQ(run.Count({{"event", "call"}, {"plugin", kFakeClsidBText}}), 1u);
  EXPECT_EQ(run.Count({{"event", "call"}, {"method", "Terminate"}}), 1u);
  EXPECT_EQ(run.Find({{"event", "exit"}, {"status", 0}, {"loaded_modules", 0}}) + 1,
            static_cast<int>(run.events.size()));
}

TEST_F(HostE2ETest, RegisteredPluginsLoadWithoutOptionsAndTextModeIsReadable) {
  const HostRun run = Run(
      "publish fake_in x\n"
      "wait queue=\"fake_out\"\n"
      "wait queue=\"fake_out\"\n",
      {"--format", "text"}, "events.txt");
  EXPECT_EQ(run.status, 0) << stderr_;
  std::istringstream lines(run.text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    EXPECT_EQ(line.rfind("[", 0), 0u) << line;
    EXPECT_EQ(line.find("{\"t\""), std::string::npos) << line;
  }
  EXPECT_GT(count, 10);
  EXPECT_NE(run.text.find(std::string(" loaded module=\"") + HOST_FAKE_PLUGIN + "\" clsid=\"" + kFakeClsidAText + "\""),
            std::string::npos) << run.text;
  EXPECT_NE(run.text.find(std::string("clsid=\"") + kFakeClsidBText + "\""), std::string::npos);
  EXPECT_NE(run.text.find(" publish queue=\"fake_in\" data=\"x\" thread=\"main\""), std::string::npos);
  EXPECT_NE(run.text.find(" exit status=0 loaded_modules=0"), std::string::npos);
}

TEST_F(HostE2ETest, CommandsReachEveryPluginAndBadCommandsAreReported) {
  const HostRun run = Run(
      "publish fake_control caption:Now Validating\\nurl:https://example.com/help\\nunsupported\n"
      "wait \"event\":\"unsupported\"\n"
      "bogus command\n"
      "menu abc\n"
      "menu 1\n"
      "menu-structure\n"
      "info\n"
      "hasgui\n"
      "form TLogin type Edit1 1234; click OK\n"
      "terminate\n"
      "publish fake_in after-terminate\n"
      "quit\n",
      {"--plugin", host_test::kFakeProgIdA, "--plugin", host_test::kFakeProgIdB});
  EXPECT_EQ(run.status, 0) << stderr_;
  const std::string a = kFakeClsidAText;
  EXPECT_ORDERED(run, {{"event", "caption"}, {"text", "Now Validating"}},
                 {{"event", "open_url"}, {"url", "https://example.com/help"}},
                 {{"event", "unsupported"}, {"method", "SetStatusBarText"}},
                 {{"event", "error"}},
                 {{"event", "error"}},
                 {{"event", "call"}, {"method", "MenuOptionSelected"}, {"id", 1}, {"hresult", "0x00000000"}, {"plugin", a}},
                 {{"event", "call"}, {"method", "GetMenuStructure"}, {"structure", "Fake|First=1|Second=2"}},
                 {{"event", "call"}, {"method", "PlugInInfo"}, {"short", "Fake"}, {"long", "A plug-in for host tests"},
                  {"version", "1.2.3"}, {"tab", ""}},
                 {{"event", "call"}, {"method", "HasGUI"}, {"hresult", "0x00000001"}},
                 {{"event", "call"}, {"method", "Terminate"}},
                 {{"event", "publish"}, {"queue", "fake_in"}, {"data", "after-terminate"}},
                 {{"event", "exit"}, {"status", 0}});
  EXPECT_EQ(run.Of("error").size(), 2u) << run.text;
  // Only A has a menu; both answer PlugInInfo and HasGUI; each terminates once.
  EXPECT_EQ(run.Count({{"event", "call"}, {"method", "MenuOptionSelected"}}), 1u);
  EXPECT_EQ(run.Count({{"event", "call"}, {"method", "PlugInInfo"}}), 2u);
  EXPECT_EQ(run.Count({{"event", "call"}, {"method", "Terminate"}}), 2u);
  // Terminated plug-ins get no more deliveries.
  EXPECT_EQ(run.Count({{"event", "call"}, {"queue", "fake_in"}}), 0u);
}

}  // namespace
