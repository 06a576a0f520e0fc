// What the host's start-up asks of the system where the platforms differ.
#pragma once

#include <cstdio>
#include <string>

namespace qmhost {

// The descriptor of standard input.
constexpr int kStandardInput = 0;

// Before anything is written: event lines leave as written, each ending in "\n"
// alone (on Windows the standard streams are switched to binary), and a reader of
// them that goes away does not end the host (on Linux SIGPIPE is ignored).
void PrepareProcess();

// Whether stream writes to a terminal (the default format is text there).
bool IsTerminal(std::FILE* stream);

// Opens a command script for reading: its descriptor, or -1 with errno set.
int OpenScript(const std::string& path);

// Creates or empties the events file, written byte for byte; nullptr with errno set.
std::FILE* OpenEventFile(const std::string& path);

}  // namespace qmhost
