// The command line of regsvr: [/u] [/s] [--registry FILE] MODULE, or /? for usage.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace regsvr {

struct CommandLine {
  bool unregister = false;               // /u: call DllUnregisterServer
  bool silent = false;                   // /s: no message on success
  bool help = false;                     // /?: print the usage
  std::optional<std::string> registry;   // --registry FILE
  std::string module;
};

// Switches are /u, /s and /? (also with '-', in any case); "--" ends them, so a
// module whose name looks like a switch can still be named. A POSIX path such as
// /usr/lib/x.so is a module, not a switch. False with error on a usage error.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

std::string UsageText();

}  // namespace regsvr
