#include "simcommon/program.h"

#include "simcommon/cert_maker.h"

namespace simcommon {

CLI::Option* AddServerOptions(CLI::App& app, ServerOptions& options) {
    app.add_option("--host", options.host, "address to listen on")->capture_default_str();
    app.add_option("--port", options.port, "port to listen on; 0 lets the system pick")
        ->capture_default_str();
    auto* cert = app.add_option("--cert", options.cert_file, "server certificate (PEM)");
    auto* key = app.add_option("--key", options.key_file, "server private key (PEM)");
    auto* make = app.add_option("--make-certs", options.make_certs_dir,
                                "make ca.pem, ca.key, server.pem, server.key in DIR and use them");
    app.add_option("--script", options.script, "run the commands of FILE first");
    app.add_flag("--text", options.text, "write events as readable text instead of JSON");
    cert->needs(key);
    key->needs(cert);
    make->excludes(cert)->excludes(key);
    return make;
}

std::optional<std::string> CheckServerOptions(const ServerOptions& options) {
    if (options.make_certs_dir.empty() && options.cert_file.empty()) {
        return "give --cert FILE --key FILE, or --make-certs DIR";
    }
    return std::nullopt;
}

OutputFormat FormatOf(const ServerOptions& options) {
    return options.text ? OutputFormat::kText : OutputFormat::kJson;
}

void PrepareCertificates(ServerOptions& options, const std::string& owner, bool foreign,
                         EventWriter& events) {
    if (options.make_certs_dir.empty()) return;
    const auto files = MakeCertificates(options.make_certs_dir, owner, foreign);
    options.cert_file = files.server_cert.string();
    options.key_file = files.server_key.string();
    events.Write("certificates", Json{{"ca", files.ca.string()},
                                      {"server", files.server_cert.string()},
                                      {"signer", files.signer.string()}});
}

void RunCommandInput(std::istream* script, std::istream& in,
                     const std::function<bool(std::string_view)>& run) {
    std::string line;
    if (script) {
        while (std::getline(*script, line)) {
            if (!run(line)) return;
        }
    }
    while (std::getline(in, line)) {
        if (!run(line)) return;
    }
}

}  // namespace simcommon
