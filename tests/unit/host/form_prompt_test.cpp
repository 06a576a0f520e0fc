// The interactive form prompt's lines, read against the test form: a password is
// never taken from a line that showed it, and nobody is asked for text a control
// cannot take.
#include <gtest/gtest.h>

#include "qmhost/form_terminal.h"
#include "test_form.h"

namespace {

TEST(FormPrompt, ReadsEachLineAgainstTheFormAsItStands) {
  using Kind = qmhost::FormPromptEntry::Kind;
  struct Case {
    const char* line;
    Kind kind;
    const char* detail;  // the control it names, or part of the refusal
  };
  const Case cases[] = {
      {"  ", Kind::Nothing, ""},
      {"help ", Kind::Help, ""},
      {"edtNumber", Kind::AskText, "edtNumber"},
      {"edtPassword", Kind::AskHidden, "edtPassword"},
      {"cboServer", Kind::AskItem, "cboServer"},
      {"chkRemember", Kind::Apply, "chkRemember"},
      {"edtHidden", Kind::Refused, "control edtHidden is hidden"},
      {"btnHelp", Kind::Refused, "control btnHelp is disabled"},
      {"lblInfo", Kind::Refused, "control lblInfo does not take this action"},
      {"nothing", Kind::Refused, "no command or control \"nothing\""},
      {"type edtPassword s3cret", Kind::Refused, "edtPassword takes a password"},
      {"type edtPassword", Kind::Apply, "edtPassword"},  // emptying it shows nothing
      {"press btnOK", Kind::Refused, "unknown action"},
  };
  host_test::TestForm dialog;
  for (const Case& c : cases) {
    const qmhost::FormPromptEntry entry = qmhost::ParseFormPrompt(dialog.form, c.line);
    EXPECT_EQ(entry.kind, c.kind) << c.line;
    const std::string detail = c.kind == Kind::Refused ? entry.message
                               : c.kind == Kind::Apply ? entry.action.control
                                                       : entry.control;
    EXPECT_NE(detail.find(c.detail), std::string::npos) << c.line << ": " << detail;
    EXPECT_EQ(entry.message.find("s3cret"), std::string::npos);
  }
}

}  // namespace
