// The command line of muxsim.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "simcommon/program.h"

namespace muxsim {

struct Options {
    simcommon::ServerOptions server;  // listening, certificates, script, event format
    bool foreign = false;
    std::vector<std::pair<std::string, std::string>> profiles;
    std::size_t max_frame = 1'000'000;
};

struct ParseOutcome {
    std::optional<Options> options;  // set when the program should run
    int exit_code = 0;               // otherwise: exit with this code
    std::string message;             // help text (exit 0) or the error (exit 2)
};

ParseOutcome ParseOptions(int argc, const char* const* argv);

}  // namespace muxsim
