#include "test_form.h"

#include "qmos/application.h"
#include "qmos/message_box.h"

namespace host_test {

using namespace qmos;

std::string Hex(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : text) out += {kDigits[c >> 4], kDigits[c & 15]};
  return out;
}

TestForm::TestForm() {
  form.caption = "Fake form";
  form.Add<Label>("lblInfo").caption = "Enter your details";
  Edit& number = form.Add<Edit>("edtNumber");
  number.hint = "Digits only";
  number.onChange = [&number] {
    std::string digits;
    for (const char c : number.Text())
      if (c >= '0' && c <= '9') digits += c;
    number.SetText(digits);
  };
  form.Add<Edit>("edtPassword").passwordChar = '*';
  form.Add<CheckBox>("chkRemember").caption = "Remember me";
  ComboBox& server = form.Add<ComboBox>("cboServer");
  server.SetStyle(ComboStyle::DropDownList);
  server.AddItem("Primary");
  server.AddItem("Backup");
  server.SetItemIndex(0);
  Edit& hidden = form.Add<Edit>("edtHidden");
  hidden.visible = false;
  hidden.SetText("kept");
  const auto button = [this](const char* name, const char* caption, int result) -> Button& {
    Button& added = form.Add<Button>(name);
    added.caption = caption;
    added.modalResult = result;
    return added;
  };
  button("btnHelp", "Help", mrNone).enabled = false;
  button("btnOK", "OK", mrOk).isDefault = true;
  Button& cancel = button("btnCancel", "Cancel", mrCancel);
  cancel.isCancel = true;
  cancel.onClick = [this] {
    if (Application::Instance().MessageBox("Discard what you entered?", "Fake form", MB_YESNO) == IDNO)
      form.SetModalResult(mrNone);
  };
}

std::string TestForm::Outcome(int result) const {
  return "result:" + std::to_string(result) + "\nnumber:" + form.Get<Edit>("edtNumber")->Text() +
         "\npassword_hex:" + Hex(form.Get<Edit>("edtPassword")->Text()) +
         "\nchecked:" + (form.Get<CheckBox>("chkRemember")->Checked() ? "1" : "0") +
         "\nserver:" + form.Get<ComboBox>("cboServer")->Text() + "\n";
}

}  // namespace host_test
