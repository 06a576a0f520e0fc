#include "command_runner.h"

#include "options.h"

namespace mcsim {

using simcommon::Json;
using simcommon::Unescape;

CommandRunner::CommandRunner(MailboxStore& store, FaultPlan& faults,
                             simcommon::EventWriter& events)
    : store_(store), faults_(faults), events_(events) {}

const char* CommandRunner::HelpText() {
    return "mailbox PROFILE PASSWORD [KEY=VALUE ...] | pref PROFILE KEY VALUE | "
           "refuse get|put|any RESULT [once] | silent get|put|any [once] | "
           "close get|put|any [once] | slow get|put|any MS [once] | normal | mailboxes | help | quit";
}

void CommandRunner::Usage(const simcommon::Command& command, const char* usage) {
    events_.Error(std::string("usage: ") + usage, Json{{"command", command.verb}});
}

bool CommandRunner::RunLine(std::string_view line) {
    std::string error;
    const auto command = simcommon::ParseCommand(line, error);
    if (!command) {
        if (!error.empty()) events_.Error(error);
        return true;
    }
    const std::string& verb = command->verb;
    if (command->client) {
        events_.Error("mcsim commands do not name a client", Json{{"command", verb}});
        return true;
    }
    if (verb == "quit") return false;
    if (verb == "help") {
        events_.Write("help", Json{{"commands", HelpText()}});
    } else if (verb == "mailboxes") {
        ReportMailboxes();
    } else if (verb == "mailbox") {
        RunMailbox(*command);
    } else if (verb == "pref") {
        RunPref(*command);
    } else if (verb == "refuse" || verb == "silent" || verb == "close" || verb == "slow") {
        RunFault(*command);
    } else if (verb == "normal") {
        if (!command->words.empty()) {
            Usage(*command, "normal");
        } else {
            faults_.Clear();
        }
    } else {
        events_.Error("unknown command '" + verb + "'");
    }
    return true;
}

void CommandRunner::RunMailbox(const simcommon::Command& command) {
    const auto& words = command.words;
    if (words.size() < 2) return Usage(command, "mailbox PROFILE PASSWORD [KEY=VALUE ...]");
    std::string ignored;
    const auto profile = Unescape(words[0], ignored);
    const auto password = Unescape(words[1], ignored);
    if (!profile || !password) {
        return events_.Error("bad escape in the profile or password", Json{{"command", "mailbox"}});
    }
    FieldList prefs;
    for (std::size_t i = 2; i < words.size(); ++i) {
        const auto equals = words[i].find('=');
        const auto key = equals == std::string::npos
                             ? std::nullopt
                             : Unescape(std::string_view(words[i]).substr(0, equals), ignored);
        const auto value =
            key ? Unescape(std::string_view(words[i]).substr(equals + 1), ignored) : std::nullopt;
        if (!value) {
            return events_.Error("preference " + std::to_string(i - 1) +
                                     " is not KEY=VALUE with known escapes",
                                 Json{{"command", "mailbox"}});
        }
        if (auto problem = CheckPrefKey(*key)) {
            return events_.Error(*problem, Json{{"command", "mailbox"}});
        }
        prefs.emplace_back(*key, *value);
    }
    store_.Set(*profile, *password, prefs);
}

void CommandRunner::RunPref(const simcommon::Command& command) {
    const auto& words = command.words;
    if (words.size() != 3) return Usage(command, "pref PROFILE KEY VALUE");
    std::string ignored;
    const auto profile = Unescape(words[0], ignored);
    const auto key = Unescape(words[1], ignored);
    const auto value = Unescape(words[2], ignored);
    if (!profile || !key || !value) {
        return events_.Error("bad escape in the profile, key or value", Json{{"command", "pref"}});
    }
    if (auto problem = CheckPrefKey(*key)) {
        return events_.Error(*problem, Json{{"command", "pref"}});
    }
    if (!store_.SetPref(*profile, *key, *value)) {
        events_.Error("no mailbox '" + *profile + "'", Json{{"command", "pref"}});
    }
}

void CommandRunner::RunFault(const simcommon::Command& command) {
    const auto& words = command.words;
    const bool refuse = command.verb == "refuse";
    const bool slow = command.verb == "slow";
    const std::size_t needed = refuse || slow ? 2 : 1;
    const bool once = words.size() == needed + 1 && words.back() == "once";
    const auto target = words.empty() ? std::nullopt : ParseFaultTarget(words[0]);
    if (!target || (words.size() != needed && !once)) {
        return Usage(command, refuse                      ? "refuse get|put|any RESULT [once]"
                              : slow                        ? "slow get|put|any MS [once]"
                              : command.verb == "silent"    ? "silent get|put|any [once]"
                                                            : "close get|put|any [once]");
    }
    Fault fault;
    fault.kind = command.verb == "silent" ? FaultKind::kSilent
                 : refuse                 ? FaultKind::kRefuse
                 : slow                   ? FaultKind::kSlow
                                          : FaultKind::kClose;
    if (slow) {
        const auto ms = simcommon::ParseCount(words[1]);
        if (!ms || *ms < 0 || *ms > 600000) return Usage(command, "slow get|put|any MS [once]");
        fault.delayMs = static_cast<int>(*ms);
    }
    if (refuse) {
        std::string error;
        const auto result = Unescape(words[1], error);
        if (!result || result->empty() || result->find('\0') != std::string::npos) {
            return events_.Error(result ? "the result must not be empty or hold a NUL" : error,
                                 Json{{"command", "refuse"}});
        }
        fault.result = *result;
    }
    faults_.Add(*target, std::move(fault), once);
}

void CommandRunner::ReportMailboxes() {
    Json list = Json::array();
    for (const MailboxSummary& mailbox : store_.List()) {
        list.push_back(Json{{"profile", mailbox.profile}, {"prefs", mailbox.keys}});
    }
    events_.Write("mailboxes", Json{{"mailboxes", list}});
}

}  // namespace mcsim
