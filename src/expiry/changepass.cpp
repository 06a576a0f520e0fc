// The password change of the password validation: the dialog, the site's policy
// checks, the new password sent to the mailbox server, and the session's outcome.
#include <memory>
#include <string>

#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "dialogs/ChangePassword.h"
#include "dialogs/Validators.h"
#include "expiry/PasswordValidation.h"
#include "expiry/expiry_messages.h"
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

}  // namespace

void ShowExpiryBox(const ExpiryBox& box, const std::string& text) {
  qmos::Application& application = qmos::Application::Instance();
  application.MessageBox(text.empty() ? box.text : text, box.title != nullptr ? box.title : application.Title(),
                         box.flags);
}

std::string NotQualifiedText(bool stillValid) {
  std::string text = kNotQualifiedBox.text;
  const std::size_t mark = text.find("%s");
  if (mark != std::string::npos) text.replace(mark, 2, stillValid ? "You may want to" : "Please");
  return text;
}

void FillChangeReasons(TChangePassword& dialog, const std::string& profile, int days) {
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
  FillChangeReasons(*dialog, profile_, State().DaysToExpiry);

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
        ShowExpiryBox(kLockBox);
        outcome.kind = Kind::LockedOut;
        break;
      }
      ShowExpiryBox(kWrongCurrentBox);
    } else if (outcome.newPassword != again) {
      ShowExpiryBox(kMismatchBox);
    } else if (outcome.newPassword.size() != kPasswordLength) {
      ShowExpiryBox(kWrongLengthBox);
    } else if (outcome.newPassword == password_) {
      ShowExpiryBox(kReusedBox);
    } else if (IsRefusedPattern(outcome.newPassword)) {
      ShowExpiryBox(kTooSimpleBox);
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
  ShowExpiryBox(kStaysOfflineBox);
  State().MCValidate = false;
  setonline(false);
  Trace("PasswordValidate:changepassword failed set MC_Validate=false");
}

void passwordValidation::SendNewPassword(const std::string& newPassword) {
  Trace("PasswordValidate:Validated set MCValidate=true");
  const int rc = putNewPassword(newPassword);
  if (rc != 0) {
    const bool stillValid = State().DaysToExpiry > 0;
    OnMainThread([&] {
      ShowExpiryBox(kNotQualifiedBox, NotQualifiedText(stillValid));
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
