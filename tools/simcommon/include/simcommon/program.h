// The steps every emulator's main() takes: the shared command-line options (where to
// listen, which certificates, where commands come from, which event format), making
// throw-away certificates, and reading command lines from a script and then
// standard input.
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

#include "simcommon/event_writer.h"

namespace simcommon {

struct ServerOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    std::string cert_file;
    std::string key_file;
    std::string make_certs_dir;
    std::string script;
    bool text = false;
};

// Adds --host, --port, --cert, --key, --make-certs, --script and --text to `app`.
// Returns the --make-certs option, for options that need it.
CLI::Option* AddServerOptions(CLI::App& app, ServerOptions& options);

// What CLI11 cannot check: that certificates are given one way or the other. The
// error text, or nullopt.
std::optional<std::string> CheckServerOptions(const ServerOptions& options);

OutputFormat FormatOf(const ServerOptions& options);

// With --make-certs: makes the certificates (named for `owner`), points the options'
// certificate and key at them and writes the "certificates" event (ca, server,
// signer). Does nothing otherwise. Throws std::runtime_error when a step fails.
void PrepareCertificates(ServerOptions& options, const std::string& owner, bool foreign,
                         EventWriter& events);

// Runs `run` on each line of `script` (when given), then of `in`, until `run`
// returns false or the input ends.
void RunCommandInput(std::istream* script, std::istream& in,
                     const std::function<bool(std::string_view)>& run);

}  // namespace simcommon
