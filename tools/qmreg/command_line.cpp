#include "command_line.h"

#include <algorithm>
#include <cctype>

#include "registry_option.h"
#include "tool_platform.h"

namespace qmreg {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// "/v" or "-v" with no further slash: a switch; "/tmp/x.reg" is a file name.
bool LooksLikeSwitch(const std::string& arg) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return false;
  return arg.find('/', 1) == std::string::npos;
}

struct VerbRule {
  const char* verb;
  const char* switches;  // the switches it takes, space-separated
  std::size_t operands;
};

constexpr VerbRule kVerbs[] = {
    {"query", " v ve s ", 1},
    {"add", " v ve t d f ", 1},
    {"delete", " v ve va f ", 1},
    {"import", " ", 1},
    {"export", " y ", 2},
};

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  line = CommandLine{};
  std::vector<std::string> switches;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::string lower = Lower(arg);
    if (lower == "/?" || lower == "-?" || lower == "--help" || lower == "-h") {
      line.help = true;
      return true;
    }
    const qmtools::OptionTaken taken =
        qmtools::TakeRegistryOption(args, i, lower, line.registry, error);
    if (taken == qmtools::OptionTaken::Error) return false;
    if (taken == qmtools::OptionTaken::Yes) continue;
    if (line.verb.empty()) {
      line.verb = lower;
      continue;
    }
    if (!LooksLikeSwitch(arg)) {
      line.operands.push_back(arg);
      continue;
    }
    const std::string name = lower.substr(1);
    if (std::find(switches.begin(), switches.end(), name) != switches.end()) {
      error = "Invalid syntax: switch " + arg + " given twice.";
      return false;
    }
    switches.push_back(name);
    const auto argument = [&](std::optional<std::string>& into) {
      if (i + 1 >= args.size()) {
        error = "Invalid syntax: switch " + arg + " needs an argument.";
        return false;
      }
      into = args[++i];
      return true;
    };
    if (name == "v") {
      if (!argument(line.valueName)) return false;
    } else if (name == "t") {
      if (!argument(line.type)) return false;
    } else if (name == "d") {
      if (!argument(line.data)) return false;
    } else if (name == "ve") {
      line.defaultValue = true;
    } else if (name == "va") {
      line.allValues = true;
    } else if (name == "s") {
      line.recursive = true;
    } else if (name == "f") {
      line.force = true;
    } else if (name == "y") {
      line.overwriteFile = true;
    } else {
      error = "Invalid syntax: unknown switch " + arg + ".";
      return false;
    }
  }
  if (line.verb.empty()) {
    line.help = true;
    return true;
  }
  const VerbRule* rule = nullptr;
  for (const VerbRule& candidate : kVerbs) {
    if (line.verb == candidate.verb) rule = &candidate;
  }
  if (rule == nullptr) {
    error = "Invalid syntax: unknown operation \"" + line.verb + "\".";
    return false;
  }
  for (const std::string& name : switches) {
    if (std::string(rule->switches).find(" " + name + " ") == std::string::npos) {
      error = "Invalid syntax: " + line.verb + " does not take the switch /" + name + ".";
      return false;
    }
  }
  const int choices = (line.valueName ? 1 : 0) + (line.defaultValue ? 1 : 0) + (line.allValues ? 1 : 0);
  if (choices > 1) {
    error = "Invalid syntax: /v, /ve and /va exclude each other.";
    return false;
  }
  if (line.recursive && choices > 0) {
    error = "Invalid syntax: /s cannot be combined with /v or /ve.";
    return false;
  }
  if (line.operands.size() != rule->operands) {
    error = "Invalid syntax: " + line.verb + " takes " + std::to_string(rule->operands) +
            (rule->operands == 1 ? " operand" : " operands") + ", " +
            std::to_string(line.operands.size()) + " given.";
    return false;
  }
  return true;
}

std::string UsageText() {
  return "Usage: qmreg [--registry FILE] OPERATION ...\n"
         "\n"
         "  qmreg query KEY [/v NAME | /ve | /s]\n"
         "  qmreg add KEY [/v NAME | /ve] [/t REG_SZ|REG_DWORD] [/d DATA] [/f]\n"
         "  qmreg delete KEY [/v NAME | /ve | /va] [/f]\n"
         "  qmreg import FILE\n"
         "  qmreg export KEY FILE [/y]\n"
         "\n"
         "  KEY      HKEY_LOCAL_MACHINE\\Path, HKEY_CURRENT_USER\\Path or HKEY_CLASSES_ROOT\\Path\n"
         "           (or HKLM, HKCU, HKCR)\n"
         "  /v NAME  the value NAME          /ve  the default value (unnamed)\n"
         "  /va      all values of the key   /s   the key and all its subkeys\n"
         "  /t TYPE  REG_SZ (default) or REG_DWORD (decimal or 0x hex data)\n"
         "  /d DATA  the data to write       /f   no question before overwriting or deleting\n"
         "  /y       overwrite FILE without asking\n"
         "\n" +
         std::string(qmtools::RegistryUsageText()) +
         "Switches may also be written with '-' and in any case.\n";
}

}  // namespace qmreg
