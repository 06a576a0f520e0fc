// Loading a server module and calling its registration entry point, with the
// outcome reported as regsvr32 reports it.
#pragma once

#include <ostream>
#include <string>

#include "command_line.h"

namespace regsvr {

// The module's file: Windows form turned into a path of this system, and a
// relative path made absolute against the current folder, so that the loader
// does not search the library path for it and the module records where it lies.
std::string ModuleFile(const std::string& module);

// Loads the module, calls DllRegisterServer (or DllUnregisterServer), and writes
// the outcome: success to out (unless silent), failures to err. Returns the exit
// status: 0 when the call succeeded, 1 otherwise.
int RegisterModule(const CommandLine& line, std::ostream& out, std::ostream& err);

}  // namespace regsvr
