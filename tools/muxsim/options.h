// The command line of muxsim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace muxsim {

struct Options {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    std::string cert_file;
    std::string key_file;
    std::string make_certs_dir;
    bool foreign = false;
    std::vector<std::pair<std::string, std::string>> profiles;
    std::string script;
    bool text = false;
    std::size_t max_frame = 1'000'000;
};

struct ParseOutcome {
    std::optional<Options> options;  // set when the program should run
    int exit_code = 0;               // otherwise: exit with this code
    std::string message;             // help text (exit 0) or the error (exit 2)
};

ParseOutcome ParseOptions(int argc, const char* const* argv);

}  // namespace muxsim
