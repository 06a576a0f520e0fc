#include "connection/login_prompt.h"

#include "quillmere/qm_viewer.h"
#include "connection/PluginThread.h"
#include "diag/trace_log.h"
#include "qmos/bstr.h"

namespace vantiro {

// ---------------------------------------------------------------------------
// Host access.

std::string SupervisorPromptHost::Get(const std::string& key) { return supervisor_.GetHostData(key); }

void SupervisorPromptHost::Put(const std::string& key, const std::string& value) {
  supervisor_.PutHostData(key, value);
}

void SupervisorPromptHost::Publish(const std::string& queue, const std::string& data) {
  supervisor_.PublishToHost(queue, data);
}

std::string CallbackPromptHost::Get(const std::string& key) {
  if (callback_ == nullptr) return std::string();
  qmos::Bstr name(key);
  qmos::Bstr value;
  if (callback_->GetData(name.Get(), value.Out()) != qmos::S_OK) return std::string();
  return value.Utf8();
}

void CallbackPromptHost::Put(const std::string& key, const std::string& value) {
  if (callback_ == nullptr) return;
  qmos::Bstr name(key);
  qmos::Bstr data(value);
  callback_->PutData(name.Get(), data.Get());
}

void CallbackPromptHost::Publish(const std::string& queue, const std::string& data) {
  if (callback_ == nullptr) return;
  qmos::Bstr name(queue);
  qmos::Bstr text(data);
  callback_->Publish(name.Get(), text.Get());
}

// ---------------------------------------------------------------------------
// The dialog.

std::string TrimBlanks(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return text.substr(begin, end - begin);
}

std::unique_ptr<TInputPasswordForm> FillLoginDialog(PromptHost& host, StoredLogin& stored,
                                                    const std::function<bool()>& stop) {
  if (stop()) return nullptr;
  stored.password = host.Get("mc_password");
  stored.autoSignIn = host.Get("auto_sign_in");
  const bool savePassword = stored.autoSignIn == "yes";

  auto dialog = std::make_unique<TInputPasswordForm>();
  stored.serverName = TrimBlanks(host.Get("mc_server_name"));
  stored.profile = host.Get("mc_profile");
  stored.lastFailed = host.Get("mc_last_failed");
  stored.pluginTabs = host.Get("pluginTabs");
  stored.paging = host.Get("paging_enabled");
  stored.gateway = host.Get("mc_gateway_server");

  std::string tabs = stored.pluginTabs;
  if (tabs.find(kDefaultTabs) == std::string::npos) tabs = kDefaultTabs;
  dialog->pluginTabs.SetText(tabs);

  dialog->CheckBoxPagingEnabled.SetChecked(stored.paging.find('y') != std::string::npos);
  dialog->CheckSavePassword.SetChecked(savePassword);
  dialog->EditServerName.SetText(stored.gateway);

  dialog->SetupServerName();

  std::string profile = stored.profile;
  if (profile == kNoProfile) profile = stored.lastFailed;
  if (profile == kNoProfile) profile = " ";
  dialog->edtProfile.SetText(profile);

  if (!stored.serverName.empty()) dialog->LabelFail2.caption = dialog->ComboBoxServerName.Text();
  dialog->edtPassword.SetText("");

  if (stop()) return nullptr;
  return dialog;
}

bool ShowLoginDialog(TInputPasswordForm& dialog) {
  const int result = dialog.ShowModal();
  dialog.ReleaseServerTable();
  return result != qmos::mrCancel;
}

void WriteChosenLogin(PromptHost& host, const StoredLogin& stored, const TInputPasswordForm& dialog,
                      const char* tracer) {
  const std::string& boxTabs = dialog.pluginTabs.Text();
  if (boxTabs != stored.pluginTabs) {
    std::string tabs = TrimBlanks(boxTabs);
    if (tabs.find(kDefaultTabs) == std::string::npos) tabs = kDefaultTabs;
    host.Put("pluginTabs", tabs);
  } else {
    Trace("%s::Inputpassword() plugins not updated%s:%s", tracer, stored.pluginTabs.c_str(), boxTabs.c_str());
  }

  const std::string paging = dialog.CheckBoxPagingEnabled.Checked() ? "yes" : "no";
  if (paging != stored.paging) host.Put("paging_enabled", paging);
  const std::string save = dialog.CheckSavePassword.Checked() ? "yes" : "no";
  if (save != stored.autoSignIn) host.Put("auto_sign_in", save);
  if (dialog.edtPassword.Text() != stored.password) host.Put("mc_password", dialog.edtPassword.Text());
  const std::string& server = dialog.ComboBoxServerName.Text();
  if (server != stored.serverName) host.Put("mc_server_name", server);
  host.Put("mc_profile", TrimBlanks(dialog.edtProfile.Text()));
}

void WriteServerCodes(PromptHost& host, const TInputPasswordForm& dialog) {
  if (!dialog.countryCode.empty()) host.Put("default_country_code", dialog.countryCode);
  if (!dialog.siteCode.empty()) host.Put("default_site_code", dialog.siteCode);
}

void WriteLastFailed(PromptHost& host, const StoredLogin& stored, const TInputPasswordForm& dialog) {
  if (dialog.edtProfile.Text() != stored.lastFailed) host.Put("mc_last_failed", dialog.edtProfile.Text());
}

}  // namespace vantiro
