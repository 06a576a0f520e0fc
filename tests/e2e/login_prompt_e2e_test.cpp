// The login prompt as the client runs it: a refused password, the dialog answered
// through qmhost's form command, the settings it writes and the login that follows;
// the Connection menu's login, logout and login as another profile.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "connection_fixture.h"
#include "e2e_support.h"
#include "testsupport/tmux.h"

namespace {

using namespace connection_e2e;

const char* const kPluginData = "HKCU\\SOFTWARE\\Quillmere\\Viewer\\PluginData";
const char* const kWrongPassword = "99990000";
const char* const kAbortData = "reason:abort\n";

class LoginPromptTest : public ConnectionTest {
 protected:
  Event Shown() { return host->WaitEvent("form", {{"form", "TInputPasswordForm"}, {"phase", "shown"}}); }
  Event Closed() { return host->WaitEvent("form", {{"form", "TInputPasswordForm"}, {"phase", "closed"}}); }

  // The position just after event in the events read so far.
  std::size_t After(const Event& event) {
    const std::vector<Event> events = host->Events();
    for (std::size_t i = 0; i < events.size(); ++i)
      if (events[i] == event) return i + 1;
    ADD_FAILURE() << "not seen: " << event.dump();
    return events.size();
  }

  // The keys and values the plug-in wrote from position from on.
  std::vector<std::pair<std::string, std::string>> WritesSince(std::size_t from) {
    std::vector<std::pair<std::string, std::string>> writes;
    const std::vector<Event> events = host->Events();
    for (std::size_t i = from; i < events.size(); ++i)
      if (events[i]["event"] == "put_data") writes.emplace_back(events[i]["key"], events[i]["value"]);
    return writes;
  }

  // The plug-in's publications on these queues from position from on, as "queue data".
  std::vector<std::string> PublishedSince(std::size_t from, const std::vector<std::string>& queues) {
    std::vector<std::string> found;
    const std::vector<Event> events = host->Events();
    for (std::size_t i = from; i < events.size(); ++i)
      for (const std::string& queue : queues)
        if (PluginPublished(events[i], queue)) found.push_back(queue + " " + events[i]["data"].get<std::string>());
    return found;
  }
};

TEST_F(LoginPromptTest, ARefusedPasswordPromptsAndOkLogsInWithWhatChanged) {
  host->Send("set pluginTabs 53012");
  host->Send("form TInputPasswordForm type EditServerName mux.example; type edtPassword 1111x2222; "
             "type edtVerify 11112222; click Button1");
  const Event refused = Login(kProfile, kWrongPassword);
  ASSERT_FALSE(refused.is_null());
  EXPECT_FALSE(HostPublication("mc_login_failed", "").is_null());

  const Event shown = Shown();
  ASSERT_FALSE(shown.is_null()) << host->ErrorText();
  EXPECT_EQ(shown["caption"], "Provide a Valid Password ");
  const auto& controls = shown["controls"];
  EXPECT_EQ(controls["edtProfile"]["text"], kProfile);
  EXPECT_EQ(controls["edtPassword"]["text"], "");
  EXPECT_EQ(controls["pluginTabs"]["text"], "01234");
  EXPECT_FALSE(controls["pluginTabs"]["visible"].get<bool>());
  EXPECT_FALSE(controls["Button1"]["enabled"].get<bool>());
  EXPECT_EQ(controls["ComboBoxServerName"]["visible"], false);
  const Event closed = Closed();
  EXPECT_EQ(closed["result"], 1);
  EXPECT_EQ(closed["controls"]["edtPassword"]["text"], "********");  // typed 1111x2222: digits only

  // The next login carries the new password, and it is accepted.
  const Event hello = NextHello();
  ASSERT_FALSE(hello.is_null());
  EXPECT_EQ(hello["fields"]["password"], kPassword);
  EXPECT_FALSE(host->WaitEvent("caption", {{"text", kCaption}}).is_null());
  using Writes = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(WritesSince(After(closed)),
            (Writes{{"pluginTabs", "01234"}, {"paging_enabled", "no"}, {"auto_sign_in", "no"},
                    {"mc_password", kPassword}, {"mc_server_name", "The Default Server"},
                    {"mc_profile", kProfile}, {"mc_gateway_server", "mux.example"},
                    {"mc_last_failed", kProfile}}));
  Finish({kPassword, kWrongPassword});
}

TEST_F(LoginPromptTest, ARejectedPasswordLeftWithExitLogsOutForGood) {
  Mux("login password_invalid");
  host->Send("box 1");
  // The actions run out with the dialog open: "E&xit" is pressed, and warns before
  // the dialog closes.
  host->Send("form TInputPasswordForm type edtProfile 56x78");
  const std::size_t from = host->Count();
  ASSERT_FALSE(Login().is_null());
  const Event warning = NextBox();
  EXPECT_EQ(warning["title"], "Login is Still Processing");
  EXPECT_EQ(Closed()["result"], 2);
  EXPECT_FALSE(HostPublication("mc_login_failed", "").is_null());
  EXPECT_EQ(PublishedSince(from, {"mc_login_failed", "mc_logged_out"}),
            (std::vector<std::string>{"mc_login_failed ", "mc_logged_out reason:abort\n", "mc_login_failed "}));
  host->Send("get mc_profile");
  EXPECT_FALSE(host->WaitEvent("setting", {{"key", "mc_profile"}, {"value", "11"}}).is_null());
  host->Send("get mc_last_failed");
  EXPECT_FALSE(host->WaitEvent("setting", {{"key", "mc_last_failed"}, {"value", "5678"}}).is_null());

  // Logged out: a manual login starts a new connection, with the stored "no profile".
  Mux("login auto");
  host->Send("menu 1200");
  const Event hello = NextHello();
  EXPECT_EQ(hello["fields"]["profile"], "11");
  Finish();
  EXPECT_NE(e2e::ReadFile(world.TraceFile()).find("create a new thread PluginThread"), std::string::npos);
}

TEST_F(LoginPromptTest, TheMenuLogsInAsAnotherProfileLogsOutAndLogsInAgain) {
  host->Send("menu-structure");
  EXPECT_FALSE(host->WaitEvent("call", {{"method", "GetMenuStructure"},
                                        {"structure", "Connection->Login:1200\nConnection->Login As Another "
                                                      "Profile:1203\nConnection->Logout:1201\n"}})
                   .is_null());
  // Configured servers: the one at the stored address is preselected with its codes.
  world.SetDword(kPluginData, "use_server_dropdown", 1);
  world.SetString(std::string(kPluginData) + "\\MCServers\\east", "name", "East");
  world.SetDword(std::string(kPluginData) + "\\MCServers\\east", "paging_enabled", 1);
  world.SetString(std::string(kPluginData) + "\\MCServers\\east", "ipaddress", "MUX.EAST");
  world.SetString(std::string(kPluginData) + "\\MCServers\\east", "country_code", "44");
  world.SetString(std::string(kPluginData) + "\\MCServers\\west", "name", "West");  // no paging: left out
  host->Send("set mc_gateway_server mux.east");
  ASSERT_FALSE(Login().is_null());
  ASSERT_FALSE(host->WaitEvent("caption", {{"text", kCaption}}).is_null());

  Mux("profile 4321 5555");
  host->Send("form TInputPasswordForm type edtProfile 4321; type edtPassword 5555; type edtVerify 5555; click Button1");
  const std::size_t from = host->Count();
  host->Send("menu 1203");
  const Event shown = Shown();
  EXPECT_EQ(shown["controls"]["ComboBoxServerName"]["items"], std::vector<std::string>{"East"});
  EXPECT_EQ(shown["controls"]["ComboBoxServerName"]["text"], "East");
  EXPECT_EQ(Closed()["result"], 1);
  const Event hello = NextHello();
  EXPECT_EQ(hello["fields"]["profile"], "4321");
  EXPECT_EQ(hello["fields"]["password"], "5555");
  // The old connection's abort first; after OK the validation lookup, then the
  // logout that precedes the new login.
  EXPECT_EQ(PublishedSince(from, {"mc_logged_out"}).at(0), std::string("mc_logged_out ") + kAbortData);
  const std::vector<std::string> published = PublishedSince(from, {"mc_logged_out", "service_lookup_request"});
  const std::vector<std::string> restart = {std::string("service_lookup_request ") + kValidationLookup,
                                            "mc_logged_out "};
  EXPECT_NE(std::search(published.begin(), published.end(), restart.begin(), restart.end()), published.end());
  EXPECT_FALSE(host->WaitEvent("caption", {{"text", "Quillmere Client - [Now Validating Password...]"}}).is_null());
  // The new login is accepted: the caption's dots move on.
  ASSERT_FALSE(host->WaitFor([](const Event& e) {
                      return e["event"] == "caption" && e["text"] != "Quillmere Client - [Now Validating Password...]";
                    }, "caption of the new login").is_null());
  host->Send("get default_country_code");
  EXPECT_FALSE(host->WaitEvent("setting", {{"key", "default_country_code"}, {"value", "44"}}).is_null());

  // Logout: the supervisor's abort, then the menu's own.
  const std::size_t logout = host->Count();
  host->Send("menu 1201");
  ASSERT_FALSE(HostPublication("mc_logged_out", "reason:abort").is_null());
  EXPECT_EQ(PublishedSince(logout, {"mc_logged_out"}),
            (std::vector<std::string>{std::string("mc_logged_out ") + kAbortData, "mc_logged_out reason:abort"}));

  // Another profile, left with Exit (nothing queued): logged out it stays, and no
  // supervisor starts (none asks for the multiplexor) until the next prompt's OK,
  // which starts one although none runs.
  host->Send("menu 1203");
  const Event left = Closed();
  EXPECT_EQ(left["result"], 2);
  EXPECT_FALSE(HostPublication("mc_login_failed", "").is_null());
  host->Send("form TInputPasswordForm type edtPassword 5555; type edtVerify 5555; click Button1");
  host->Send("menu 1203");
  const Event again = Shown();
  const std::vector<Event> events = host->Events();
  for (std::size_t i = After(left); i + 1 < After(again); ++i)
    EXPECT_FALSE(PluginPublished(events[i], "service_lookup_request") && events[i]["data"] == kMultiplexorLookup);
  EXPECT_EQ(Closed()["result"], 1);
  EXPECT_EQ(NextHello()["fields"]["profile"], "4321");
  Finish({"5555", kPassword});
}

// A person at the terminal: qmhost --interactive draws the dialog of "Login As
// Another Profile", the password is typed unseen, and OK stores it (the event file
// shows the stored value: --show-secrets).
TEST(LoginDialogAtTerminal, IsFilledAndSubmittedWithThePasswordNeverShown) {
  World world;
  testsupport::Tmux tmux(world.File("tmux.sock"));
  if (!tmux.Available()) GTEST_SKIP() << "tmux is not installed";
  if (e2e::RealWindows()) GTEST_SKIP() << "with real windows the person answers at the screen, not the terminal";
  ASSERT_EQ(RunProgram(e2e::Tool("regsvr"), {e2e::PluginModule()}, world.Env(), "").status, 0);
  testsupport::WriteFile(world.File("script.txt"), "set mc_profile 1234\nmenu 1203\nwait mc_last_failed\nquit\n");
  std::string command = "exec env";
  for (const auto& [name, value] : world.Env()) command += " " + testsupport::ShellQuoted(name + "=" + value);
  command += " " + e2e::HostLauncher();
  for (const std::string& arg : {e2e::Tool("qmhost"), std::string("--plugin"), std::string("VantiroPlugin.Vantiro"),
                                 std::string("--script"), e2e::HostFile(world.File("script.txt")),
                                 std::string("--events"), e2e::HostFile(world.File("events.out")),
                                 std::string("--format"), std::string("json"),
                                 std::string("--interactive"), std::string("--show-secrets")})
    command += " " + testsupport::ShellQuoted(arg);
  ASSERT_TRUE(tmux.Start("host", command));

  // Without their trailing blanks, which Wine's console does not draw.
  const std::string prompt = "TInputPasswordForm>";
  const struct {
    std::string keys, shows;
  } steps[] = {
      {"", prompt},
      {"type EditServerName mux.example", "\"mux.example\""},
      {"edtPassword", "(typing is not shown):"},
      {"55x55", prompt},
      {"edtVerify", "(typing is not shown):"},
      {"5555", prompt},
      {"Button1", "(closed with result 1)"},
  };
  // The password is typed only once its prompt is out, after the terminal stopped
  // echoing: each step waits for one more showing of its text.
  std::map<std::string, std::size_t> seen;
  for (const auto& step : steps) {
    if (!step.keys.empty()) tmux.Enter("host", step.keys);
    const std::size_t times = ++seen[step.shows];
    ASSERT_TRUE(testsupport::Eventually([&] { return tmux.Shown("host", step.shows) >= times; }))
        << step.keys << "\n" << tmux.Screen("host");
  }
  ASSERT_TRUE(testsupport::Eventually([&] { return tmux.Ended("host"); })) << e2e::ReadFile(world.File("events.out"));
  EXPECT_EQ(tmux.Shown("host", "5555"), 0u);
  const std::string events = e2e::ReadFile(world.File("events.out"));
  EXPECT_NE(events.find(R"("key":"mc_password","value":"5555")"), std::string::npos) << events;
  EXPECT_NE(events.find(R"("key":"mc_gateway_server","value":"mux.example")"), std::string::npos);
  EXPECT_EQ(events.find(R"("phase":"closed","caption":"Provide a Valid Password ","result":1)") == std::string::npos,
            false);
}

// The help button and the saved-address chooser as the registry file sets them up,
// through qmhost: with a help URL the shell opens it, without one a box says it is not
// supported; the saved addresses and the stored one are offered once each.
TEST(LoginDialogThroughHost, HelpAndSavedAddressesFollowTheRegistry) {
  const struct {
    std::string helpUrl;
    std::vector<std::string> events;  // in the run's output
  } runs[] = {
      {"https://help.example/um",
       {R"("event":"open_url","url":"https://help.example/um")", R"("items":["10.0.0.1","MUX.example"])",
        R"("style":"DropDown")", R"("key":"mc_gateway_server","value":"10.7.7.7")"}},
      {"", {R"("title":"Feature Not Supported")", R"("hint":"Detects what server is accroding to your profile")"}},
  };
  for (const auto& run : runs) {
    World world;
    ASSERT_EQ(RunProgram(e2e::Tool("regsvr"), {e2e::PluginModule()}, world.Env(), "").status, 0);
    world.SetDword(kPluginData, "use_server_dropdown", 2);
    world.SetString(kPluginData, "SavedIP0", "10.0.0.1");
    world.SetString(kPluginData, "SavedIP1", "MUX.example");
    if (!run.helpUrl.empty()) world.SetString(kPluginData, "help_url", run.helpUrl);
    const e2e::Result host = RunProgram(
        e2e::Tool("qmhost"), e2e::HostArgs({"--plugin", "VantiroPlugin.Vantiro", "--format", "json"}), world.Env(),
        "set mc_gateway_server mux.example\nset mc_profile 1234\n"
        "form TInputPasswordForm click btnTellMe; type ComboBoxServerName 10.7.7.7; type edtPassword 1; "
        "type edtVerify 1; click Button1\nmenu 1203\nwait \"phase\":\"closed\"\nwait mc_last_failed\nquit\n");
    EXPECT_EQ(host.status, 0) << host.err;
    for (const std::string& event : run.events) EXPECT_NE(host.out.find(event), std::string::npos) << event;
  }
}

}  // namespace
