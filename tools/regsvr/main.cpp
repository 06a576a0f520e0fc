// regsvr: registers or unregisters a COM server module, like regsvr32: loads the
// module and calls its DllRegisterServer or DllUnregisterServer.
#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "qmos/registry.h"
#include "register_module.h"
#include "tool_platform.h"

int main(int argc, char** argv) {
  qmtools::UseBinaryStandardStreams();
  const std::vector<std::string> args = qmtools::ProgramArguments(argc, argv);
  regsvr::CommandLine line;
  std::string error;
  if (!regsvr::ParseCommandLine(args, line, error)) {
    std::cerr << "ERROR: " << error << "\n" << regsvr::UsageText();
    return 1;
  }
  if (line.help) {
    std::cout << regsvr::UsageText();
    return 0;
  }
  if (const auto refused = qmtools::RefuseRegistryFile(line.registry.has_value())) {
    std::cerr << "ERROR: " << *refused << "\n";
    return 1;
  }
  if (line.registry) qmos::SetRegistryFile(*line.registry);
  return regsvr::RegisterModule(line, std::cout, std::cerr);
}
