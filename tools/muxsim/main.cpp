// muxsim: the multiplexor emulator. A TLS server that answers the plug-in's framed
// packets as configured, sends notices and applies faults on command, and reports
// everything as one event line each on standard output.
#include <csignal>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "behaviour.h"
#include "command_runner.h"
#include "event_writer.h"
#include "frame_log.h"
#include "options.h"
#include "packet.h"
#include "simcommon/program.h"
#include "tls_server.h"

namespace {

int Exit(muxsim::EventWriter& events, int code) {
    events.Write("exit", muxsim::Json{{"code", code}});
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    // Writes to a client that has gone must fail with EPIPE, not end the program.
    std::signal(SIGPIPE, SIG_IGN);

    const muxsim::ParseOutcome parsed = muxsim::ParseOptions(argc, argv);
    if (!parsed.options) {
        if (parsed.exit_code == 0) {
            std::cout << parsed.message;
            return 0;
        }
        muxsim::EventWriter events(std::cout, muxsim::OutputFormat::kJson);
        events.Error("bad command line: " + parsed.message);
        return Exit(events, parsed.exit_code);
    }
    muxsim::Options options = *parsed.options;
    muxsim::EventWriter events(std::cout, simcommon::FormatOf(options.server));
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
        simcommon::PrepareCertificates(options.server, "muxsim", options.foreign, events);
    } catch (const std::exception& e) {
        events.Error(e.what());
        return Exit(events, 1);
    }
    muxsim::ServerConfig config;
    config.host = options.server.host;
    config.port = options.server.port;
    config.cert_file = options.server.cert_file;
    config.key_file = options.server.key_file;
    config.max_frame = options.max_frame;

    muxsim::Behaviour behaviour;
    for (const auto& [profile, password] : options.profiles) behaviour.SetProfile(profile, password);
    muxsim::FrameLog frames;
    muxsim::TlsServer server(config, muxsim::SessionContext{events, behaviour, frames,
                                                            options.max_frame});
    try {
        server.Start();
    } catch (const std::exception& e) {
        events.Error(e.what());
        return Exit(events, 1);
    }
    events.Write("listening", muxsim::Json{{"host", server.host()}, {"port", server.port()}});

    muxsim::CommandRunner runner(server, behaviour, frames, events);
    simcommon::RunCommandInput(script.is_open() ? &script : nullptr, std::cin,
                               [&runner](std::string_view line) { return runner.RunLine(line); });

    server.Stop();
    return Exit(events, 0);
}
