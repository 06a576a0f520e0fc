// The command line of qmreg: a verb, its operands and reg.exe-style switches
// (/v NAME, /ve, /f, ...; case-insensitive, '-' accepted for '/').
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qmreg {

struct CommandLine {
  bool help = false;                     // no arguments, /? or --help
  std::optional<std::string> registry;   // --registry FILE
  std::string verb;                      // lower case: query, add, delete, import, export
  std::vector<std::string> operands;     // KEY, FILE
  std::optional<std::string> valueName;  // /v NAME
  bool defaultValue = false;             // /ve
  bool allValues = false;                // /va
  bool recursive = false;                // /s
  std::optional<std::string> type;       // /t TYPE
  std::optional<std::string> data;       // /d DATA
  bool force = false;                    // /f
  bool overwriteFile = false;            // /y
};

// Parses argv[1..]. False with a message for an unknown verb or switch, a switch
// that the verb does not take, a switch given twice, a missing switch argument
// or a wrong number of operands.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& line, std::string& error);

std::string UsageText();

}  // namespace qmreg
