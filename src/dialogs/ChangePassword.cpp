#include "dialogs/ChangePassword.h"

#include <algorithm>

#include "dialogs/Validators.h"

namespace vantiro {

bool IsRefusedPattern(const std::string& password) {
  return std::any_of(kRefusedPatterns.begin(), kRefusedPatterns.end(),
                     [&](const char* pattern) { return password == pattern; });
}

TChangePassword::TChangePassword()
    : qmos::Form("TChangePassword"),
      lToBeExpired(Add<qmos::Label>("lToBeExpired")),
      lChangeSuggestion(Add<qmos::Label>("lChangeSuggestion")),
      Label6(Add<qmos::Label>("Label6")),
      edtCurrentPassword(Add<qmos::Edit>("edtCurrentPassword")),
      L(Add<qmos::Label>("L")),
      edtNewPassword(Add<qmos::Edit>("edtNewPassword")),
      Label5(Add<qmos::Label>("Label5")),
      edtReNewPassword(Add<qmos::Edit>("edtReNewPassword")),
      buttonChange(Add<qmos::Button>("buttonChange")),
      buttonCancel(Add<qmos::Button>("buttonCancel")),
      cReminder(Add<qmos::CheckBox>("cReminder")) {
  caption = "Change Unified Messaging Password";
  borderStyle = qmos::BorderStyle::Dialog;
  borderIcons = false;
  position = qmos::FormPosition::MainFormCenter;
  clientWidth = 362;
  clientHeight = 226;

  // In the designed dialog the labels and boxes share a panel above the buttons and
  // the reminder; a panel changes nothing of how they behave, so they sit on the form.
  Label6.caption = "Please Enter Your Current Password:";
  edtCurrentPassword.passwordChar = 'x';
  edtCurrentPassword.tabOrder = 0;
  L.caption = "Enter a New Password: ";
  edtNewPassword.passwordChar = 'x';
  edtNewPassword.tabOrder = 1;
  Label5.caption = "Confirm Your New Password: ";
  edtReNewPassword.passwordChar = 'x';
  edtReNewPassword.tabOrder = 2;

  buttonChange.style = qmos::ButtonStyle::Bitmap;
  buttonChange.caption = "OK";
  buttonChange.isDefault = true;
  buttonChange.enabled = false;
  buttonChange.modalResult = qmos::mrOk;
  buttonChange.tabOrder = 0;

  buttonCancel.style = qmos::ButtonStyle::Bitmap;
  buttonCancel.caption = "Cancel";
  buttonCancel.isCancel = true;
  buttonCancel.modalResult = qmos::mrCancel;
  buttonCancel.tabOrder = 1;

  cReminder.caption = "Remind me later";
  cReminder.SetChecked(true);
  cReminder.tabOrder = 2;

  edtCurrentPassword.onChange = [this] { edtCurrentPasswordChange(); };
  edtNewPassword.onChange = [this] { edtNewPasswordChange(); };
  edtReNewPassword.onChange = [this] { edtReNewPasswordChange(); };
}

void TChangePassword::edtCurrentPasswordChange() { KeepDigitsOnly(edtCurrentPassword); }

void TChangePassword::edtNewPasswordChange() {
  KeepDigitsOnly(edtNewPassword);
  UpdateChangeButton();
}

void TChangePassword::edtReNewPasswordChange() {
  KeepDigitsOnly(edtReNewPassword);
  UpdateChangeButton();
}

void TChangePassword::UpdateChangeButton() {
  buttonChange.enabled = DigitsOnly(edtNewPassword.Text()) == DigitsOnly(edtReNewPassword.Text());
}

}  // namespace vantiro
