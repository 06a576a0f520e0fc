// The tools on Linux: the registry is a file, paths and arguments are bytes.
#include "tool_platform.h"

#include <sys/stat.h>

#include "qmos/registry.h"

namespace qmtools {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void UseBinaryStandardStreams() {}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::optional<std::string> RefuseRegistryFile(bool) { return std::nullopt; }

std::string RegistryDescription() { return qmos::RegistryFile(); }

const char* RegistryUsageText() {
  return "Without --registry the file is $QUILLMERE_REGISTRY, else\n"
         "$XDG_CONFIG_HOME/quillmere/registry.reg (~/.config/quillmere/registry.reg).\n";
}

const char* ModulePathUsageText() {
  return "MODULE may be in Windows form (C:\\Plugins\\x.so is /Plugins/x.so); a relative\n"
         "path is taken from the current folder.\n";
}

}  // namespace qmtools
