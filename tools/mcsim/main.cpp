// mcsim: the mailbox-server emulator. A TLS server that holds mailboxes (a password
// and preferences each), answers one get_preferences or put_preferences request per
// connection, applies faults on command, and reports everything as one event line
// each on standard output, never with a password in it.
#include <memory>

#include "command_runner.h"
#include "options.h"
#include "server.h"
#include "simcommon/program.h"

namespace {

// The mailboxes, the faults, the server and the command runner that drives them.
class Mcsim final : public simcommon::Emulator {
public:
    Mcsim(const mcsim::Options& options, const simcommon::ListenConfig& listen,
          simcommon::EventWriter& events)
        : server_(listen, events, store_, faults_), runner_(store_, faults_, events) {
        for (const auto& mailbox : options.mailboxes) {
            store_.Set(mailbox.profile, mailbox.password, mailbox.prefs);
        }
    }

    simcommon::ListeningServer& server() override { return server_; }
    bool RunLine(std::string_view line) override { return runner_.RunLine(line); }

private:
    mcsim::MailboxStore store_;
    mcsim::FaultPlan faults_;
    mcsim::Server server_;
    mcsim::CommandRunner runner_;
};

}  // namespace

int main(int argc, char** argv) {
    const mcsim::ParseOutcome parsed = mcsim::ParseOptions(argc, argv);
    if (!parsed.options) return simcommon::ExitEarly(parsed.early);
    const mcsim::Options& options = *parsed.options;
    return simcommon::RunEmulator(
        options.server,
        {"mcsim", false,
         [&options](const simcommon::ListenConfig& listen, simcommon::EventWriter& events) {
             return std::make_unique<Mcsim>(options, listen, events);
         }});
}
