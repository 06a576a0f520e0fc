// What the command-line tools (qmreg, regsvr, qmhost) ask of the system where the
// platforms differ; each platform's answer is in its backend folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qmtools {

// The program's arguments after its name, in UTF-8 (on Windows taken from the
// process's UTF-16 command line, so that any file name comes through).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Standard input, output and error pass bytes as they are: a line written ends in
// "\n" alone on every platform (Windows would otherwise write "\r\n").
void UseBinaryStandardStreams();

// Whether something exists at path (a UTF-8 path).
bool PathExists(const std::string& path);

// Where the registry is the system's own (Windows) there is no registry file to
// choose: when fileOption (--registry) was given or $QUILLMERE_REGISTRY is set, the
// reason they cannot be used, naming how values are loaded there. Nothing where the
// registry is a file.
std::optional<std::string> RefuseRegistryFile(bool fileOption);

// The registry in use as a message names it: its file, or the system's registry.
std::string RegistryDescription();

// The usage lines that say where the registry is.
const char* RegistryUsageText();

// The usage lines that say how a module path may be written.
const char* ModulePathUsageText();

}  // namespace qmtools
