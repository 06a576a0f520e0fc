// The steps the two login prompts share: the one the reader opens when the
// multiplexor refuses the password, and the one the re-login thread opens when the
// user asks to log in as another profile. Both fill the login dialog from the host
// settings, show it on the main thread and, on OK, write back what the user changed.
//
// Threads: everything here runs on the main thread (the callers get there through
// Synchronize). Passwords are compared and written, never traced.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "dialogs/InputPassword.h"
#include "qmos/secure_clear.h"

namespace quillmere {
struct IQMViewerBase;
}

namespace vantiro {

class PluginThread;

// How a prompt reaches the host's settings and queues. A failed read yields the
// empty text; the results of writes and publications are not used.
class PromptHost {
 public:
  virtual ~PromptHost() = default;
  virtual std::string Get(const std::string& key) = 0;
  virtual void Put(const std::string& key, const std::string& value) = 0;
  virtual void Publish(const std::string& queue, const std::string& data) = 0;
};

// Through the supervisor's host access (the reader's prompt).
class SupervisorPromptHost final : public PromptHost {
 public:
  explicit SupervisorPromptHost(PluginThread& supervisor) : supervisor_(supervisor) {}
  std::string Get(const std::string& key) override;
  void Put(const std::string& key, const std::string& value) override;
  void Publish(const std::string& queue, const std::string& data) override;

 private:
  PluginThread& supervisor_;
};

// Through the host's callback object directly (the re-login prompt).
class CallbackPromptHost final : public PromptHost {
 public:
  explicit CallbackPromptHost(quillmere::IQMViewerBase* callback) : callback_(callback) {}
  std::string Get(const std::string& key) override;
  void Put(const std::string& key, const std::string& value) override;
  void Publish(const std::string& queue, const std::string& data) override;

 private:
  quillmere::IQMViewerBase* const callback_;
};

// The host settings as the prompt read them before the dialog was shown.
struct StoredLogin {
  ~StoredLogin() { qmos::SecureClear(password); }

  std::string password;     // "mc_password"
  std::string autoSignIn;   // "auto_sign_in"
  std::string serverName;   // "mc_server_name", trimmed
  std::string profile;      // "mc_profile"
  std::string lastFailed;   // "mc_last_failed"
  std::string pluginTabs;   // "pluginTabs"
  std::string paging;       // "paging_enabled"
  std::string gateway;      // "mc_gateway_server"
};

// "mc_profile" holding this means the user left the prompt and is logged out.
inline constexpr const char* kNoProfile = "11";
// The tab arrangement used when the stored one lacks the plug-in's tabs.
inline constexpr const char* kDefaultTabs = "01234";

// Reads the settings and fills a new dialog with them, arranging its server
// chooser. Null, and nothing shown, when stop() says so before or after filling.
std::unique_ptr<TInputPasswordForm> FillLoginDialog(PromptHost& host, StoredLogin& stored,
                                                    const std::function<bool()>& stop);

// Shows the filled dialog modally and releases its server table; true for OK,
// false for "E&xit" (or Escape).
bool ShowLoginDialog(TInputPasswordForm& dialog);

// The first writes of OK, in their order: the tab arrangement (traced as unchanged
// under the name tracer, "ReLogin" say, when it is), paging, saving the password, the password, the server name and,
// always, the profile. Each setting but the profile is written only when the dialog
// differs from what was read.
void WriteChosenLogin(PromptHost& host, const StoredLogin& stored, const TInputPasswordForm& dialog,
                      const char* tracer);

// Writes "default_country_code" and "default_site_code" for the codes the dialog
// found, each only when not empty.
void WriteServerCodes(PromptHost& host, const TInputPasswordForm& dialog);

// Writes "mc_last_failed" as typed when it differs from what was read.
void WriteLastFailed(PromptHost& host, const StoredLogin& stored, const TInputPasswordForm& dialog);

// text without the blanks and control characters at either end.
std::string TrimBlanks(const std::string& text);

}  // namespace vantiro
