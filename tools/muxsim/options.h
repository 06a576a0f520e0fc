// The command line of muxsim.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "simcommon/command_line.h"

namespace muxsim {

struct Options {
    simcommon::ServerOptions server;  // listening, certificates, script, event format
    bool foreign = false;
    std::vector<std::pair<std::string, std::string>> profiles;
    std::size_t max_frame = 1'000'000;
};

using ParseOutcome = simcommon::ParseOutcome<Options>;

ParseOutcome ParseOptions(int argc, const char* const* argv);

}  // namespace muxsim
