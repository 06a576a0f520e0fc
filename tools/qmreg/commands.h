// The operations of qmreg: query, add, delete, import and export, with the
// output, questions and messages of reg.exe.
#pragma once

#include <iosfwd>

#include "command_line.h"

namespace qmreg {

// Runs the parsed command line; returns the exit code (0 success, 1 failure or
// cancellation). Questions are read from in.
int RunCommand(const CommandLine& line, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace qmreg
