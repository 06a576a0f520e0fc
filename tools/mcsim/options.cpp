#include "options.h"

#include <CLI/CLI.hpp>

namespace mcsim {

namespace {

// The password parts of the --mailbox values in `argv`, to keep them out of any
// error text that quotes the command line.
std::vector<std::string> PasswordsIn(int argc, const char* const* argv) {
    std::vector<std::string> passwords;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--mailbox" && i + 1 < argc) {
            arg = argv[++i];
        } else if (arg.substr(0, 10) == "--mailbox=") {
            arg.remove_prefix(10);
        } else {
            continue;
        }
        const auto first = arg.find(':');
        if (first == std::string_view::npos) continue;
        const auto rest = arg.substr(first + 1);
        const std::string password(rest.substr(0, rest.find(':')));
        if (!password.empty()) passwords.push_back(password);
    }
    return passwords;
}

std::string WithoutPasswords(std::string text, const std::vector<std::string>& passwords) {
    for (const std::string& password : passwords) {
        for (auto at = text.find(password); at != std::string::npos;
             at = text.find(password, at + 1)) {
            text.replace(at, password.size(), "*");
        }
    }
    return text;
}

}  // namespace

std::optional<std::string> CheckPrefKey(const std::string& key) {
    if (key.empty() || key.find_first_of(":\n") != std::string::npos || key.front() == '\t') {
        return "a preference key must not be empty, hold ':' or a line feed, or start with a tab";
    }
    return std::nullopt;
}

std::optional<MailboxSpec> ParseMailboxSpec(std::string_view text, std::string& error) {
    const auto first = text.find(':');
    if (first == std::string_view::npos || first == 0) {
        error = "--mailbox takes PROFILE:PASSWORD[:KEY=VALUE,...]";
        return std::nullopt;
    }
    const auto second = text.find(':', first + 1);
    std::string ignored;
    MailboxSpec mailbox;
    const auto profile = simcommon::Unescape(text.substr(0, first), ignored);
    const auto password =
        simcommon::Unescape(text.substr(first + 1, second == std::string_view::npos
                                                        ? std::string_view::npos
                                                        : second - first - 1),
                            ignored);
    if (!profile || !password) {
        error = "--mailbox: bad escape in the profile or password";
        return std::nullopt;
    }
    mailbox.profile = *profile;
    mailbox.password = *password;
    if (second == std::string_view::npos) return mailbox;

    std::string_view prefs = text.substr(second + 1);
    while (!prefs.empty()) {
        const auto comma = prefs.find(',');
        const std::string_view item = prefs.substr(0, comma);
        prefs = comma == std::string_view::npos ? std::string_view() : prefs.substr(comma + 1);
        const auto equals = item.find('=');
        const auto key = equals == std::string_view::npos
                             ? std::nullopt
                             : simcommon::Unescape(item.substr(0, equals), ignored);
        const auto value = key ? simcommon::Unescape(item.substr(equals + 1), ignored)
                               : std::nullopt;
        if (!value) {
            error = "--mailbox for profile '" + mailbox.profile +
                    "': preferences are KEY=VALUE separated by commas";
            return std::nullopt;
        }
        if (auto problem = CheckPrefKey(*key)) {
            error = "--mailbox for profile '" + mailbox.profile + "': " + *problem;
            return std::nullopt;
        }
        mailbox.prefs.emplace_back(*key, *value);
    }
    return mailbox;
}

ParseOutcome ParseOptions(int argc, const char* const* argv) {
    CLI::App app;
    Options options;
    simcommon::AddServerOptions(
        app, "mcsim: a mailbox-server emulator answering preference requests over TLS.",
        options.server);
    std::vector<std::string> mailboxes;
    app.add_option("--mailbox", mailboxes,
                   "PROFILE:PASSWORD[:KEY=VALUE,...] a mailbox with its preferences (repeatable)");

    const auto redact = [&](std::string text) {
        return WithoutPasswords(std::move(text), PasswordsIn(argc, argv));
    };
    if (auto early = simcommon::ParseServerCommandLine(app, options.server, argc, argv, redact)) {
        return ParseOutcome{std::nullopt, std::move(*early)};
    }
    for (const std::string& entry : mailboxes) {
        std::string error;
        auto mailbox = ParseMailboxSpec(entry, error);
        if (!mailbox) return ParseOutcome::Exit(2, redact(error));
        options.mailboxes.push_back(std::move(*mailbox));
    }
    return ParseOutcome{std::move(options), {}};
}

}  // namespace mcsim
