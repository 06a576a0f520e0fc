#include "options.h"

#include <CLI/CLI.hpp>

#include "frame.h"

namespace muxsim {

ParseOutcome ParseOptions(int argc, const char* const* argv) {
    CLI::App app;
    Options options;
    simcommon::AddServerOptions(
        app, "muxsim: a multiplexor emulator speaking framed packets over TLS.", options.server);
    std::vector<std::string> profiles;
    app.add_flag("--foreign", options.foreign,
                 "with --make-certs: sign server.pem with a second CA (foreign-ca.pem), "
                 "so that ca.pem does not verify it");
    app.add_option("--profile", profiles, "PROFILE:PASSWORD accepted at login (repeatable)");
    app.add_option("--max-frame", options.max_frame,
                   "longest frame text accepted from a client, in bytes")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{0}, vantiro::kMaxFrameText));

    if (auto early = simcommon::ParseServerCommandLine(app, options.server, argc, argv)) {
        return ParseOutcome{std::nullopt, std::move(*early)};
    }
    if (options.foreign && options.server.make_certs_dir.empty()) {
        return ParseOutcome::Exit(2, "--foreign needs --make-certs");
    }
    for (const std::string& entry : profiles) {
        const auto colon = entry.find(':');
        if (colon == std::string::npos || colon == 0) {
            return ParseOutcome::Exit(2, "--profile takes PROFILE:PASSWORD, got '" + entry + "'");
        }
        options.profiles.emplace_back(entry.substr(0, colon), entry.substr(colon + 1));
    }
    return ParseOutcome{std::move(options), {}};
}

}  // namespace muxsim
