// The "Connection" menu the client shows on the plug-in's behalf: log in by hand,
// log in as another profile through the login prompt, log out for good.

#include <cstdio>
#include <exception>
#include <string>

#include "connection/PluginThread.h"
#include "connection/Relogin.h"
#include "diag/trace_log.h"
#include "plugin/VantiroImpl.h"
#include "qmos/bstr.h"
#include "qmos/sleep.h"
#include "qmos/time_scale.h"
#include "quillmere/qm_viewer.h"
#include "state/process_state.h"

namespace vantiro {

namespace {

constexpr int kMenuLogin = 1200;
constexpr int kMenuLogout = 1201;
constexpr int kMenuLoginAsAnotherProfile = 1203;
// The pause after stopping an earlier re-login, before the next one starts.
constexpr int kReLoginPauseMs = 500;

}  // namespace

qmos::HRESULT TVantiroImpl::GetMenuStructure(qmos::BSTR* menu_structure) {
  if (menu_structure == nullptr) return qmos::E_POINTER;
  *menu_structure = nullptr;
  char text[160];
  std::snprintf(text, sizeof text,
                "Connection->Login:%d\nConnection->Login As Another Profile:%d\nConnection->Logout:%d\n",
                kMenuLogin, kMenuLoginAsAnotherProfile, kMenuLogout);
  qmos::Bstr structure(text);
  if (!structure.Get()) return qmos::E_OUTOFMEMORY;
  *menu_structure = structure.Detach();
  return qmos::S_OK;
}

qmos::HRESULT TVantiroImpl::MenuOptionSelected(qmos::SHORT menu_id) {
  if (State().PluginTerminating) return qmos::S_OK;
  try {
    switch (menu_id) {
      case kMenuLogin:
        ManualLogin();
        return qmos::S_OK;
      case kMenuLogout:
        ManualLogout();
        return qmos::S_OK;
      case kMenuLoginAsAnotherProfile:
        LoginAsAnotherProfile();
        return qmos::S_OK;
      default:
        return qmos::S_FALSE;
    }
  } catch (const std::bad_alloc&) {
    return qmos::E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    Trace("TVantiroImpl::MenuOptionSelected(): %s", e.what());
    return qmos::E_FAIL;
  } catch (...) {
    return qmos::E_FAIL;
  }
}

void TVantiroImpl::ManualLogin() {
  ProcessState& state = State();
  Trace("TVantiroImpl::MenuOptionSelected(): Spawing PluginThread, Manual Login is requested");
  state.UserAborted = false;
  const std::shared_ptr<PluginThread> supervisor = state.GetPluginThread();
  if (!supervisor || supervisor->Ending()) {
    // A supervisor still recorded while it ends after a logout would ignore the
    // request; its successor starts now and the ending one no longer counts.
    Trace("VantiroImpl::MenuOptionSelected() create a new thread PluginThread");
    lastValidationTime = 0;
    StartSupervisor();
    return;
  }
  supervisor->multiplexorConnectionDown(2);
  Trace("VantiroImpl::MenuOptionSelected() PLuginThread() still running, we shouldn't be "
        "here...Investigation needed, or unneeded click...");
}

void TVantiroImpl::ManualLogout() {
  ProcessState& state = State();
  Trace("TVantiroImpl::MenuOptionSelected(): Manual Logout is requested");
  if (const std::shared_ptr<PluginThread> supervisor = state.GetPluginThread()) {
    try {
      supervisor->AbortConnection();
    } catch (...) {
      // The logout is published all the same.
    }
  }
  lastValidationTime = 0;
  if (quillmere::IQMViewerBase* const host = state.hostCallback.load()) {
    qmos::Bstr queue("mc_logged_out");
    qmos::Bstr data("reason:abort");
    host->Publish(queue.Get(), data.Get());
  }
}

void TVantiroImpl::LoginAsAnotherProfile() {
  ProcessState& state = State();
  state.UserAborted = false;
  if (reLoginThread) {
    reLoginThread->Terminate();
    reLoginThread.reset();
    qmos::Sleep(static_cast<std::uint32_t>(qmos::ScaledMs(kReLoginPauseMs)));
  }
  state.LoginAuthenticated = false;
  state.ValidatingPassword = false;
  state.DaysToExpiry = 0;
  lastValidationTime = 0;
  state.MCValidate = false;
  if (ValidatePasswordThread) {
    ValidatePasswordThread->Terminate();
    ValidatePasswordThread.reset();
  }
  reLoginThread = qmos::TThread::StartNew<reLogin>(state.hostCallback.load());
  if (!reLoginThread) Trace("TVantiroImpl::MenuOptionSelected(): The re-login thread could not be started");
}

}  // namespace vantiro
