// Modal forms through the built qmhost: the fake plug-in shows the test form
// (test_form.h) on fake_control "form" and publishes its outcome on
// fake_form_result. Scripted showings take the queued `form` actions. (A form
// filled at a terminal is tried with the plug-in's own login dialog, in tests/e2e.)
#include <gtest/gtest.h>

#include <string>
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
constexpr auto npos = std::string::npos;

Json ShownControls() {
  return Json::parse(R"({
    "lblInfo": {"text": "Enter your details", "visible": true, "enabled": true},
    "edtNumber": {"text": "", "visible": true, "enabled": true, "hint": "Digits only"},
    "edtPassword": {"text": "", "visible": true, "enabled": true},
    "chkRemember": {"text": "Remember me", "visible": true, "enabled": true, "checked": false},
    "cboServer": {"text": "Primary", "visible": true, "enabled": true, "items": ["Primary", "Backup"],
                  "style": "DropDownList"},
    "edtHidden": {"text": "kept", "visible": false, "enabled": true},
    "btnHelp": {"text": "Help", "visible": true, "enabled": false},
    "btnOK": {"text": "OK", "visible": true, "enabled": true},
    "btnCancel": {"text": "Cancel", "visible": true, "enabled": true}})");
}

// The controls once a test filled the form: checked, Backup, and as given.
Json FilledControls(const std::string& number, const std::string& mask) {
  Json controls = ShownControls();
  controls["edtNumber"]["text"] = number;
  controls["edtPassword"]["text"] = mask;
  controls["chkRemember"]["checked"] = true;
  controls["cboServer"]["text"] = "Backup";
  return controls;
}

std::string Outcome(int result, const std::string& number, const std::string& password, bool checked,
                    const std::string& server) {
  return "result:" + std::to_string(result) + "\nnumber:" + number + "\npassword_hex:" +
         host_test::Hex(password) + "\nchecked:" + (checked ? "1" : "0") + "\nserver:" + server + "\n";
}

TEST_F(HostE2ETest, ScriptedFormsAreFilledThroughTheirHandlersInQueueOrderAndNeverShowThePassword) {
  // First showing: No to Cancel's question keeps the form open for OK; the click
  // after OK is dropped. Second: Yes lets Cancel close it.
  const std::string script =
      "box 7\nbox 6\n"
      "form TFakeForm type edtNumber 1a2b3; type edtPassword s3cr\\;t!; check chkRemember 1; "
      "select cboServer backup; click btnCancel; click btnOK; click btnCancel\n"
      "form TFakeForm click btnCancel; click btnOK\n"
      "publish fake_control form\\nform\n"
      "wait fake_form_result\nwait fake_form_result\n";
  const HostRun run = Run(script, {"--plugin", host_test::kFakeProgIdA});
  EXPECT_EQ(run.status, 0) << stderr_;
  EXPECT_ORDERED(run,
                 {{"event", "form"}, {"form", "TFakeForm"}, {"phase", "shown"}, {"caption", "Fake form"},
                  {"controls", ShownControls()}},
                 {{"event", "message_box"}, {"title", "Fake form"}, {"text", "Discard what you entered?"}, {"result", 7}},
                 {{"event", "form"}, {"form", "TFakeForm"}, {"phase", "closed"}, {"caption", "Fake form"},
                  {"result", 1}, {"controls", FilledControls("123", "*******")}},
                 {{"event", "publish"}, {"queue", "fake_form_result"}, {"data", Outcome(1, "123", "s3cr;t!", true, "Backup")}},
                 {{"event", "form"}, {"phase", "shown"}, {"controls", ShownControls()}},
                 {{"event", "message_box"}, {"result", 6}},
                 {{"event", "form"}, {"phase", "closed"}, {"result", 2}});
  EXPECT_EQ(run.Of("message_box").size(), 2u);
  EXPECT_EQ(run.Of("error").size(), 0u) << run.text;
  EXPECT_NE(run.text.find(R"("event":"form","form":"TFakeForm","phase":"closed","caption":"Fake form","result":1,"controls":{"lblInfo")"),
            npos);
  EXPECT_EQ(run.text.find("s3cr"), npos) << run.text;

  const HostRun text = Run(script, {"--plugin", host_test::kFakeProgIdA, "--format", "text"}, "events.txt");
  EXPECT_NE(text.text.find(R"( form form="TFakeForm" phase="closed" caption="Fake form" result=1 controls={"lblInfo":)"),
            npos) << text.text;
  EXPECT_EQ(text.text.find("s3cr"), npos);
}

TEST_F(HostE2ETest, FailedActionsAndUnansweredShowingsCloseByTheCancelButton) {
  struct Showing {
    const char* actions;  // nullptr: nothing queued
    const char* error;    // what the error event says after "form TFakeForm: cannot "
    const char* number;   // edtNumber when closed
  };
  const Showing showings[] = {
      {"type edtMissing 1; click btnOK", "type: no control edtMissing", ""},
      {"type edtHidden x", "type: control edtHidden is hidden", ""},
      {"type edtPassword hunter2; click btnHelp", "click: control btnHelp is disabled", ""},
      {"select cboServer Nowhere", "select: control cboServer has no such item", ""},
      {"type edtNumber 77", nullptr, "77"},  // runs out with the form open
      {nullptr, nullptr, ""},
  };
  std::string script, show;
  for (const Showing& showing : showings) {
    if (showing.actions) script += std::string("form TFakeForm ") + showing.actions + "\n";
    show += "form\\n";
  }
  script += "publish fake_control " + show + "\nwait \"method\":\"Publish\",\"hresult\":\"0x00000000\",\"queue\":\"fake_control\"\n";
  const HostRun run = Run(script, {"--plugin", host_test::kFakeProgIdA});
  EXPECT_EQ(run.status, 0) << stderr_;
  const auto forms = run.Of("form");
  ASSERT_EQ(forms.size(), 2 * std::size(showings)) << run.text;
  std::vector<std::string> errors, expected;
  for (const Json& e : run.Of("error")) errors.push_back(e["message"]);
  for (std::size_t i = 0; i < std::size(showings); ++i) {
    EXPECT_EQ(forms[2 * i + 1]["result"], 2) << "showing " << i;
    EXPECT_EQ(forms[2 * i + 1]["controls"]["edtNumber"]["text"], showings[i].number);
    if (showings[i].error)
      expected.push_back(std::string("form TFakeForm: cannot ") + showings[i].error + "; closed by its cancel button");
  }
  EXPECT_EQ(errors, expected);
  // The cancel button is pressed each time: its handler asks (unqueued: OK, so it closes).
  const auto boxes = run.Of("message_box");
  EXPECT_EQ(boxes.size(), std::size(showings));
  for (const Json& box : boxes) EXPECT_EQ(box["text"], "Discard what you entered?");
  EXPECT_EQ(run.text.find("hunter2"), npos);
}

}  // namespace
