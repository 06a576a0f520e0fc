// Carries out operator commands (from a script file or standard input) against the
// server, its clients and the answering behaviour.
#pragma once

#include <string_view>

#include "behaviour.h"
#include "event_writer.h"
#include "frame_log.h"
#include "tls_server.h"

namespace muxsim {

class CommandRunner {
public:
    CommandRunner(TlsServer& server, Behaviour& behaviour, FrameLog& frames, EventWriter& events);

    // Runs one command line. False when it was "quit"; every other line, faulty
    // ones included (they give an "error" event), returns true.
    bool RunLine(std::string_view line);

    // The command summary printed by "help" and documented in docs/muxsim.md.
    static const char* HelpText();

private:
    bool RunGlobal(const Command& command);
    void RunOnClient(const Command& command);

    TlsServer& server_;
    Behaviour& behaviour_;
    FrameLog& frames_;
    EventWriter& events_;
    long long notice_serial_ = 0;
};

}  // namespace muxsim
