// The password-change dialog: why the password must change (two lines), the current
// password, the new one typed twice, and whether to be reminded again.
//
// Its caller (the password validation's change step) fills the two lines and the
// reminder, shows it modally and checks what was typed against the site's policy.
// The dialog itself only keeps its boxes to digits and enables OK exactly when the
// two new-password boxes hold the same digits (two empty boxes count as the same).
//
// Threads: the main thread only, like every form.
#pragma once

#include <array>
#include <string>

#include "qmos/form.h"

namespace vantiro {

// New passwords the site refuses as too simple: repeats, runs and mirrored patterns.
inline constexpr std::array<const char*, 64> kRefusedPatterns = {
    "00000000", "11111111", "22222222", "33333333", "44444444", "55555555", "66666666",
    "77777777", "88888888", "99999999", "00001111", "11112222", "22223333", "33334444",
    "44445555", "55556666", "66667777", "88889999", "99998888", "88887777", "77776666",
    "66665555", "55554444", "44443333", "33332222", "22221111", "11110000", "00112233",
    "11223344", "22334455", "33445566", "44556677", "55667788", "66778899", "77889900",
    "99887766", "88776655", "77665544", "66554433", "55443322", "44332211", "33221100",
    "12341234", "23452345", "34563456", "45674567", "56785678", "67896789", "78907890",
    "09870987", "98769876", "87658765", "76547654", "65436543", "54325432", "43214321",
    "32103210", "01234567", "12345678", "23456789", "87654321", "34567890", "98765432",
    "76543210"};

// True when password is one of the refused patterns.
bool IsRefusedPattern(const std::string& password);

class TChangePassword : public qmos::Form {
 public:
  TChangePassword();

  // Event handlers, wired to the boxes in the constructor.
  void edtCurrentPasswordChange();
  void edtNewPasswordChange();
  void edtReNewPasswordChange();

  qmos::Label& lToBeExpired;
  qmos::Label& lChangeSuggestion;
  qmos::Label& Label6;
  qmos::Edit& edtCurrentPassword;
  qmos::Label& L;
  qmos::Edit& edtNewPassword;
  qmos::Label& Label5;
  qmos::Edit& edtReNewPassword;
  qmos::Button& buttonChange;
  qmos::Button& buttonCancel;
  qmos::CheckBox& cReminder;

 private:
  void UpdateChangeButton();
};

}  // namespace vantiro
