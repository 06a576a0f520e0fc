// The dialog the host tests show (fake_control "form") and read prompt lines
// against: lblInfo (a label), edtNumber (hint "Digits only"; its handler keeps only
// digits), edtPassword (a password edit), chkRemember, cboServer (list only:
// "Primary", selected, and "Backup"), edtHidden (hidden, holding "kept"), btnHelp
// (disabled), btnOK (result 1) and btnCancel (result 2; its handler asks through a
// message box whether to discard, and keeps the form open on No).
#pragma once

#include <string>

#include "qmos/form.h"

namespace host_test {

struct TestForm {
  TestForm();
  // "result:N\nnumber:..\npassword_hex:..\nchecked:0|1\nserver:..\n": what the
  // dialog's code sees; the password as hex, so its clear text never reaches an event.
  std::string Outcome(int result) const;

  qmos::Form form{"TFakeForm"};
};

std::string Hex(const std::string& text);

}  // namespace host_test
