#include "qmhost/options.h"

#include <CLI/CLI.hpp>

#include "qmhost/main_loop.h"

namespace qmhost {

std::optional<int> ParseHostOptions(int argc, const char* const* argv, HostOptions& options) {
  CLI::App app{"qmhost: the console host. Loads plug-ins through COM activation, routes "
               "their queues, keeps their settings and reports every call as an event line; "
               "commands come from --script and standard input (type \"help\")."};
  app.set_help_flag("-h,--help", "Print this help and exit");
  std::vector<std::string> services;
  std::string format;
  app.add_option("--plugin", options.plugins,
                 "PROGID|{CLSID}: activate this class (repeatable); without it, every class "
                 "listed under HKLM\\SOFTWARE\\Quillmere\\Viewer\\Plugins");
  app.add_option("--registry", options.registry,
                 "FILE: the registry file (else $QUILLMERE_REGISTRY, else the default)");
  app.add_option("--settings", options.settings,
                 "FILE: where plug-in settings persist (created when missing)");
  app.add_option("--service", services, "NAME=HOST:PORT: answer service lookups for NAME (repeatable)");
  app.add_option("--script", options.script, "FILE: read commands from FILE, then from standard input")
      ->check(CLI::ExistingFile);
  app.add_option("--events", options.events, "FILE: write event lines there (default: standard output)");
  app.add_option("--format", format, "json (default when not on a terminal) or text")
      ->check(CLI::IsMember({"json", "text"}));
  app.add_flag("--interactive", options.interactive,
               "message boxes and forms are answered at the terminal");
  app.add_flag("--show-secrets", options.showSecrets,
               "write password values in events as they are (for test harnesses that must "
               "check what was sent or stored)");
  app.add_flag("--windows", options.windows,
               "(Windows build) the host has a real main window and the plug-in shows real "
               "windows; form commands act on them");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : kExitUsage;
  }
  if (!format.empty()) options.format = format;
  for (const std::string& text : services) {
    auto service = ParseServiceOption(text);
    if (!service) {
      std::fprintf(stderr, "qmhost: --service %s: expected NAME=HOST:PORT with PORT 1 to 65535\n",
                   text.c_str());
      return kExitUsage;
    }
    options.services.push_back(std::move(*service));
  }
  return std::nullopt;
}

}  // namespace qmhost
