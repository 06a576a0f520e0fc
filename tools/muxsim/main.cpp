// muxsim: the multiplexor emulator. A TLS server that answers the plug-in's framed
// packets as configured, sends notices and applies faults on command, and reports
// everything as one event line each on standard output.
#include <memory>

#include "behaviour.h"
#include "command_runner.h"
#include "frame_log.h"
#include "options.h"
#include "simcommon/program.h"
#include "tls_server.h"

namespace {

// The answering rules, the frame journal, the server and the command runner that
// drives them.
class Muxsim final : public simcommon::Emulator {
public:
    Muxsim(const muxsim::Options& options, const simcommon::ListenConfig& listen,
           muxsim::EventWriter& events)
        : server_(listen, muxsim::SessionContext{events, behaviour_, frames_, options.max_frame}),
          runner_(server_, behaviour_, frames_, events) {
        for (const auto& [profile, password] : options.profiles) {
            behaviour_.SetProfile(profile, password);
        }
    }

    simcommon::ListeningServer& server() override { return server_; }
    bool RunLine(std::string_view line) override { return runner_.RunLine(line); }

private:
    muxsim::Behaviour behaviour_;
    muxsim::FrameLog frames_;
    muxsim::TlsServer server_;
    muxsim::CommandRunner runner_;
};

}  // namespace

int main(int argc, char** argv) {
    const muxsim::ParseOutcome parsed = muxsim::ParseOptions(argc, argv);
    if (!parsed.options) return simcommon::ExitEarly(parsed.early);
    const muxsim::Options& options = *parsed.options;
    return simcommon::RunEmulator(
        options.server,
        {"muxsim", options.foreign,
         [&options](const simcommon::ListenConfig& listen, muxsim::EventWriter& events) {
             return std::make_unique<Muxsim>(options, listen, events);
         }});
}
