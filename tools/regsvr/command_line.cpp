#include "command_line.h"

#include <cctype>

#include "registry_option.h"
#include "tool_platform.h"

namespace regsvr {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool IsSwitch(const std::string& arg, char name) {
  return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') &&
         std::tolower(static_cast<unsigned char>(arg[1])) == name;
}

bool SetModule(CommandLine& line, const std::string& arg, std::string& error) {
  if (!line.module.empty()) {
    error = "More than one module given.";
    return false;
  }
  if (arg.empty()) {
    error = "The module name is empty.";
    return false;
  }
  line.module = arg;
  return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  line = CommandLine{};
  bool switchesEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (switchesEnded) {
      if (!SetModule(line, arg, error)) return false;
      continue;
    }
    const std::string lower = Lower(arg);
    if (arg == "--") {
      switchesEnded = true;
    } else if (IsSwitch(arg, 'u')) {
      line.unregister = true;
    } else if (IsSwitch(arg, 's')) {
      line.silent = true;
    } else if (IsSwitch(arg, '?') || IsSwitch(arg, 'h') || lower == "--help") {
      line.help = true;
    } else if (const qmtools::OptionTaken taken =
                   qmtools::TakeRegistryOption(args, i, lower, line.registry, error);
               taken != qmtools::OptionTaken::No) {
      if (taken == qmtools::OptionTaken::Error) return false;
    } else if (arg.size() == 2 && (arg[0] == '/' || arg[0] == '-')) {
      error = "Unrecognized flag: " + arg;
      return false;
    } else if (arg.size() > 2 && arg[0] == '-' && arg[1] == '-') {
      error = "Unrecognized option: " + arg;
      return false;
    } else if (!SetModule(line, arg, error)) {
      return false;
    }
  }
  if (!line.help && line.module.empty()) {
    error = "No module name given.";
    return false;
  }
  return true;
}

std::string UsageText() {
  return "Usage: regsvr [/u] [/s] [--registry FILE] MODULE\n"
         "Registers a COM server module by calling its DllRegisterServer.\n"
         "\n"
         "  /u               Unregister the module: call DllUnregisterServer.\n"
         "  /s               Silent: print nothing when the call succeeds.\n"
         "  --registry FILE  Use FILE as the registry file.\n"
         "  /?               Show this help.\n"
         "  --               End of switches: the next argument is the module.\n"
         "\n" +
         std::string(qmtools::ModulePathUsageText()) + qmtools::RegistryUsageText() +
         "Exit status: 0 when the call succeeded, 1 otherwise.\n";
}

}  // namespace regsvr
