// The dialog the host tests show: one control of each kind the host must handle.
// The fake plug-in module shows it (fake_control "form"); the prompt tests read
// lines against it.
//
//   lblInfo      label "Enter your details"
//   edtNumber    edit, hint "Digits only"; its change handler keeps only digits
//   edtPassword  password edit
//   chkRemember  check box
//   cboServer    list-only combo box: "Primary" (selected), "Backup"
//   edtHidden    hidden edit holding "kept"
//   btnHelp      disabled button
//   btnOK        modal result 1 (default button)
//   btnCancel    modal result 2 (cancel button); its handler asks through a
//                message box whether to discard, and keeps the form open on No
#pragma once

#include <string>

#include "qmos/form.h"

namespace host_test {

class TestForm {
 public:
  TestForm();
  TestForm(const TestForm&) = delete;
  TestForm& operator=(const TestForm&) = delete;

  // "result:N\nnumber:..\npassword_hex:..\nchecked:0|1\nserver:..\n": what the
  // dialog's code sees after it closed with result. The password goes as hex, so
  // that its clear text never enters the event stream.
  std::string Outcome(int result) const;

  qmos::Form form{"TFakeForm"};
};

// text as lower-case hex, two digits a byte.
std::string Hex(const std::string& text);

}  // namespace host_test
