// qmhost: the console host. It stands in for the messaging client: it activates
// plug-ins, serves their callbacks and is driven by commands; see docs/qmhost.md.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "qmhost/event_writer.h"
#include "qmhost/host_presenter.h"
#include "qmhost/main_loop.h"
#include "qmhost/options.h"
#include "qmhost/plugin_host.h"
#include "qmhost/settings_store.h"
#include "qmhost/wake_signal.h"
#include "qmos/application.h"
#include "qmos/registry.h"

namespace {

// Everything a session is made of. It is never freed: a plug-in's thread that
// outlives the session (one that did not end within its module's wait) may still
// call its callback, which must then find a live host that writes nothing more.
struct Session {
  Session(std::FILE* out, bool ownsOut, qmhost::EventFormat format, bool interactive,
          bool showSecrets)
      : events(out, ownsOut, format, showSecrets),
        presenter(std::make_shared<qmhost::HostPresenter>(events, interactive)),
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
  qmhost::HostOptions options;
  if (auto status = qmhost::ParseHostOptions(argc, argv, options)) return *status;
  // A reader of the event lines that goes away must not kill the host.
  std::signal(SIGPIPE, SIG_IGN);

  if (options.registry) qmos::SetRegistryFile(*options.registry);

  std::FILE* out = stdout;
  if (options.events) {
    out = std::fopen(options.events->c_str(), "w");
    if (!out) {
      std::perror(("qmhost: " + *options.events).c_str());
      return qmhost::kExitUsage;
    }
  }
  const qmhost::EventFormat format =
      options.format ? (*options.format == "text" ? qmhost::EventFormat::Text : qmhost::EventFormat::Json)
                     : (::isatty(::fileno(out)) ? qmhost::EventFormat::Text : qmhost::EventFormat::Json);

  std::vector<std::unique_ptr<qmhost::LineReader>> inputs;
  if (options.script) {
    const int fd = ::open(options.script->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::perror(("qmhost: " + *options.script).c_str());
      return qmhost::kExitUsage;
    }
    inputs.push_back(std::make_unique<qmhost::LineReader>(fd, true));
  }
  inputs.push_back(std::make_unique<qmhost::LineReader>(STDIN_FILENO, false));

  static Session* const session =
      new Session(out, out != stdout, format, options.interactive, options.showSecrets);

  qmos::Application& app = qmos::Application::Instance();
  app.SetMainThread();
  app.StartServing();
  app.SetPresenter(session->presenter);

  if (options.settings) {
    std::string error;
    if (!session->settings.Open(*options.settings, error))
      session->events.Write("error", {{"message", "settings: " + error + "; settings stay in memory"}});
  }
  for (auto& [name, address] : options.services) session->host.services().Set(name, address);

  session->host.LoadPlugins(options.plugins);
  qmhost::MainLoop loop(session->host, session->events, session->wake, std::move(inputs));
  return loop.Run();
}
