#include "options.h"

#include <CLI/CLI.hpp>

#include "frame.h"

namespace muxsim {

ParseOutcome ParseOptions(int argc, const char* const* argv) {
    CLI::App app{"muxsim: a multiplexor emulator speaking framed packets over TLS.\n"
                 "Reads commands from --script, then standard input; writes one event a line."};
    Options options;
    std::vector<std::string> profiles;
    simcommon::AddServerOptions(app, options.server);
    app.add_flag("--foreign", options.foreign,
                 "with --make-certs: sign server.pem with a second CA (foreign-ca.pem), "
                 "so that ca.pem does not verify it");
    app.add_option("--profile", profiles, "PROFILE:PASSWORD accepted at login (repeatable)");
    app.add_option("--max-frame", options.max_frame,
                   "longest frame text accepted from a client, in bytes")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{0}, vantiro::kMaxFrameText));

    ParseOutcome outcome;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        outcome.message = app.help();
        return outcome;
    } catch (const CLI::ParseError& e) {
        outcome.exit_code = 2;
        outcome.message = e.what();
        return outcome;
    }
    if (auto problem = simcommon::CheckServerOptions(options.server)) {
        outcome.exit_code = 2;
        outcome.message = std::move(*problem);
        return outcome;
    }
    if (options.foreign && options.server.make_certs_dir.empty()) {
        outcome.exit_code = 2;
        outcome.message = "--foreign needs --make-certs";
        return outcome;
    }
    for (const std::string& entry : profiles) {
        const auto colon = entry.find(':');
        if (colon == std::string::npos || colon == 0) {
            outcome.exit_code = 2;
            outcome.message = "--profile takes PROFILE:PASSWORD, got '" + entry + "'";
            return outcome;
        }
        options.profiles.emplace_back(entry.substr(0, colon), entry.substr(colon + 1));
    }
    outcome.options = std::move(options);
    return outcome;
}

}  // namespace muxsim
