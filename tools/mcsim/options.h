// The command line of mcsim.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mailbox_store.h"
#include "simcommon/command_line.h"

namespace mcsim {

struct MailboxSpec {
    std::string profile;
    std::string password;
    FieldList prefs;
};

struct Options {
    simcommon::ServerOptions server;  // listening, certificates, script, event format
    std::vector<MailboxSpec> mailboxes;
};

using ParseOutcome = simcommon::ParseOutcome<Options>;

// The early exit's message never holds a --mailbox password.
ParseOutcome ParseOptions(int argc, const char* const* argv);

// A --mailbox value: PROFILE:PASSWORD[:KEY=VALUE,KEY=VALUE...], split at the first two
// colons and then at commas, each part unescaped as in commands. nullopt with `error`
// set (never quoting the value) when it is not one.
std::optional<MailboxSpec> ParseMailboxSpec(std::string_view text, std::string& error);

// Checks a preference key given by the operator: not empty, no ':' or line feed (it
// travels as the field name "pref.KEY"), no leading tab. The error, or nullopt.
std::optional<std::string> CheckPrefKey(const std::string& key);

}  // namespace mcsim
