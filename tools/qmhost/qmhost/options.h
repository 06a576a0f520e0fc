// qmhost's command line.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qmhost/routing.h"

namespace qmhost {

struct HostOptions {
  std::vector<std::string> plugins;  // ProgIDs or {CLSID}s; empty: the registered list
  std::optional<std::string> registry;
  std::optional<std::string> settings;
  std::vector<std::pair<std::string, ServiceAddress>> services;
  std::optional<std::string> script;
  std::optional<std::string> events;
  std::optional<std::string> format;  // "json" or "text"; else chosen by the output
  bool interactive = false;
  bool showSecrets = false;  // password values in events as they are
  bool windows = false;      // a real main window; forms and boxes are real windows
};

// Parses the arguments. Returns an exit status when the program should stop at
// once (after --help: 0, after a usage error: 2, the message written to stderr);
// nothing when it should go on.
std::optional<int> ParseHostOptions(int argc, const char* const* argv, HostOptions& options);

}  // namespace qmhost
