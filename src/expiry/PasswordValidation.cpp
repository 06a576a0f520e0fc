#include "expiry/PasswordValidation.h"
#include "expiry/expiry_messages.h"

#include <utility>

#include "connection/login_prompt.h"
#include "connection/PluginThread.h"
#include "connection/validating_caption.h"
#include "diag/trace_log.h"
#include "expiry/expiry_date.h"
#include "expiry/preferences_cache.h"
#include "expiry/table_ptr.h"
#include "mcapi.h"
#include "qmos/application.h"
#include "qmos/bstr.h"
#include "qmos/message_box.h"
#include "qmos/secure_clear.h"
#include "qmos/sleep.h"
#include "qmos/time_scale.h"
#include "quillmere/qm_viewer.h"
#include "state/process_state.h"

namespace vantiro {

namespace {

// Days before the expiry from which the user is asked to change the password.
constexpr int kWarningDays = 14;
constexpr int kPreferencesSizeHint = 150;

std::string Text(const char* value) { return value ? std::string(value) : std::string(); }

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

}  // namespace

passwordValidation::passwordValidation(std::int16_t port, std::string address)
    : address_(std::move(address)), port_(port) {
  SetFreeOnTerminate(true);
}

passwordValidation::~passwordValidation() { qmos::SecureClear(password_); }

std::shared_ptr<PluginThread> passwordValidation::Supervisor() const { return State().GetPluginThread(); }

bool passwordValidation::OnMainThread(const std::function<void()>& fn) {
  if (Synchronize(fn)) return true;
  if (!Terminated()) {
    Trace("passwordValidation: The host no longer serves its queue; the password was not checked");
    Terminate();
  }
  return false;
}

void passwordValidation::Execute() {
  ProcessState& state = State();
  if (!Supervisor()) {
    Trace("passwordValidation():this shouldn't happen, unexpected error, pluginThread not created...exit thread");
    Terminate();
    return;
  }
  if (state.ValidatingPassword) {
    Trace("passwordValidation()::Exe() Already loaded and running..exit");
    Terminate();
    return;
  }
  Trace("passwordValidation::Execute() check/wait if we have not got Login Authenticated(HelloPacket) already");
  while (!state.LoginAuthenticated && !Terminated()) {
    qmos::Sleep(static_cast<std::uint32_t>(qmos::ScaledMs(kLoginPollMs)));
  }
  Trace("passwordValidation::Execute() continue Password Valiation..");
  if (Terminated()) return;
  CheckExpiry();
  qmos::SecureClear(password_);
}

void passwordValidation::CheckExpiry() {
  ProcessState& state = State();
  if (Terminated()) return;
  state.ValidatingPassword = true;
  const CivilDate today = Today();
  Trace("passwordValidationThread:About to connect to MC");
  const int rc = connectToMC();

  if (rc < 0) {
    if (!Terminated()) {
      Trace("passwordValidationThread:Failed to connect to MC");
      OnMainThread([&] {
        ShowExpiryBox(kNetworkBox);
        setonline(false);
      });
    }
  } else {
    Trace("passwordValidation::Execute() successfully connected to MC rc=%i", rc);
    if (firstTimeUser_) {
      Trace("passwordValidation::Execute() First timeUser, Failed to validate return false");
      OnMainThread([&] {
        setonline(false);
        ShowExpiryBox(kNotConfiguredBox);
        setonline(false);
      });
      state.ValidatingPassword = false;
      ReleaseClient();
      Terminate();
      return;
    }
    const std::string dashed = DashedExpiry(expiry_);
    const CivilDate expiry = ParseDashedDate(dashed).value_or(today);
    Trace("passwordValidation::Execute() pass_exp_date=[%s]", dashed.c_str());
    state.DaysToExpiry = DaysUntil(today, expiry);
    const int days = state.DaysToExpiry;
    Trace("passwordValidation::Execute() expired days=[%d]", days);

    const std::shared_ptr<PluginThread> supervisor = Supervisor();
    if (!Terminated() && supervisor) {
      std::string warn;
      OnMainThread([&] { warn = supervisor->GetHostData("warn_expired_password"); });
      if (days > kWarningDays || (days > 0 && Lower(warn) == "no")) {
        // The flags change in the same main-thread step as the session, so that the
        // host never sees the user online while a check still counts as running.
        OnMainThread([&] {
          setonline(true);
          state.MCValidate = true;
          state.ValidatingPassword = false;
        });
        state.MCValidate = true;
        state.ValidatingPassword = false;
        ReleaseClient();
        Terminate();
        return;
      }
    }
    if (days <= kWarningDays && !Terminated()) changepass();
  }
  ReleaseClient();
  state.ValidatingPassword = false;
}

int passwordValidation::connectToMC() {
  Trace("passwordValidation::connecttomc() start to create MCAPI");
  if (const std::shared_ptr<PluginThread> supervisor = Supervisor()) {
    OnMainThread([&] {
      profile_ = supervisor->GetHostData("mc_profile");
      qmos::SecureClear(password_);
      password_ = supervisor->GetHostData("mc_password");
    });
  } else {
    Trace("passwordValidation::connectToMC() unexpected error...pluginThread doesn't exist");
    Terminate();
  }
  if (Terminated()) return -1;
  if (client_) {
    Trace("passwordValidation::connectToMc() delete the existing mc");
    ReleaseClient();
  }
  MakeClient();
  Trace("passwordValidation::connecttoMC() After spawnning a new thread to connect to MCAPI");

  TablePtr table(HT_create(kPreferencesSizeHint, 0));
  const int rc = table ? client_->getPreferences(table.get()) : -1;
  Trace("passwordValidation::ConnectToMC() after get Preferences()");
  if (rc == 0) WritePreferencesCache(State().PreferencesPath(), table.get());
  Trace("passwordValidation::connectomc() get Preferences rc=[%d]", rc);

  expiry_ = rc < 0 ? std::string(kFarExpiry) : Text(HT_get_str(table.get(), "pwd_expiry"));
  std::string firstTime = "1";
  if (rc >= 0) {
    firstTime = Text(HT_get_str(table.get(), "first_time_user"));
    if (firstTime.empty()) firstTime = Text(HT_get_str(table.get(), "firstime"));
  }
  firstTimeUser_ = firstTime.find('1') == std::string::npos;
  if (firstTimeUser_) OnMainThread([&] { setonline(false); });
  Trace("passwordValidation::connectomc() get Preferences pwd_expiry=[%s], first_time_user=[%s]",
        expiry_.c_str(), firstTime.c_str());
  client_.reset();  // destroyed without disconnect, as the fetch left it
  return rc;
}

void passwordValidation::MakeClient() {
  client_ = std::make_unique<MessageCenterAPI>(address_, port_, profile_, password_);
  client_->setStopCheck([this] { return Terminated(); });
}

void passwordValidation::setonline(bool online) {
  const std::shared_ptr<PluginThread> supervisor = Supervisor();
  std::string caption = supervisor ? TrimBlanks(supervisor->GetHostData("caption")) : std::string();
  if (caption.empty()) caption = kDefaultCaption;
  qmos::Application& application = qmos::Application::Instance();
  application.SetCaption(caption + " ");
  application.Repaint();

  if (online) {
    if (!Terminated()) {
      if (quillmere::IQMViewerBase* const host = State().hostCallback.load()) {
        qmos::Bstr queue("mc_logged_in");
        qmos::Bstr data("");
        host->Publish(queue.Get(), data.Get());
      }
      Trace("passwordValidation::setonline() broadcasting logged in");
    }
    if (!Terminated() && supervisor) {
      supervisor->sendOFFLINEACTIVITYREQUEST();
      Trace("passwordValidation::setonline() sending offline activity");
    } else {
      Trace("passwordValidation::setonline() pluginThread=NULL or thread terminating");
    }
    return;
  }
  if (!Terminated() && supervisor) {
    supervisor->PublishToHost("mc_logged_out", "reason:abort\n");
    supervisor->AbortConnection();
    supervisor->Terminate();
    Trace("passwordValidation::setonline() terminate pluginThread...as password expired,or unable to validate");
  } else {
    Trace("passwordValidate::setonline() pluginThread=NULL, unexpected error");
  }
}

void passwordValidation::ReleaseClient() {
  if (!client_) return;
  client_->disconnect();
  client_.reset();
}

}  // namespace vantiro
