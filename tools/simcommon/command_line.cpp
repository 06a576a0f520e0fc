#include "simcommon/command_line.h"

#include <CLI/CLI.hpp>

namespace simcommon {

void AddServerOptions(CLI::App& app, const std::string& what, ServerOptions& options) {
    app.description(what +
                    "\nReads commands from --script, then standard input; writes one event a line.");
    ListenConfig& listen = options.listen;
    app.add_option("--host", listen.host, "address to listen on")->capture_default_str();
    app.add_option("--port", listen.port, "port to listen on; 0 lets the system pick")
        ->capture_default_str();
    auto* cert = app.add_option("--cert", listen.cert_file, "server certificate (PEM)");
    auto* key = app.add_option("--key", listen.key_file, "server private key (PEM)");
    auto* make = app.add_option("--make-certs", options.make_certs_dir,
                                "make ca.pem, ca.key, server.pem, server.key in DIR and use them");
    app.add_option("--script", options.script, "run the commands of FILE first");
    app.add_flag("--text", options.text, "write events as readable text instead of JSON");
    app.add_flag("--show-secrets", options.show_secrets,
                 "write password fields in events as they are (for test harnesses that must "
                 "check what was sent or stored)");
    cert->needs(key);
    key->needs(cert);
    make->excludes(cert)->excludes(key);
}

OutputFormat FormatOf(const ServerOptions& options) {
    return options.text ? OutputFormat::kText : OutputFormat::kJson;
}

std::optional<EarlyExit> ParseServerCommandLine(CLI::App& app, const ServerOptions& options,
                                                int argc, const char* const* argv,
                                                const Redactor& redact) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return EarlyExit{0, app.help()};
    } catch (const CLI::ParseError& e) {
        return EarlyExit{2, redact ? redact(e.what()) : std::string(e.what())};
    }
    if (options.make_certs_dir.empty() && options.listen.cert_file.empty()) {
        return EarlyExit{2, "give --cert FILE --key FILE, or --make-certs DIR"};
    }
    return std::nullopt;
}

}  // namespace simcommon
