// passwordValidation: once the multiplexor has accepted the login, checks the
// password's expiry with the mailbox server and decides the session: online (the
// password is good for more than the warning window, or the user switched the
// warning off), offline (the server cannot be reached or refuses, or the mailbox is
// not set up yet), or the password change when it expires within 14 days.
//
// Threads: the check runs on its own thread, and so do the mailbox server's calls
// (the fetch, the new password's send), so that a server that stays silent never
// holds the host up; what the user sees (boxes, the change dialog, the caption, the
// session's publications) and the host-setting reads and writes run on the main
// thread through Synchronize, in the order the check takes them, while this thread
// waits. The plug-in object may ask it to stop at any moment; the steps read the flag
// as they go, and the mailbox server's calls stop waiting within a poll interval.
// When the host no longer serves its main thread the check ends as if stopped. The
// thread frees itself when it ends (shared ownership), holds at most one client at a
// time, and clears its copy of the password when the check is done.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "qmos/thread.h"

class MessageCenterAPI;

namespace vantiro {

class PluginThread;

class passwordValidation : public qmos::TThread {
 public:
  // The mailbox server's address and port from the host's lookup answer. The caller
  // starts it: qmos::TThread::StartNew<passwordValidation>(port, address).
  passwordValidation(std::int16_t port, std::string address);
  ~passwordValidation() override;

  // The title bar without the validation's progress text, then, online: "mc_logged_in"
  // and the offline-activity request; offline: the abort of the connection. Main
  // thread.
  void setonline(bool online);

  // Connects to the mailbox server with the stored profile and password (read on the
  // main thread) and fetches the mailbox's preferences; caches them after a good
  // fetch. The fetch's result (negative on failure). This thread.
  int connectToMC();

  // The password change: shows the change dialog (main thread) until the user
  // cancels or types an acceptable new password, sends that to the mailbox server
  // (this thread) and ends the session's check online or offline. Four wrong current
  // passwords lock the change out and take the connection offline.
  void changepass();
  // Sends newPassword to the mailbox server, logged in with the stored password.
  // 0 when the server took it; -1 when the thread was told to stop before the
  // request went out. This thread.
  int putNewPassword(const std::string& newPassword);

  // How often Execute looks whether the login is authenticated (scaled).
  static constexpr int kLoginPollMs = 300;
  // "pwd_expiry" taken when the fetch failed.
  static constexpr const char* kFarExpiry = "20501231";

 protected:
  void Execute() override;

 private:
  // How the change dialog ended.
  struct ChangeOutcome {
    enum class Kind { Cancelled, LockedOut, Accepted } kind = Kind::Cancelled;
    bool remindAgain = true;   // the reminder box, for a cancelled dialog
    std::string newPassword;   // for an accepted one
  };

  void CheckExpiry();
  // Runs fn on the main thread and waits for it. When the host no longer serves its
  // main thread, fn does not run, the check is told to stop, and the answer is false.
  bool OnMainThread(const std::function<void()>& fn);
  // Makes a client for the stored profile and password that stops when this thread
  // is told to.
  void MakeClient();
  // Disconnects and destroys the held client, if any.
  void ReleaseClient();
  std::shared_ptr<PluginThread> Supervisor() const;
  // The change dialog and its policy checks, until cancelled, locked out or
  // accepted. Main thread.
  ChangeOutcome RunChangeDialog();
  // The session after the change dialog was cancelled. Main thread.
  void Postponed(bool remindAgain);
  void StayedExpired();
  // Sends an accepted new password and ends the session accordingly.
  void SendNewPassword(const std::string& newPassword);
  // The mailbox server took newPassword: stored in the host settings in every case,
  // then the session goes online unless the check was stopped or the supervisor is
  // gone. Main thread.
  void NewPasswordTaken(const std::string& newPassword);

  const std::string address_;
  const std::int16_t port_;
  std::string profile_;
  std::string password_;
  std::string expiry_;
  bool firstTimeUser_ = false;
  std::unique_ptr<MessageCenterAPI> client_;
};

}  // namespace vantiro
