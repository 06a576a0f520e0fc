// The password change of the password validation: the dialog, the site's policy
// checks, the new password sent to the mailbox server, and the session's outcome.
#include <cstdio>
#include <memory>
#include <string>

#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "dialogs/ChangePassword.h"
#include "dialogs/Validators.h"
#include "expiry/PasswordValidation.h"
#include "expiry/table_ptr.h"
#include "mcapi.h"
#include "qmos/application.h"
#include "qmos/bstr.h"
#include "qmos/message_box.h"
#include "qmos/secure_clear.h"
#include "quillmere/qm_viewer.h"
#include "state/process_state.h"

namespace vantiro {

namespace {

// Wrong current passwords allowed in one change before it is locked out.
constexpr int kAllowedWrongPasswords = 4;
constexpr std::size_t kPasswordLength = 8;
// Days a freshly changed password is taken to last.
constexpr int kNewPasswordDays = 90;

constexpr const char* kErrorTitle = "Quillmere Client Login:Failed to Validate Password";
constexpr const char* kLockTitle = "Password is being Locked";
constexpr const char* kLockText =
    "You have reached the maximum allowed failed attempts.\nPlease restart your Client.";
constexpr const char* kWrongCurrent = "Your current password entered is invalid, please try again.";
constexpr const char* kMismatch = "New password entered twice doesnt match";
constexpr const char* kWrongLength = "Password must be 8 digits long.";
constexpr const char* kReused =
    "The new password you entered has been previously used, please choose another one.";
constexpr const char* kTooSimple =
    "The Password you entered is too simple or geometric patterns which is against the Corvane "
    "security policy. Please choose another one...";
constexpr const char* kStaysOffline =
    "Since your password has been expired and not changed, you will remain in offline mode.";
constexpr const char* kNotQualified =
    "Your new password has not been qualified according to the location standards, or there "
    "might be a network issue to connect to MC. %s close Quillmere Client, and call your Rirezer "
    "Uduzor System to change it, then restart the Quillmere Client.";

void ErrorBox(const std::string& text) {
  qmos::Application::Instance().MessageBox(text, kErrorTitle, qmos::MB_OK | qmos::MB_ICONERROR);
}

void FillReasons(TChangePassword& dialog, const std::string& profile, int days) {
  std::string first = "Password for Voice Mailbox " + profile;
  if (days > 0) {
    first += " will be expired in the next " + std::to_string(days) + " days";
    dialog.lChangeSuggestion.caption = "You may want to change it from here right away:";
    dialog.cReminder.enabled = true;
  } else {
    first += " has expired.";
    dialog.lChangeSuggestion.caption = "Please Change it. Otherwise you may not be able to set to online:";
    dialog.cReminder.enabled = false;
  }
  dialog.lToBeExpired.caption = first;
  dialog.cReminder.SetChecked(true);
}

}  // namespace

void passwordValidation::changepass() {
  ChangeOutcome outcome;
  if (!OnMainThread([&] { outcome = RunChangeDialog(); })) return;
  const qmos::ClearOnExit clearNewPassword(outcome.newPassword);
  using Kind = ChangeOutcome::Kind;
  Trace(outcome.kind == Kind::Cancelled ? "PasswordValidation::changepass()...mrCancel"
                                        : "PasswordValidation::changepass()...mrOk");
  switch (outcome.kind) {
    case Kind::LockedOut:
      // The lock box asks for a restart; the session must not stay online meanwhile
      // with a password the mailbox server has not confirmed.
      Trace("PasswordValidation::changepass() Too many wrong current passwords, going offline");
      OnMainThread([&] { setonline(false); });
      break;
    case Kind::Cancelled:
      OnMainThread([&] {
        if (State().DaysToExpiry > 0) {
          Postponed(outcome.remindAgain);
        } else {
          StayedExpired();
        }
      });
      break;
    case Kind::Accepted:
      SendNewPassword(outcome.newPassword);
      break;
  }
}

passwordValidation::ChangeOutcome passwordValidation::RunChangeDialog() {
  qmos::Application& application = qmos::Application::Instance();
  const auto dialog = std::make_unique<TChangePassword>();
  FillReasons(*dialog, profile_, State().DaysToExpiry);

  int allowedWrong = kAllowedWrongPasswords;
  application.Restore();
  application.BringToFront();

  ChangeOutcome outcome;
  using Kind = ChangeOutcome::Kind;
  for (;;) {
    dialog->BringToFront();
    // Any way of closing but OK counts as Cancel, so the dialog cannot come back
    // without end.
    const bool cancelled = dialog->ShowModal() != qmos::mrOk;
    qmos::SecureClear(outcome.newPassword);
    outcome.newPassword = DigitsOnly(dialog->edtNewPassword.Text());
    std::string again = DigitsOnly(dialog->edtReNewPassword.Text());
    const qmos::ClearOnExit clearAgain(again);
    if (cancelled) {
      outcome.kind = Kind::Cancelled;
      outcome.remindAgain = dialog->cReminder.Checked();
      break;
    }
    // A thread told to stop while the dialog was open checks nothing more.
    outcome.kind = Kind::Accepted;
    if (Terminated()) break;

    std::string current = DigitsOnly(dialog->edtCurrentPassword.Text());
    const qmos::ClearOnExit clearCurrent(current);
    if (current != password_) {
      if (--allowedWrong == 0) {
        application.MessageBox(kLockText, kLockTitle, qmos::MB_OK);
        outcome.kind = Kind::LockedOut;
        break;
      }
      ErrorBox(kWrongCurrent);
    } else if (outcome.newPassword != again) {
      ErrorBox(kMismatch);
    } else if (outcome.newPassword.size() != kPasswordLength) {
      ErrorBox(kWrongLength);
    } else if (outcome.newPassword == password_) {
      ErrorBox(kReused);
    } else if (IsRefusedPattern(outcome.newPassword)) {
      application.ShowMessage(kTooSimple);
    } else {
      break;  // accepted
    }
  }
  if (outcome.kind != Kind::Accepted) qmos::SecureClear(outcome.newPassword);
  return outcome;
}

void passwordValidation::Postponed(bool remindAgain) {
  if (!remindAgain) {
    if (const std::shared_ptr<PluginThread> supervisor = Supervisor())
      supervisor->PutHostData("warn_expired_password", "no");
  }
  State().MCValidate = true;
  setonline(true);
}

void passwordValidation::StayedExpired() {
  qmos::Application::Instance().ShowMessage(kStaysOffline);
  State().MCValidate = false;
  setonline(false);
  Trace("PasswordValidate:changepassword failed set MC_Validate=false");
}

void passwordValidation::SendNewPassword(const std::string& newPassword) {
  Trace("PasswordValidate:Validated set MCValidate=true");
  const int rc = putNewPassword(newPassword);
  if (rc != 0) {
    const bool stillValid = State().DaysToExpiry > 0;
    char text[512];
    std::snprintf(text, sizeof text, kNotQualified, stillValid ? "You may want to" : "Please");
    OnMainThread([&] {
      ErrorBox(text);
      setonline(stillValid);
    });
    Trace("passwordValidation:changepassword() Failed to change password- server return FAILURE");
    return;
  }
  // From here the mailbox server holds the new password: it is stored even when the
  // check was stopped meanwhile, or the next login would be refused.
  if (!OnMainThread([&] { NewPasswordTaken(newPassword); }))
    Trace("passwordValidation: The new password could not be stored: the host no longer serves its queue");
}

void passwordValidation::NewPasswordTaken(const std::string& newPassword) {
  ProcessState& state = State();
  const std::shared_ptr<PluginThread> supervisor = Supervisor();
  const bool goOnline = !Terminated() && supervisor;
  if (goOnline) Trace("passwordValidation:Expired Password has been successfully changed.");
  if (quillmere::IQMViewerBase* const host = state.hostCallback.load()) {
    qmos::Bstr key("mc_password");
    qmos::Bstr value(newPassword);
    host->PutData(key.Get(), value.Get());  // the result is not used
  }
  if (!goOnline) {
    Trace("passwordValidation: The new password is stored; the check was stopped, the session stays as it is");
    return;
  }
  Trace("passwordValidation:New Password is now saved automatically");
  setonline(true);
  state.MCValidate = true;
  state.DaysToExpiry = kNewPasswordDays;
  supervisor->PutHostData("warn_expired_password", "yes");
}

int passwordValidation::putNewPassword(const std::string& newPassword) {
  int rc = -1;
  if (Terminated()) return rc;
  MakeClient();
  Trace("passwordValidation::putNewPassword() create a new MCAPI");
  const TablePtr table(HT_create(1, 0));
  if (table && HT_put_str(table.get(), "password", newPassword.c_str()) == 0) {
    Trace("passwordValidation::put a new password..Entering...");
    rc = client_->putPreferences(table.get());
  }
  Trace("passwordValidation::putPreferences OK");
  client_.reset();
  return rc;
}

}  // namespace vantiro
