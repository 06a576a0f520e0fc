#include "mailbox_store.h"

#include <algorithm>

namespace mcsim {

const char* ResultText(Access access) {
    switch (access) {
        case Access::kOk: return "ok";
        case Access::kUnknownMailbox: return "unknown_mailbox";
        case Access::kPasswordInvalid: return "password_invalid";
    }
    return "failure";
}

MailboxStore::Mailbox* MailboxStore::FindLocked(const std::string& profile) {
    auto it = std::find_if(mailboxes_.begin(), mailboxes_.end(),
                           [&](const Mailbox& m) { return m.profile == profile; });
    return it == mailboxes_.end() ? nullptr : &*it;
}

const MailboxStore::Mailbox* MailboxStore::FindLocked(const std::string& profile) const {
    return const_cast<MailboxStore*>(this)->FindLocked(profile);
}

void MailboxStore::SetPrefLocked(Mailbox& mailbox, const std::string& key,
                                 const std::string& value) {
    if (key == kPasswordKey) {
        mailbox.password = value;
        return;
    }
    auto it = std::find_if(mailbox.prefs.begin(), mailbox.prefs.end(),
                           [&](const auto& pref) { return pref.first == key; });
    if (it != mailbox.prefs.end()) {
        it->second = value;
    } else {
        mailbox.prefs.emplace_back(key, value);
    }
}

void MailboxStore::Set(const std::string& profile, const std::string& password,
                       const FieldList& prefs) {
    std::lock_guard lock(mutex_);
    Mailbox* mailbox = FindLocked(profile);
    if (!mailbox) mailbox = &mailboxes_.emplace_back(Mailbox{profile, {}, {}});
    mailbox->password = password;
    mailbox->prefs.clear();
    for (const auto& [key, value] : prefs) SetPrefLocked(*mailbox, key, value);
}

bool MailboxStore::SetPref(const std::string& profile, const std::string& key,
                           const std::string& value) {
    std::lock_guard lock(mutex_);
    Mailbox* mailbox = FindLocked(profile);
    if (!mailbox) return false;
    SetPrefLocked(*mailbox, key, value);
    return true;
}

Access MailboxStore::Get(const std::string& profile, const std::string& password,
                         FieldList& prefs) const {
    std::lock_guard lock(mutex_);
    const Mailbox* mailbox = FindLocked(profile);
    if (!mailbox) return Access::kUnknownMailbox;
    if (mailbox->password != password) return Access::kPasswordInvalid;
    prefs = mailbox->prefs;
    return Access::kOk;
}

Access MailboxStore::Put(const std::string& profile, const std::string& password,
                         const FieldList& prefs) {
    std::lock_guard lock(mutex_);
    Mailbox* mailbox = FindLocked(profile);
    if (!mailbox) return Access::kUnknownMailbox;
    if (mailbox->password != password) return Access::kPasswordInvalid;
    for (const auto& [key, value] : prefs) SetPrefLocked(*mailbox, key, value);
    return Access::kOk;
}

std::vector<MailboxSummary> MailboxStore::List() const {
    std::lock_guard lock(mutex_);
    std::vector<MailboxSummary> list;
    for (const Mailbox& mailbox : mailboxes_) {
        MailboxSummary summary{mailbox.profile, {}};
        for (const auto& pref : mailbox.prefs) summary.keys.push_back(pref.first);
        list.push_back(std::move(summary));
    }
    return list;
}

}  // namespace mcsim
