#include "options.h"

#include <CLI/CLI.hpp>

#include "frame.h"

namespace muxsim {

ParseOutcome ParseOptions(int argc, const char* const* argv) {
    CLI::App app{"muxsim: a multiplexor emulator speaking framed packets over TLS.\n"
                 "Reads commands from --script, then standard input; writes one event a line."};
    Options options;
    std::vector<std::string> profiles;
    app.add_option("--host", options.host, "address to listen on")->capture_default_str();
    app.add_option("--port", options.port, "port to listen on; 0 lets the system pick")
        ->capture_default_str();
    auto* cert = app.add_option("--cert", options.cert_file, "server certificate (PEM)");
    auto* key = app.add_option("--key", options.key_file, "server private key (PEM)");
    auto* make = app.add_option("--make-certs", options.make_certs_dir,
                                "make ca.pem, ca.key, server.pem, server.key in DIR and use them");
    app.add_flag("--foreign", options.foreign,
                 "with --make-certs: sign server.pem with a second CA (foreign-ca.pem), "
                 "so that ca.pem does not verify it");
    app.add_option("--profile", profiles, "PROFILE:PASSWORD accepted at login (repeatable)");
    app.add_option("--script", options.script, "run the commands of FILE first");
    app.add_flag("--text", options.text, "write events as readable text instead of JSON");
    app.add_option("--max-frame", options.max_frame,
                   "longest frame text accepted from a client, in bytes")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{0}, vantiro::kMaxFrameText));
    cert->needs(key);
    key->needs(cert);
    make->excludes(cert)->excludes(key);

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
    if (options.make_certs_dir.empty() && options.cert_file.empty()) {
        outcome.exit_code = 2;
        outcome.message = "give --cert FILE --key FILE, or --make-certs DIR";
        return outcome;
    }
    if (options.foreign && options.make_certs_dir.empty()) {
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
