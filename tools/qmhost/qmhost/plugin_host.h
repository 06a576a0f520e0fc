// The host's core: the plug-ins it activated, what they call back, the routing of
// their publications, their settings, and the commands that drive them. Plug-in
// interfaces are called on the main thread only; the callback side may be called
// from any thread.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "qmhost/command.h"
#include "qmhost/event_format.h"
#include "qmhost/host_callback.h"
#include "qmhost/routing.h"
#include "qmos/com_ptr.h"
#include "quillmere/qm_viewer.h"

namespace qmhost {

class EventWriter;
class HostPresenter;
class SettingsStore;
class WakeSignal;

struct LoadedPlugin {
  std::string name;  // as named: a ProgID or "{CLSID}"
  PluginIdentity identity;
  std::string module;
  qmos::ComPtr<quillmere::IQMViewerPlugin> plugin;  // null once released
  qmos::ComPtr<quillmere::IQMViewerMenu> menu;      // null when it offers none
  bool terminated = false;
};

class PluginHost {
 public:
  PluginHost(EventWriter& events, SettingsStore& settings, HostPresenter& presenter,
             WakeSignal& wake);
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  Services& services() { return services_; }

  // Start-up: activates and initialises each class; with no names, every class
  // listed under HKLM\SOFTWARE\Quillmere\Viewer\Plugins. A class that fails is an
  // `error` event and the others still load.
  void LoadPlugins(const std::vector<std::string>& names);
  std::size_t ActivePluginCount() const;

  // Delivers the publications queued now (not those they cause); returns how many.
  std::size_t DeliverPending();

  // Runs a command that acts on the plug-ins or the host's state (everything but
  // wait, sleep and quit, which belong to the main loop).
  void Run(const Command& command);

  // The host publishes data on queue (on the main thread).
  void HostPublish(const std::string& queue, const std::string& data);

  // Terminate on every plug-in not yet terminated.
  void TerminateAll();
  // The end of the session: Terminate where not done, release every plug-in,
  // unload the modules that can be unloaded, write `exit`. Returns status.
  int Shutdown(int status);

  // ---- The callback side (any thread) ----
  qmos::HRESULT PluginPublished(const PluginIdentity& plugin, const std::string& queue,
                                const std::string& data);
  qmos::HRESULT PluginSubscribed(const PluginIdentity& plugin, const std::string& queue);
  qmos::HRESULT PluginPutData(const PluginIdentity& plugin, const std::string& key,
                              const std::string& value);
  qmos::HRESULT PluginGetData(const PluginIdentity& plugin, const std::string& key,
                              qmos::BSTR* value);
  qmos::HRESULT PluginDeleteData(const PluginIdentity& plugin, const std::string& key);
  qmos::HRESULT PluginCalledUnsupported(const PluginIdentity& plugin, const char* method);

 private:
  void LoadPlugin(const std::string& name);
  void Error(const std::string& message, std::optional<qmos::HRESULT> hr = std::nullopt);
  // Writes the `call` event of a finished call and returns the error description
  // the call left (empty when none).
  std::string WriteCall(const LoadedPlugin& plugin, const char* method, qmos::HRESULT hr,
                        EventMembers members = EventMembers::object());
  void Deliver(const Delivery& delivery);
  void Enqueue(const std::string& queue, const std::string& data);
  std::vector<LoadedPlugin*> Active();
  void RunSettingCommand(const Command& command);

  EventWriter& events_;
  SettingsStore& settings_;
  HostPresenter& presenter_;
  WakeSignal& wake_;
  Subscriptions subscriptions_;
  DeliveryQueue deliveries_;
  Services services_;
  std::atomic<bool> accepting_{true};
  // Grown during start-up only, on the main thread; entries are never removed.
  std::vector<std::unique_ptr<LoadedPlugin>> plugins_;
  // Kept for the life of the process: plug-in threads may still call them.
  std::vector<std::unique_ptr<HostCallback>> callbacks_;
};

}  // namespace qmhost
