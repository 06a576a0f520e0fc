// The interactive form prompt: what each kind of line asks for, against the test
// form. Above all, a password never comes from a line that showed it, and nobody
// is asked for text a control cannot take.
#include <gtest/gtest.h>

#include "qmhost/form_terminal.h"
#include "test_form.h"

namespace {

using Kind = qmhost::FormPromptEntry::Kind;
using Action = qmhost::FormAction::Kind;

TEST(FormPrompt, ReadsEachLineAgainstTheFormAsItStands) {
  struct Case {
    const char* line;
    Kind kind;
    const char* detail;  // Apply: the control; Ask*: the control; Refused: part of the message
    Action action = Action::Click;
    const char* text = "";
  };
  const Case cases[] = {
      {"", Kind::Nothing, ""},
      {"   ", Kind::Nothing, ""},
      {"show", Kind::Show, ""},
      {"?", Kind::Help, ""},
      {"help ", Kind::Help, ""},
      {"cancel", Kind::Cancel, ""},
      {"type edtNumber 4 2\\t", Kind::Apply, "edtNumber", Action::Type, "4 2\t"},
      {"check chkRemember 1\r", Kind::Apply, "chkRemember", Action::Check},
      {"select cboServer Backup", Kind::Apply, "cboServer", Action::Select, "Backup"},
      {"click btnOK", Kind::Apply, "btnOK", Action::Click},
      // A control's name alone.
      {"edtNumber", Kind::AskText, "edtNumber"},
      {"edtPassword", Kind::AskHidden, "edtPassword"},
      {"cboServer", Kind::AskItem, "cboServer"},
      {"chkRemember", Kind::Apply, "chkRemember", Action::Click},
      {"  btnCancel", Kind::Apply, "btnCancel", Action::Click},
      {"edtHidden", Kind::Refused, "control edtHidden is hidden"},
      {"btnHelp", Kind::Refused, "control btnHelp is disabled"},
      {"lblInfo", Kind::Refused, "control lblInfo does not take this action"},
      {"nothing", Kind::Refused, "no command or control \"nothing\""},
      // A password is typed unseen only; emptying the box shows nothing.
      {"type edtPassword s3cret", Kind::Refused, "edtPassword takes a password"},
      {"type edtPassword", Kind::Apply, "edtPassword", Action::Type, ""},
      {"click", Kind::Refused, "click: expected"},
      {"check chkRemember yes", Kind::Refused, "check: expected"},
      {"press btnOK", Kind::Refused, "unknown action \"press\""},
  };
  host_test::TestForm dialog;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const qmhost::FormPromptEntry entry = qmhost::ParseFormPrompt(dialog.form, c.line);
    EXPECT_EQ(entry.kind, c.kind);
    switch (c.kind) {
      case Kind::Apply:
        EXPECT_EQ(entry.action.kind, c.action);
        EXPECT_EQ(entry.action.control, c.detail);
        EXPECT_EQ(entry.action.text, c.text);
        break;
      case Kind::AskText:
      case Kind::AskHidden:
      case Kind::AskItem:
        EXPECT_EQ(entry.control, c.detail);
        break;
      case Kind::Refused:
        EXPECT_NE(entry.message.find(c.detail), std::string::npos) << entry.message;
        EXPECT_EQ(entry.message.find("s3cret"), std::string::npos);
        break;
      default:
        break;
    }
  }
  EXPECT_EQ(dialog.form.ModalResult(), qmos::mrNone);  // reading applies nothing
}

}  // namespace
