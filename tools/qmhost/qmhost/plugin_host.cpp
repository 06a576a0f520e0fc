#include "qmhost/plugin_host.h"

#include <cstdio>

#include "qmhost/event_writer.h"
#include "qmhost/host_presenter.h"
#include "qmhost/settings_store.h"
#include "qmhost/wake_signal.h"
#include "qmos/activation.h"
#include "qmos/application.h"
#include "qmos/bstr.h"
#include "qmos/clock.h"
#include "qmos/error_info.h"
#include "qmos/registry.h"
#include "qmos/sleep.h"
#include "qmos/thread.h"

namespace qmhost {

using namespace qmos;

namespace {

// How long the end of a session gives plug-in threads that are just ending to let
// go of their modules before it stops trying to unload them.
constexpr std::int64_t kUnloadGraceMs = 2000;

// The text for an `error` event after a failed call: the error information the call
// left, else the code's own text.
std::string FailureText(HRESULT hr, const std::string& description) {
  return description.empty() ? HResultText(hr) : description;
}

std::string TakeErrorDescription() {
  ErrorInfo info;
  if (GetErrorInfo(info) != S_OK) return {};
  return info.description.empty() ? std::string("(no description)") : info.description;
}

}  // namespace

PluginHost::PluginHost(EventWriter& events, SettingsStore& settings, HostPresenter& presenter,
                       WakeSignal& wake)
    : events_(events), settings_(settings), presenter_(presenter), wake_(wake) {}

void PluginHost::Error(const std::string& message, std::optional<HRESULT> hr) {
  EventMembers members = {{"message", message}};
  if (hr) members["hresult"] = HResultMember(*hr);
  events_.Write("error", members);
}

std::string PluginHost::WriteCall(const LoadedPlugin& plugin, const char* method, HRESULT hr,
                                  EventMembers members) {
  EventMembers line = {{"method", method}, {"hresult", HResultMember(hr)}};
  for (auto& [key, value] : members.items()) line[key] = value;
  const std::string error = TakeErrorDescription();
  if (!error.empty()) line["error"] = error;
  line["plugin"] = plugin.identity.clsid;
  events_.Write("call", line);
  return error;
}

// ---- Start-up ----

void PluginHost::LoadPlugins(const std::vector<std::string>& names) {
  std::vector<std::string> classes = names;
  if (names.empty()) {
    std::string problem;
    if (!RegCheckFile(problem)) Error("registry " + RegistryFile() + ": " + problem);
    if (auto key = RegKey::Open(RegRoot::LocalMachine, quillmere::kPluginsKey))
      classes = key->SubKeyNames();
  }
  for (const std::string& name : classes) LoadPlugin(name);
}

void PluginHost::LoadPlugin(const std::string& name) {
  CLSID clsid{};
  if (!name.empty() && name.front() == '{') {
    const auto parsed = GuidFromString(name);
    if (!parsed) {
      Error("plug-in " + name + ": not a class identifier");
      return;
    }
    clsid = *parsed;
  } else {
    ClearErrorInfo();
    const HRESULT hr = CLSIDFromProgID(name, &clsid);
    if (FAILED(hr)) {
      Error("plug-in " + name + ": " + FailureText(hr, TakeErrorDescription()), hr);
      return;
    }
  }

  auto record = std::make_unique<LoadedPlugin>();
  record->name = name;
  record->identity.index = static_cast<int>(plugins_.size());
  record->identity.clsid = GuidToString(clsid);
  GetInprocServerPath(clsid, record->module);

  ClearErrorInfo();
  const HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER,
                                           quillmere::IID_IQMViewerPlugin,
                                           record->plugin.OutVoid());
  if (FAILED(created) || !record->plugin) {
    record->plugin.Reset();
    Error("plug-in " + name + ": cannot activate: " +
              FailureText(created, TakeErrorDescription()),
          created);
    return;
  }
  if (FAILED(record->plugin.As(quillmere::IID_IQMViewerMenu, record->menu))) record->menu.Reset();
  events_.Write("loaded", {{"module", record->module}, {"clsid", record->identity.clsid}});

  callbacks_.push_back(std::make_unique<HostCallback>(*this, record->identity));
  HostCallback* callback = callbacks_.back().get();
  LoadedPlugin& plugin = *record;
  plugins_.push_back(std::move(record));

  ClearErrorInfo();
  const HRESULT hr = plugin.plugin->Initialize(callback);
  const std::string error = WriteCall(plugin, "Initialize", hr);
  if (FAILED(hr)) {
    Error("plug-in " + name + ": Initialize failed: " + FailureText(hr, error), hr);
    subscriptions_.RemovePlugin(plugin.identity.index);
    plugin.menu.Reset();
    plugin.plugin.Reset();
  }
}

std::vector<LoadedPlugin*> PluginHost::Active() {
  std::vector<LoadedPlugin*> active;
  for (auto& plugin : plugins_)
    if (plugin->plugin) active.push_back(plugin.get());
  return active;
}

std::size_t PluginHost::ActivePluginCount() const {
  std::size_t count = 0;
  for (const auto& plugin : plugins_)
    if (plugin->plugin) ++count;
  return count;
}

// ---- Routing ----

void PluginHost::Enqueue(const std::string& queue, const std::string& data) {
  if (!accepting_.load()) return;
  deliveries_.Push(Delivery{queue, data});
  wake_.Signal();
}

void PluginHost::HostPublish(const std::string& queue, const std::string& data) {
  events_.Write("publish", {{"queue", queue}, {"data", data}, {"thread", "main"}});
  Enqueue(queue, data);
}

std::size_t PluginHost::DeliverPending() {
  std::size_t count = deliveries_.Size();
  std::size_t done = 0;
  for (; done < count; ++done) {
    auto delivery = deliveries_.Pop();
    if (!delivery) break;
    Deliver(*delivery);
  }
  return done;
}

void PluginHost::Deliver(const Delivery& delivery) {
  for (const int index : subscriptions_.Of(delivery.queue)) {
    if (index < 0 || static_cast<std::size_t>(index) >= plugins_.size()) continue;
    LoadedPlugin& target = *plugins_[static_cast<std::size_t>(index)];
    if (!target.plugin || target.terminated) continue;
    // Hold a reference of our own for the call.
    const ComPtr<quillmere::IQMViewerPlugin> plugin = target.plugin;
    Bstr queue(delivery.queue);
    Bstr data(delivery.data);
    ClearErrorInfo();
    const HRESULT hr = plugin->Publish(queue.Get(), data.Get());
    WriteCall(target, "Publish", hr, {{"queue", delivery.queue}, {"data", delivery.data}});
  }
  if (delivery.queue == kServiceLookupRequest) {
    const auto name = QueueDataField(delivery.data, "service_name");
    if (!name) return;
    if (const auto address = services_.Find(*name))
      HostPublish(kServiceLookupResponse, ServiceLookupAnswer(*name, *address));
  }
}

// ---- The callback side ----

HRESULT PluginHost::PluginPublished(const PluginIdentity& plugin, const std::string& queue,
                                    const std::string& data) {
  const bool main = Application::Instance().IsMainThread();
  events_.Write("publish", {{"queue", queue},
                            {"data", data},
                            {"thread", main ? "main" : "worker"},
                            {"plugin", plugin.clsid}});
  Enqueue(queue, data);
  return S_OK;
}

HRESULT PluginHost::PluginSubscribed(const PluginIdentity& plugin, const std::string& queue) {
  events_.Write("subscribe", {{"queue", queue}, {"plugin", plugin.clsid}});
  if (accepting_.load()) subscriptions_.Add(queue, plugin.index);
  return S_OK;
}

HRESULT PluginHost::PluginPutData(const PluginIdentity& plugin, const std::string& key,
                                  const std::string& value) {
  std::string problem;
  const bool saved = settings_.Put(plugin.clsid, key, value, problem);
  events_.Write("put_data", {{"key", key}, {"value", value}, {"plugin", plugin.clsid}});
  if (saved) return S_OK;
  Error("settings: " + problem);
  return E_FAIL;
}

HRESULT PluginHost::PluginGetData(const PluginIdentity& plugin, const std::string& key,
                                  BSTR* value) {
  HRESULT hr = E_POINTER;
  std::optional<std::string> stored;
  if (value) {
    *value = nullptr;
    stored = settings_.Get(plugin.clsid, key);
    hr = S_FALSE;
    if (stored) {
      *value = BstrFromUtf8(*stored);
      hr = *value ? S_OK : E_OUTOFMEMORY;
    }
  }
  EventMembers members = {{"key", key}};
  if (stored && hr == S_OK) members["value"] = *stored;
  members["hresult"] = HResultMember(hr);
  members["plugin"] = plugin.clsid;
  events_.Write("get_data", members);
  return hr;
}

HRESULT PluginHost::PluginDeleteData(const PluginIdentity& plugin, const std::string& key) {
  std::string problem;
  bool existed = false;
  const bool saved = settings_.Delete(plugin.clsid, key, existed, problem);
  events_.Write("delete_data", {{"key", key}, {"plugin", plugin.clsid}});
  if (saved) return S_OK;
  Error("settings: " + problem);
  return E_FAIL;
}

HRESULT PluginHost::PluginCalledUnsupported(const PluginIdentity& plugin, const char* method) {
  events_.Write("unsupported", {{"method", method}, {"plugin", plugin.clsid}});
  return S_OK;
}

// ---- Commands ----

void PluginHost::RunSettingCommand(const Command& command) {
  if (plugins_.empty()) {
    Error("settings: no plug-in is loaded");
    return;
  }
  // Settings belong to every plug-in that was activated, running or not.
  for (const auto& plugin : plugins_) {
    const std::string& clsid = plugin->identity.clsid;
    EventMembers members = {{"key", command.text}};
    std::string problem;
    bool saved = true;
    if (command.kind == CommandKind::Set) {
      saved = settings_.Put(clsid, command.text, command.value, problem);
      members["value"] = command.value;
    } else if (command.kind == CommandKind::Unset) {
      bool existed = false;
      saved = settings_.Delete(clsid, command.text, existed, problem);
    } else if (const auto value = settings_.Get(clsid, command.text)) {
      members["value"] = *value;
    }
    members["plugin"] = clsid;
    events_.Write("setting", members);
    if (!saved) Error("settings: " + problem);
  }
}

void PluginHost::Run(const Command& command) {
  switch (command.kind) {
    case CommandKind::Publish:
      HostPublish(command.text, command.value);
      return;
    case CommandKind::Menu:
    case CommandKind::MenuStructure: {
      bool any = false;
      for (LoadedPlugin* plugin : Active()) {
        if (!plugin->menu) continue;
        any = true;
        const ComPtr<quillmere::IQMViewerMenu> menu = plugin->menu;
        ClearErrorInfo();
        if (command.kind == CommandKind::Menu) {
          const HRESULT hr = menu->MenuOptionSelected(static_cast<SHORT>(command.number));
          WriteCall(*plugin, "MenuOptionSelected", hr, {{"id", command.number}});
        } else {
          Bstr structure;
          const HRESULT hr = menu->GetMenuStructure(structure.Out());
          WriteCall(*plugin, "GetMenuStructure", hr, {{"structure", structure.Utf8()}});
        }
      }
      if (!any) Error(command.kind == CommandKind::Menu ? "menu: no plug-in has a menu"
                                                        : "menu-structure: no plug-in has a menu");
      return;
    }
    case CommandKind::Info:
    case CommandKind::HasGui: {
      const auto active = Active();
      if (active.empty()) Error("no plug-in is loaded");
      for (LoadedPlugin* plugin : active) {
        const ComPtr<quillmere::IQMViewerPlugin> target = plugin->plugin;
        ClearErrorInfo();
        if (command.kind == CommandKind::HasGui) {
          WriteCall(*plugin, "HasGUI", target->HasGUI());
          continue;
        }
        Bstr shortText, longText, version, tab;
        const HRESULT hr = target->PlugInInfo(shortText.Out(), longText.Out(), version.Out(), tab.Out());
        WriteCall(*plugin, "PlugInInfo", hr,
                  {{"short", shortText.Utf8()},
                   {"long", longText.Utf8()},
                   {"version", version.Utf8()},
                   {"tab", tab.Utf8()}});
      }
      return;
    }
    case CommandKind::Set:
    case CommandKind::Unset:
    case CommandKind::Get:
      RunSettingCommand(command);
      return;
    case CommandKind::Service:
      services_.Set(command.text,
                    ServiceAddress{command.value, static_cast<std::uint16_t>(command.number)});
      return;
    case CommandKind::ServiceOff:
      services_.Remove(command.text);
      return;
    case CommandKind::Box:
      presenter_.QueueBoxResult(static_cast<int>(command.number));
      return;
    case CommandKind::Form:
      presenter_.QueueFormActions(command.text, command.actions);
      return;
    case CommandKind::Terminate:
      TerminateAll();
      Application::Instance().StartServing();
      return;
    case CommandKind::Help:
      std::fputs(CommandHelpText(), stderr);
      return;
    case CommandKind::Wait:
    case CommandKind::Sleep:
    case CommandKind::Quit:
      return;  // the main loop's
  }
}

// ---- The end ----

void PluginHost::TerminateAll() {
  // While plug-ins terminate the main thread is inside their calls and cannot serve
  // its queue: a worker that asks for the main thread then (a caption, a message
  // box) would keep Terminate waiting on it. Stopping the queue first makes such a
  // request return at once, refused.
  Application::Instance().StopServing();
  for (LoadedPlugin* plugin : Active()) {
    if (plugin->terminated) continue;
    plugin->terminated = true;
    const ComPtr<quillmere::IQMViewerPlugin> target = plugin->plugin;
    ClearErrorInfo();
    WriteCall(*plugin, "Terminate", target->Terminate());
  }
}

int PluginHost::Shutdown(int status) {
  TerminateAll();
  accepting_.store(false);
  for (auto& plugin : plugins_) {
    plugin->menu.Reset();
    plugin->plugin.Reset();
    subscriptions_.RemovePlugin(plugin->identity.index);
  }
  // A plug-in's threads may take a moment to let go after Terminate returned; a
  // module says it can unload only once they have.
  const std::int64_t deadline = MonotonicMs() + kUnloadGraceMs;
  for (;;) {
    // Counted before asking: a module that refused while no thread ran will not
    // change its mind.
    const bool threadsRunning = TThread::RunningCount() > 0;
    CoFreeUnusedLibraries();
    if (CoLoadedModuleCount() == 0 || !threadsRunning || MonotonicMs() >= deadline) break;
    Sleep(5);
  }
  events_.Write("exit", {{"status", status},
                         {"loaded_modules", static_cast<std::uint64_t>(CoLoadedModuleCount())}});
  events_.Close();
  return status;
}

}  // namespace qmhost
