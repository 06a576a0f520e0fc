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

  // Two lines for each reason label (a long profile number wraps); the three boxes
  // under their captions' row; the reminder and the buttons along the bottom,
  // tabbed after the boxes.
  lToBeExpired.SetBounds(8, 8, 346, 26);
  lChangeSuggestion.SetBounds(8, 36, 346, 26);
  Label6.SetBounds(8, 72, 212, 13);
  edtCurrentPassword.SetBounds(222, 68, 132, 21);
  L.SetBounds(8, 100, 212, 13);
  edtNewPassword.SetBounds(222, 96, 132, 21);
  Label5.SetBounds(8, 128, 212, 13);
  edtReNewPassword.SetBounds(222, 124, 132, 21);
  cReminder.SetBounds(8, 194, 180, 17);
  buttonChange.SetBounds(196, 190, 75, 25);
  buttonCancel.SetBounds(279, 190, 75, 25);
  buttonChange.tabGroup = buttonCancel.tabGroup = cReminder.tabGroup = 1;

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
