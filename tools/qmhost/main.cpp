// qmhost: the console host. It stands in for the messaging client: it activates
// plug-ins, serves their callbacks and is driven by commands; see docs/qmhost.md.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "qmhost/event_writer.h"
#include "qmhost/host_presenter.h"
#include "qmhost/host_process.h"
#include "qmhost/main_loop.h"
#include "qmhost/options.h"
#include "qmhost/plugin_host.h"
#include "qmhost/settings_store.h"
#include "qmhost/wake_signal.h"
#include "qmhost/window_driver.h"
#include "qmos/activation.h"
#include "qmos/application.h"
#include "qmos/hresult.h"
#include "qmos/registry.h"
#include "qmos/thread.h"
#include "tool_platform.h"

namespace {

// Everything a session is made of. It is never freed: a plug-in's thread that
// outlives the session (one that did not end within its module's wait) may still
// call its callback, which must then find a live host that writes nothing more.
struct Session {
  Session(std::FILE* out, bool ownsOut, qmhost::EventFormat format, bool interactive,
          bool showSecrets, bool windows)
      : events(out, ownsOut, format, showSecrets),
        presenter(std::make_shared<qmhost::HostPresenter>(events, interactive, windows)),
        host(events, settings, *presenter, wake) {
    events.SetWakeSignal(&wake);
  }
  qmhost::WakeSignal wake;
  qmhost::EventWriter events;
  qmhost::SettingsStore settings;
  std::shared_ptr<qmhost::HostPresenter> presenter;
  qmhost::PluginHost host;
};

}  // namespace

int main(int argc, char** argv) {
  qmhost::PrepareProcess();
  const std::vector<std::string> args = qmtools::ProgramArguments(argc, argv);
  std::vector<const char*> argvUtf8 = {argv[0]};
  for (const std::string& arg : args) argvUtf8.push_back(arg.c_str());
  qmhost::HostOptions options;
  if (auto status = qmhost::ParseHostOptions(static_cast<int>(argvUtf8.size()), argvUtf8.data(), options))
    return *status;

  if (options.registry) qmos::SetRegistryFile(*options.registry);

  std::FILE* out = stdout;
  if (options.events) {
    out = qmhost::OpenEventFile(*options.events);
    if (!out) {
      std::perror(("qmhost: " + *options.events).c_str());
      return qmhost::kExitUsage;
    }
  }
  const qmhost::EventFormat format =
      options.format ? (*options.format == "text" ? qmhost::EventFormat::Text : qmhost::EventFormat::Json)
                     : (qmhost::IsTerminal(out) ? qmhost::EventFormat::Text : qmhost::EventFormat::Json);

  std::vector<std::unique_ptr<qmhost::LineReader>> inputs;
  if (options.script) {
    const int fd = qmhost::OpenScript(*options.script);
    if (fd < 0) {
      std::perror(("qmhost: " + *options.script).c_str());
      return qmhost::kExitUsage;
    }
    inputs.push_back(std::make_unique<qmhost::LineReader>(fd, true));
  }
  inputs.push_back(std::make_unique<qmhost::LineReader>(qmhost::kStandardInput, false));

  static Session* const session =
      new Session(out, out != stdout, format, options.interactive, options.showSecrets, options.windows);
  // Where the registry is the system's (Windows) there is no file to choose.
  if (const auto refused = qmtools::RefuseRegistryFile(options.registry.has_value())) {
    session->events.Write("error", {{"message", *refused}});
    session->events.Write("exit", {{"status", qmhost::kExitUsage}});
    session->events.Close();
    return qmhost::kExitUsage;
  }

  qmos::Application& app = qmos::Application::Instance();
  app.SetMainThread();
  app.StartServing();
  app.SetPresenter(session->presenter);
  std::string windowError;
  if (options.windows && !qmhost::OpenMainWindow(windowError)) {
    session->events.Write("error", {{"message", windowError}});
    session->events.Write("exit", {{"status", qmhost::kExitUsage}});
    session->events.Close();
    return qmhost::kExitUsage;
  }
  // Activation needs the main thread in a single-threaded apartment on Windows
  // (nothing to do elsewhere).
  const qmos::HRESULT apartment = qmos::CoInitializeApartment();
  if (FAILED(apartment))
    session->events.Write("error", {{"message", "COM: the main thread cannot enter an apartment: " +
                                                    qmos::HResultText(apartment)}});

  if (options.settings) {
    std::string error;
    if (!session->settings.Open(*options.settings, error))
      session->events.Write("error", {{"message", "settings: " + error + "; settings stay in memory"}});
  }
  for (auto& [name, address] : options.services) session->host.services().Set(name, address);

  session->host.LoadPlugins(options.plugins);
  qmhost::MainLoop loop(session->host, session->events, session->wake, std::move(inputs));
  const int status = loop.Run();
  // Leaving the apartment unloads the modules that are still loaded: not while a
  // plug-in's thread may still run in one (the process's end takes them then).
  if (SUCCEEDED(apartment) && qmos::TThread::RunningCount() == 0) qmos::CoUninitialize();
  return status;
}
