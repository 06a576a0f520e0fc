// passwordValidation: once the multiplexor has accepted the login, checks the
// password's expiry with the mailbox server and decides the session: online (the
// password is good for more than the warning window, or the user switched the
// warning off), offline (the server cannot be reached or refuses, or the mailbox is
// not set up yet), or the password change when it expires within 14 days.
//
// Threads: Execute only waits for the login on its own thread; the check itself
// (CheckExpiry, with the mailbox server's calls, the boxes and the caption) runs on
// the main thread through Synchronize, as the dialogs must. The plug-in object may
// ask it to stop at any moment; the steps read the flag as they go. The thread frees
// itself when it ends (shared ownership) and holds at most one client at a time.
#pragma once

#include <cstdint>
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

  // Connects to the mailbox server with the stored profile and password and fetches
  // the mailbox's preferences; caches them after a good fetch. The fetch's result
  // (negative on failure). Main thread.
  int connectToMC();

  // The password change: shows the change dialog until the user cancels or types an
  // acceptable new password, sends that to the mailbox server and ends the session's
  // check online or offline. Four wrong current passwords lock the change out and
  // take the connection offline. Main thread.
  void changepass();
  // Sends newPassword to the mailbox server, logged in with the stored password.
  // 0 when the server took it; -1 when the thread was told to stop.
  int putNewPassword(const std::string& newPassword);

  // How often Execute looks whether the login is authenticated (scaled).
  static constexpr int kLoginPollMs = 300;
  // "pwd_expiry" taken when the fetch failed.
  static constexpr const char* kFarExpiry = "20501231";

 protected:
  void Execute() override;

 private:
  void CheckExpiry();
  // Disconnects and destroys the held client, if any.
  void ReleaseClient();
  std::shared_ptr<PluginThread> Supervisor() const;
  // The session after the change dialog was cancelled, or a new password accepted.
  void Postponed(bool remindAgain);
  void StayedExpired();
  void SendNewPassword(const std::string& newPassword);

  const std::string address_;
  const std::int16_t port_;
  std::string profile_;
  std::string password_;
  std::string expiry_;
  bool firstTimeUser_ = false;
  std::unique_ptr<MessageCenterAPI> client_;
};

}  // namespace vantiro
