#include "connection/Relogin.h"

#include <string>

#include "connection/login_prompt.h"
#include "connection/PluginThread.h"
#include "connection/validating_caption.h"
#include "diag/trace_log.h"
#include "qmos/application.h"
#include "qmos/sleep.h"
#include "qmos/time_scale.h"
#include "state/process_state.h"

namespace vantiro {

namespace {

constexpr int kReloginWaitSliceMs = 20;

bool Stopping(const qmos::TThread& thread) { return thread.Terminated() || State().PluginTerminating; }

}  // namespace

reLogin::reLogin(quillmere::IQMViewerBase* hostCallback) : hostCallback_(hostCallback) {
  SetFreeOnTerminate(true);
}

void reLogin::Execute() {
  if (Terminated()) return;
  bool chosen = false;
  if (!Synchronize([this, &chosen] { chosen = Prompt(); })) {
    Trace("ReLogin: The host no longer serves its queue; nothing was shown");
    return;
  }
  if (!chosen || Stopping(*this)) return;
  WaitForAbortedSupervisor();
  if (Stopping(*this)) return;
  Synchronize([this] { Restart(); });
}

bool reLogin::Prompt() {
  if (Terminated()) return false;
  if (const std::shared_ptr<PluginThread> supervisor = State().GetPluginThread()) {
    aborted_ = supervisor;
    try {
      supervisor->AbortConnection();
    } catch (...) {
      // Whatever went wrong in stopping the old connection, the prompt goes on.
    }
  }

  CallbackPromptHost host(hostCallback_);
  StoredLogin stored;
  std::unique_ptr<TInputPasswordForm> dialog =
      FillLoginDialog(host, stored, [this] { return Terminated(); });
  if (!dialog) return false;

  if (!ShowLoginDialog(*dialog)) {
    dialog.reset();
    host.Publish("mc_login_failed", "");
    return false;
  }

  std::string base = host.Get("caption");
  if (base.empty()) base = kDefaultCaption;
  qmos::Application& application = qmos::Application::Instance();
  application.SetCaption(base + " - [Now Validating Password...]");
  application.Repaint();

  WriteChosenLogin(host, stored, *dialog, "ReLogin");
  Trace("ReLogin::InputPassword() EditServerName=%s EditxBox=%s", stored.gateway.c_str(),
        dialog->EditServerName.Text().c_str());
  host.Put("mc_gateway_server", dialog->EditServerName.Text());
  WriteLastFailed(host, stored, *dialog);
  WriteServerCodes(host, *dialog);
  Trace("ReLogin::PromptUserForValidPassword() : telling the plug-in thread to shutdown the connection");
  dialog.reset();

  host.Publish("service_lookup_request", "service_name:XXX_MessageCenterAPI\n");
  host.Publish("mc_logged_out", "");
  return true;
}

void reLogin::WaitForAbortedSupervisor() {
  const std::shared_ptr<PluginThread> aborted = aborted_.lock();
  if (!aborted) return;
  const std::int64_t bound = qmos::ScaledMs(kSupervisorEndWaitMs);
  const std::int64_t slice = std::max<std::int64_t>(1, qmos::ScaledMs(kReloginWaitSliceMs));
  for (std::int64_t waited = 0; waited < bound && !Stopping(*this); waited += slice) {
    if (aborted->WaitFor(static_cast<std::uint32_t>(slice))) return;
  }
  Trace("ReLogin: The connection that was aborted has not ended yet; a new one starts all the same");
}

void reLogin::Restart() {
  if (Stopping(*this)) return;
  ProcessState& state = State();
  // The user asked to log in: an abort of the old connection no longer stands.
  state.UserAborted = false;
  const std::shared_ptr<PluginThread> supervisor = state.GetPluginThread();
  if (supervisor && !supervisor->Ending()) {
    supervisor->multiplexorConnectionDown(2);
    return;
  }
  if (!PluginThread::StartRecorded(hostCallback_)) {
    Trace("ReLogin: Thread creation error: the connection supervisor could not be started");
  }
}

}  // namespace vantiro
