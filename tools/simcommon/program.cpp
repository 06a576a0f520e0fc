#include "simcommon/program.h"

#include <csignal>
#include <exception>
#include <fstream>
#include <iostream>

#include "packet.h"
#include "simcommon/cert_maker.h"

namespace simcommon {

namespace {

int Exit(EventWriter& events, int code) {
    events.Write("exit", Json{{"code", code}});
    return code;
}

// With --make-certs: makes the certificates, points `options` at them and writes the
// "certificates" event. Throws std::runtime_error when a step fails.
void PrepareCertificates(ServerOptions& options, const EmulatorSetup& setup,
                         EventWriter& events) {
    if (options.make_certs_dir.empty()) return;
    const auto files = MakeCertificates(options.make_certs_dir, setup.owner, setup.foreign);
    options.listen.cert_file = files.server_cert.string();
    options.listen.key_file = files.server_key.string();
    events.Write("certificates", Json{{"ca", files.ca.string()},
                                      {"server", files.server_cert.string()},
                                      {"signer", files.signer.string()}});
}

// Runs each line of `script` (when open), then of `in`, until one ends the program.
void RunCommandInput(std::ifstream& script, std::istream& in, Emulator& emulator) {
    std::string line;
    if (script.is_open()) {
        while (std::getline(script, line)) {
            if (!emulator.RunLine(line)) return;
        }
    }
    while (std::getline(in, line)) {
        if (!emulator.RunLine(line)) return;
    }
}

}  // namespace

int ExitEarly(const EarlyExit& early) {
    if (early.exit_code == 0) {
        std::cout << early.message;
        return 0;
    }
    EventWriter events(std::cout, OutputFormat::kJson);
    events.Error("bad command line: " + early.message);
    return Exit(events, early.exit_code);
}

int RunEmulator(ServerOptions options, const EmulatorSetup& setup) {
    // Writes to a client that has gone must fail with EPIPE, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    EventWriter events(std::cout, FormatOf(options), options.show_secrets);
    PH_init();

    std::ifstream script;
    if (!options.script.empty()) {
        script.open(options.script);
        if (!script) {
            events.Error("cannot read script " + options.script);
            return Exit(events, 2);
        }
    }
    std::unique_ptr<Emulator> emulator;
    try {
        PrepareCertificates(options, setup, events);
        emulator = setup.make(options.listen, events);
        emulator->server().Start();
    } catch (const std::exception& e) {
        events.Error(e.what());
        return Exit(events, 1);
    }
    ListeningServer& server = emulator->server();
    events.Write("listening", Json{{"host", server.host()}, {"port", server.port()}});

    RunCommandInput(script, std::cin, *emulator);
    server.Stop();
    return Exit(events, 0);
}

}  // namespace simcommon
