// The run every emulator's main() makes once its command line is read: ignore
// SIGPIPE, open the event writer and the script, make throw-away certificates when
// asked, listen, report "listening", run command lines from the script and then
// standard input, stop, and end with the "exit" event.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "simcommon/command_line.h"
#include "simcommon/event_writer.h"
#include "simcommon/tls_listener.h"

namespace simcommon {

// An emulator as its run sees it: a server that listens and serves clients, and
// the reader of the operator's command lines. Made once the certificates are ready.
class Emulator {
public:
    virtual ~Emulator() = default;

    virtual ListeningServer& server() = 0;
    // Runs one command line; false when it ends the program.
    virtual bool RunLine(std::string_view line) = 0;
};

struct EmulatorSetup {
    std::string owner;     // the program's name, for the certificates it makes
    bool foreign = false;  // sign the made server certificate with a second CA
    // Makes the emulator; `listen` names the certificate and key to serve.
    std::function<std::unique_ptr<Emulator>(const ListenConfig& listen, EventWriter& events)> make;
};

// For a command line that ends the program at once: prints the help text (status 0),
// or writes the "error" event ("bad command line: ...") and "exit" (status 2).
// Returns the exit status.
int ExitEarly(const EarlyExit& early);

// The whole run; returns the exit status: 2 for a script that cannot be read, 1 when
// the certificates cannot be made or the server cannot listen, else 0.
int RunEmulator(ServerOptions options, const EmulatorSetup& setup);

}  // namespace simcommon
