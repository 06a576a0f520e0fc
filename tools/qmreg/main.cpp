// qmreg: the registry editor of the command line, with the verbs and switches
// of reg.exe, working on the registry file of this platform.
#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "qmos/registry.h"
#include "tool_platform.h"

int main(int argc, char** argv) {
  qmtools::UseBinaryStandardStreams();
  const std::vector<std::string> args = qmtools::ProgramArguments(argc, argv);
  qmreg::CommandLine line;
  std::string error;
  if (!qmreg::ParseCommandLine(args, line, error)) {
    std::cerr << "ERROR: " << error << "\nType \"qmreg /?\" for usage.\n";
    return 1;
  }
  if (line.help) {
    std::cout << qmreg::UsageText();
    return 0;
  }
  if (const auto refused = qmtools::RefuseRegistryFile(line.registry.has_value())) {
    std::cerr << "ERROR: " << *refused << "\n";
    return 1;
  }
  if (line.registry) qmos::SetRegistryFile(*line.registry);
  return qmreg::RunCommand(line, std::cin, std::cout, std::cerr);
}
