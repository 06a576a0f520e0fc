// The mailboxes mcsim holds: per profile a password and preferences (KEY=VALUE, in
// the order their keys were first set). Used by the command thread and every
// connection thread, so each call takes the store's lock.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "simcommon/command_parser.h"

namespace mcsim {

using simcommon::FieldList;

// How a profile and password compare with the store.
enum class Access { kOk, kUnknownMailbox, kPasswordInvalid };

// The result text answered for an access that is not kOk ("unknown_mailbox",
// "password_invalid"); "ok" for kOk.
const char* ResultText(Access access);

// The preference key that holds a mailbox's password: setting it changes the
// password, and it is never kept or reported as a preference.
inline constexpr const char* kPasswordKey = "password";

struct MailboxSummary {
    std::string profile;
    std::vector<std::string> keys;  // preference keys, in order
};

class MailboxStore {
public:
    // Adds the mailbox, or replaces one with the same profile (its preferences too).
    void Set(const std::string& profile, const std::string& password, const FieldList& prefs);
    // Sets one preference of an existing mailbox. False when there is no such mailbox.
    bool SetPref(const std::string& profile, const std::string& key, const std::string& value);

    // On kOk, `prefs` gets the mailbox's preferences as stored.
    Access Get(const std::string& profile, const std::string& password, FieldList& prefs) const;
    // On kOk, stores every preference of `prefs` (a "password" one changes the
    // password); otherwise changes nothing.
    Access Put(const std::string& profile, const std::string& password, const FieldList& prefs);

    // Every mailbox's profile and preference keys, in the order the mailboxes were added.
    std::vector<MailboxSummary> List() const;

private:
    struct Mailbox {
        std::string profile;
        std::string password;
        FieldList prefs;
    };

    Mailbox* FindLocked(const std::string& profile);
    const Mailbox* FindLocked(const std::string& profile) const;
    static void SetPrefLocked(Mailbox& mailbox, const std::string& key, const std::string& value);

    mutable std::mutex mutex_;
    std::vector<Mailbox> mailboxes_;  // under mutex_
};

}  // namespace mcsim
