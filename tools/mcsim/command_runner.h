// Carries out mcsim's operator commands (from a script file or standard input):
// mailboxes and their preferences, faults, the mailbox listing. Error events never
// quote the line, as it may hold a password.
#pragma once

#include <string_view>

#include "fault_plan.h"
#include "mailbox_store.h"
#include "simcommon/command_parser.h"
#include "simcommon/event_writer.h"

namespace mcsim {

class CommandRunner {
public:
    CommandRunner(MailboxStore& store, FaultPlan& faults, simcommon::EventWriter& events);

    // Runs one command line. False when it was "quit"; every other line, faulty
    // ones included (they give an "error" event), returns true.
    bool RunLine(std::string_view line);

    // The command summary of the "help" event.
    static const char* HelpText();

private:
    void RunMailbox(const simcommon::Command& command);
    void RunPref(const simcommon::Command& command);
    void RunFault(const simcommon::Command& command);
    void ReportMailboxes();
    void Usage(const simcommon::Command& command, const char* usage);

    MailboxStore& store_;
    FaultPlan& faults_;
    simcommon::EventWriter& events_;
};

}  // namespace mcsim
