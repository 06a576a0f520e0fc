// Modal forms through the built qmhost: the fake plug-in shows the test form
// (test_form.h) on fake_control "form" and publishes its outcome on
// fake_form_result. Scripted showings take the queued `form` actions; the last
// test fills the form at a terminal (tmux) with --interactive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "fake_plugin.h"
#include "host_e2e.h"
#include "test_form.h"
#include "testsupport/child_process.h"
#include "testsupport/files.h"

namespace {

using host_test::HostE2ETest;
using host_test::HostRun;
using host_test::Json;

// The test form's controls as an event shows them, before anything is done.
Json UntouchedControls() {
  const auto plain = [](const char* text) {
    return Json{{"text", text}, {"visible", true}, {"enabled", true}};
  };
  Json number = plain("");
  number["hint"] = "Digits only";
  Json remember = plain("Remember me");
  remember["checked"] = false;
  Json server = plain("Primary");
  server["items"] = {"Primary", "Backup"};
  server["style"] = "DropDownList";
  Json help = plain("Help");
  help["enabled"] = false;
  return {{"lblInfo", plain("Enter your details")},
          {"edtNumber", number},
          {"edtPassword", plain("")},
          {"chkRemember", remember},
          {"cboServer", server},
          {"edtHidden", {{"text", "kept"}, {"visible", false}, {"enabled", true}}},
          {"btnHelp", help},
          {"btnOK", plain("OK")},
          {"btnCancel", plain("Cancel")}};
}

// The controls once a test has filled the form: the number and the password's mask
// as given, checked, Backup.
Json FilledControls(const std::string& number, const std::string& mask) {
  Json controls = UntouchedControls();
  controls["edtNumber"]["text"] = number;
  controls["edtPassword"]["text"] = mask;
  controls["chkRemember"]["checked"] = true;
  controls["cboServer"]["text"] = "Backup";
  return controls;
}

std::string Outcome(int result, const std::string& number, const std::string& password,
                    bool checked, const std::string& server) {
  return "result:" + std::to_string(result) + "\nnumber:" + number +
         "\npassword_hex:" + host_test::Hex(password) + "\nchecked:" + (checked ? "1" : "0") +
         "\nserver:" + server + "\n";
}

std::string Repeat(const std::string& line, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += line;
  return out;
}

TEST_F(HostE2ETest, ScriptedFormIsFilledThroughItsHandlersAndNeverShowsThePassword) {
  const std::string script =
      "form TFakeForm type edtNumber 1a2b3; type edtPassword s3cr\\;t!; check chkRemember 1; "
      "select cboServer backup; click btnOK; click btnCancel\n"
      "publish fake_control form\n"
      "wait fake_form_result\n";
  const HostRun run = Run(script, {"--plugin", host_test::kFakeProgIdA});
  EXPECT_EQ(run.status, 0) << stderr_;
  EXPECT_ORDERED(run,
                 {{"event", "form"}, {"form", "TFakeForm"}, {"phase", "shown"}, {"caption", "Fake form"},
                  {"controls", UntouchedControls()}},
                 {{"event", "form"}, {"form", "TFakeForm"}, {"phase", "closed"}, {"caption", "Fake form"},
                  {"result", 1}, {"controls", FilledControls("123", "*******")}},
                 {{"event", "publish"}, {"queue", "fake_form_result"},
                  {"data", Outcome(1, "123", "s3cr;t!", true, "Backup")}});
  // Members in their order; only the closed event has a result.
  EXPECT_NE(run.text.find(R"("event":"form","form":"TFakeForm","phase":"shown","caption":"Fake form","controls":{"lblInfo")"),
            std::string::npos) << run.text;
  EXPECT_NE(run.text.find(R"("phase":"closed","caption":"Fake form","result":1,"controls":{)"), std::string::npos);
  // OK closed it: the cancel click after it was not applied (it would ask).
  EXPECT_EQ(run.Of("message_box").size(), 0u);
  EXPECT_EQ(run.Of("error").size(), 0u) << run.text;
  EXPECT_EQ(run.text.find("s3cr"), std::string::npos) << run.text;

  const HostRun text = Run(script, {"--plugin", host_test::kFakeProgIdA, "--format", "text"}, "events.txt");
  EXPECT_EQ(text.status, 0) << stderr_;
  EXPECT_NE(text.text.find(" form form=\"TFakeForm\" phase=\"closed\" caption=\"Fake form\" result=1 "
                           "controls={\"lblInfo\":{\"text\":\"Enter your details\""),
            std::string::npos) << text.text;
  EXPECT_NE(text.text.find(R"("edtPassword":{"text":"*******","visible":true,"enabled":true})"), std::string::npos);
  EXPECT_EQ(text.text.find("s3cr"), std::string::npos);
}

TEST_F(HostE2ETest, FailedActionsAndUnansweredShowingsCloseByTheCancelButtonInQueueOrder) {
  struct Showing {
    const char* actions;  // nullptr: nothing queued
    const char* error;    // the error event's message; nullptr: none
    const char* number;   // edtNumber when closed
  };
  const Showing showings[] = {
      {"type edtMissing 1; click btnOK",
       "form TFakeForm: cannot type: no control edtMissing; closed by its cancel button", ""},
      {"type edtHidden x", "form TFakeForm: cannot type: control edtHidden is hidden; closed by its cancel button", ""},
      {"type edtPassword hunter2; click btnHelp",
       "form TFakeForm: cannot click: control btnHelp is disabled; closed by its cancel button", ""},
      {"select cboServer Nowhere", "form TFakeForm: cannot select: control cboServer has no such item; "
                                   "closed by its cancel button", ""},
      {"type edtNumber 77", nullptr, "77"},  // runs out with the form open
      {nullptr, nullptr, ""},
  };
  std::string script;
  for (const Showing& showing : showings)
    if (showing.actions) script += std::string("form TFakeForm ") + showing.actions + "\n";
  const int count = static_cast<int>(std::size(showings));
  script += "publish fake_control " + Repeat("form\\n", count) + "\n" + Repeat("wait fake_form_result\n", count);
  const HostRun run = Run(script, {"--plugin", host_test::kFakeProgIdA});
  EXPECT_EQ(run.status, 0) << stderr_;

  const auto forms = run.Of("form");
  ASSERT_EQ(forms.size(), 2u * count) << run.text;
  std::vector<std::string> errors;
  for (const Json& e : run.Of("error")) errors.push_back(e["message"]);
  std::vector<std::string> expected;
  for (int i = 0; i < count; ++i) {
    const Json& event = forms[2u * i + 1];
    EXPECT_EQ(event["phase"], "closed");
    EXPECT_EQ(event["result"], 2) << "showing " << i;
    EXPECT_EQ(event["controls"]["edtNumber"]["text"], showings[i].number);
    if (showings[i].error) expected.push_back(showings[i].error);
  }
  EXPECT_EQ(errors, expected);
  EXPECT_EQ(run.Count({{"event", "publish"}, {"queue", "fake_form_result"}, {"data", Outcome(2, "", "", false, "Primary")}}),
            static_cast<std::size_t>(count) - 2);  // the password and 77 showings differ
  // Closing by the cancel button does not run its handler, which would ask.
  EXPECT_EQ(run.Of("message_box").size(), 0u);
  EXPECT_EQ(run.text.find("hunter2"), std::string::npos);
}

TEST_F(HostE2ETest, CancelButtonsNestedMessageBoxTakesTheQueuedBoxResults) {
  const HostRun run = Run(
      "box 7\n"
      "box 6\n"
      "form TFakeForm click btnCancel; type edtNumber 5; click btnOK\n"
      "form TFakeForm click btnCancel; click btnOK\n"
      "publish fake_control form\\nform\n"
      "wait fake_form_result\n"
      "wait fake_form_result\n",
      {"--plugin", host_test::kFakeProgIdA});
  EXPECT_EQ(run.status, 0) << stderr_;
  // No keeps the form open for the next actions; Yes lets Cancel close it.
  EXPECT_ORDERED(run, {{"event", "form"}, {"phase", "shown"}},
                 {{"event", "message_box"}, {"title", "Fake form"}, {"text", "Discard what you entered?"}, {"result", 7}},
                 {{"event", "form"}, {"phase", "closed"}, {"result", 1}},
                 {{"event", "publish"}, {"queue", "fake_form_result"}, {"data", Outcome(1, "5", "", false, "Primary")}},
                 {{"event", "form"}, {"phase", "shown"}},
                 {{"event", "message_box"}, {"result", 6}},
                 {{"event", "form"}, {"phase", "closed"}, {"result", 2}},
                 {{"event", "publish"}, {"queue", "fake_form_result"}, {"data", Outcome(2, "", "", false, "Primary")}});
  EXPECT_EQ(run.Of("message_box").size(), 2u);
}

// ---- At a terminal ----

std::string FindTmux() {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    const auto end = folders.find(':', start);
    const std::string folder = folders.substr(start, end == std::string::npos ? end : end - start);
    const std::string candidate = (folder.empty() ? "." : folder) + "/tmux";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return "";
}

// A tmux server of the test's own (its own socket, no configuration), with one
// session; killed with everything in it when the object goes.
class TmuxSession {
 public:
  explicit TmuxSession(std::string tmux)
      : tmux_(std::move(tmux)), socket_("qmhost-form-test-" + std::to_string(::getpid())) {
    Run({"kill-server"});  // a server left by an earlier run of this process id
  }
  ~TmuxSession() { Run({"kill-server"}); }

  testsupport::Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"-L", socket_, "-f", "/dev/null"});
    return testsupport::RunProgram(tmux_, args, {}, "", 10000);
  }
  // Starts command (a shell command line) in a 200x50 window that stays after it ends.
  bool Start(const std::string& command) {
    return Run({"new-session", "-d", "-s", kName, "-x", "200", "-y", "50", command, ";",
                "set-option", "-t", kName, "remain-on-exit", "on"})
               .status == 0;
  }
  void Enter(const std::string& keys) {
    Run({"send-keys", "-t", kName, "-l", keys});
    Run({"send-keys", "-t", kName, "Enter"});
  }
  // Everything the pane showed, its history included.
  std::string Screen() { return Run({"capture-pane", "-p", "-J", "-S", "-", "-t", kName}).out; }
  // Waits (bounded) until the pane has shown text at least count times.
  bool WaitFor(const std::string& text, std::size_t count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      if (Occurrences(Screen(), text) >= count) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // Waits (bounded) until the program in the pane has ended.
  bool WaitForEnd() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      if (Run({"display-message", "-p", "-t", kName, "#{pane_dead}"}).out == "1\n") return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  static std::size_t Occurrences(const std::string& in, const std::string& text) {
    std::size_t n = 0;
    for (auto at = in.find(text); at != std::string::npos; at = in.find(text, at + 1)) ++n;
    return n;
  }

 private:
  static constexpr const char* kName = "form";
  std::string tmux_;
  std::string socket_;
};

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

TEST_F(HostE2ETest, InteractiveFormIsFilledAtTheTerminalWithThePasswordTypedUnseen) {
  const std::string tmux = FindTmux();
  if (tmux.empty()) GTEST_SKIP() << "tmux is not installed";
  testsupport::WriteFile(PathOf("script.txt"),
                         "publish fake_control form\nwait fake_form_result\nquit\n");
  std::string command = "exec";
  for (const std::string& arg :
       {host_test::QmhostPath(), std::string("--registry"), registry_, std::string("--script"), PathOf("script.txt"),
        std::string("--events"), PathOf("events.out"), std::string("--plugin"),
        std::string(host_test::kFakeProgIdA), std::string("--interactive")})
    command += " " + ShellQuoted(arg);
  TmuxSession session(tmux);
  ASSERT_TRUE(session.Start(command));

  const std::string prompt = "TFakeForm> ";
  const std::string password = "pa55word";
  struct Step {
    std::string keys;   // entered, then Enter; none for the first
    std::string shows;  // what the pane shows once the step is done
    bool prompts;       // whether it then asks for the next entry at the form prompt
  };
  const Step steps[] = {
      {"", prompt, true},
      {"type edtNumber 4x2", "\"42\"  hint", true},
      {"click btnHelp", "! control btnHelp is disabled", true},
      {"edtPassword", "edtPassword (typing is not shown): ", false},
      {password, "\"********\"  password", true},
      {"select cboServer backup", "\"Backup\"  DropDownList", true},
      {"chkRemember", "[x]", true},
      {"btnOK", "(closed with result 1)", false},
  };
  // Each entry waits for what the one before it shows: the password is typed only
  // once its prompt is out, which is after the terminal stopped echoing.
  std::size_t prompts = 0;
  for (const Step& step : steps) {
    if (!step.keys.empty()) session.Enter(step.keys);
    ASSERT_TRUE(session.WaitFor(step.shows)) << "after \"" << step.keys << "\":\n" << session.Screen();
    if (step.prompts) {
      ASSERT_TRUE(session.WaitFor(prompt, ++prompts)) << session.Screen();
    }
  }
  ASSERT_TRUE(session.WaitForEnd()) << session.Screen() << "\n" << testsupport::ReadFile(PathOf("events.out"))
      << session.Run({"display-message", "-p", "-t", "form", "#{pane_dead} #{pane_pid} #{pane_current_command}"}).out;
  const std::string screen = session.Screen();
  EXPECT_EQ(screen.find(password), std::string::npos) << screen;

  const HostRun run = host_test::ReadEventFile(PathOf("events.out"));
  EXPECT_ORDERED(run, {{"event", "form"}, {"phase", "shown"}, {"controls", UntouchedControls()}},
                 {{"event", "form"}, {"phase", "closed"}, {"result", 1},
                  {"controls", FilledControls("42", "********")}},
                 {{"event", "publish"}, {"queue", "fake_form_result"},
                  {"data", Outcome(1, "42", password, true, "Backup")}},
                 {{"event", "exit"}, {"status", 0}});
  EXPECT_EQ(run.Of("error").size(), 0u) << run.text;
  EXPECT_EQ(run.text.find(password), std::string::npos);
}

}  // namespace
