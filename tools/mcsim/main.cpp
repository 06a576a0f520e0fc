// mcsim: the mailbox-server emulator. A TLS server that holds mailboxes (a password
// and preferences each), answers one get_preferences or put_preferences request per
// connection, applies faults on command, and reports everything as one event line
// each on standard output, never with a password in it.
#include <csignal>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "command_runner.h"
#include "options.h"
#include "packet.h"
#include "server.h"
#include "simcommon/program.h"

namespace {

int Exit(simcommon::EventWriter& events, int code) {
    events.Write("exit", simcommon::Json{{"code", code}});
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // Writes to a client that has gone must fail with EPIPE, not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    const mcsim::ParseOutcome parsed = mcsim::ParseOptions(argc, argv);
    if (!parsed.options) {
        if (parsed.exit_code == 0) {
            std::cout << parsed.message;
            return 0;
        }
        simcommon::EventWriter events(std::cout, simcommon::OutputFormat::kJson);
        events.Error("bad command line: " + parsed.message);
        return Exit(events, parsed.exit_code);
    }
    mcsim::Options options = *parsed.options;
    simcommon::EventWriter events(std::cout, simcommon::FormatOf(options.server));
    PH_init();

    std::ifstream script;
    if (!options.server.script.empty()) {
        script.open(options.server.script);
        if (!script) {
            events.Error("cannot read script " + options.server.script);
            return Exit(events, 2);
        }
    }
    try {
        simcommon::PrepareCertificates(options.server, "mcsim", false, events);
    } catch (const std::exception& e) {
        events.Error(e.what());
        return Exit(events, 1);
    }

    mcsim::MailboxStore store;
    for (const auto& mailbox : options.mailboxes) {
        store.Set(mailbox.profile, mailbox.password, mailbox.prefs);
    }
    mcsim::FaultPlan faults;
    mcsim::Server server(simcommon::ListenConfig{options.server.host, options.server.port,
                                                 options.server.cert_file,
                                                 options.server.key_file},
                         events, store, faults);
    try {
        server.Start();
    } catch (const std::exception& e) {
        events.Error(e.what());
        return Exit(events, 1);
    }
    events.Write("listening", simcommon::Json{{"host", server.host()}, {"port", server.port()}});

    mcsim::CommandRunner runner(store, faults, events);
    simcommon::RunCommandInput(script.is_open() ? &script : nullptr, std::cin,
                               [&runner](std::string_view line) { return runner.RunLine(line); });
    server.Stop();
    return Exit(events, 0);
}
