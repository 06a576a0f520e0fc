#include "qmhost/host_process.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>

namespace qmhost {

void PrepareProcess() { std::signal(SIGPIPE, SIG_IGN); }

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

int OpenScript(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); }

std::FILE* OpenEventFile(const std::string& path) { return std::fopen(path.c_str(), "w"); }

}  // namespace qmhost
