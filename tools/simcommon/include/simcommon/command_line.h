// The command-line options every emulator has (where to listen, which certificates,
// where commands come from, which event format), wired into CLI11, and the parse
// that turns a command line into options or into an early exit.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "simcommon/event_writer.h"
#include "simcommon/tls_listener.h"

// CLI11 is heavy to compile; only the files that build a command line include it.
namespace CLI {
class App;
}  // namespace CLI

namespace simcommon {

struct ServerOptions {
    ListenConfig listen;  // --host, --port, --cert, --key
    std::string make_certs_dir;
    std::string script;
    bool text = false;
    bool show_secrets = false;  // password fields in events as they are
};

// Describes the program in `app` as `what` followed by how every emulator is driven,
// and adds --host, --port, --cert, --key, --make-certs, --script, --text and
// --show-secrets.
void AddServerOptions(CLI::App& app, const std::string& what, ServerOptions& options);

OutputFormat FormatOf(const ServerOptions& options);

// How a command line ends the program before it runs.
struct EarlyExit {
    int exit_code = 0;    // 0: help was asked for; 2: a bad command line
    std::string message;  // the help text, or what is wrong
};

// A program's parsed command line: its options, or how it exits at once.
template <typename Options>
struct ParseOutcome {
    std::optional<Options> options;  // set when the program should run
    EarlyExit early;                 // otherwise

    static ParseOutcome Exit(int code, std::string message) {
        ParseOutcome outcome;
        outcome.early = EarlyExit{code, std::move(message)};
        return outcome;
    }
};

// Error texts pass through it before they are reported (to hide secrets they quote).
using Redactor = std::function<std::string(std::string)>;

// Parses `argv` with `app`, on which AddServerOptions was called for `options`, and
// checks what CLI11 cannot: that certificates are given one way or the other.
// nullopt when the program may go on with its own checks; else help (code 0, the
// help text) or a bad command line (code 2, CLI11's error passed through `redact`).
std::optional<EarlyExit> ParseServerCommandLine(CLI::App& app, const ServerOptions& options,
                                                int argc, const char* const* argv,
                                                const Redactor& redact = {});

}  // namespace simcommon
