// reLogin: the thread behind "Connection->Login As Another Profile". It aborts the
// running connection, asks the user for a profile, password and server with the
// login dialog on the main thread, writes what changed into the host settings and
// logs in again with them; "E&xit" leaves the plug-in logged out.
//
// Threads: Execute runs on its own thread and waits while the prompt runs on the
// main thread (Synchronize). After OK it waits, bounded, for the connection it
// aborted to end, then has the main thread start the new one, so that the user who
// asked to log in is never left logged out because the old supervisor was still
// ending. The thread frees itself when it ends (shared ownership).
#pragma once

#include <memory>

#include "qmos/thread.h"

namespace quillmere {
struct IQMViewerBase;
}

namespace vantiro {

class PluginThread;

class reLogin : public qmos::TThread {
 public:
  // The caller starts it: qmos::TThread::StartNew<reLogin>(hostCallback).
  explicit reLogin(quillmere::IQMViewerBase* hostCallback);

  // How long, at most, the thread waits for the aborted supervisor (scaled).
  static constexpr int kSupervisorEndWaitMs = 15000;

 protected:
  void Execute() override;

 private:
  // The prompt, on the main thread. True when the user chose OK.
  bool Prompt();
  // Waits until the aborted supervisor has ended, the bound has passed or the
  // thread is told to stop.
  void WaitForAbortedSupervisor();
  // On the main thread: a new supervisor when none runs (or the recorded one is
  // ending), else the running one drops and re-establishes its connection.
  void Restart();

  quillmere::IQMViewerBase* const hostCallback_;
  std::weak_ptr<PluginThread> aborted_;  // the supervisor the prompt aborted
};

}  // namespace vantiro
