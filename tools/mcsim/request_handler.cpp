#include "request_handler.h"

#include "expiry_date.h"
#include "request_names.h"

namespace mcsim {

namespace {

// The field name of preference `key`.
std::string PrefField(const std::string& key) {
    std::string name = kPrefPrefix;
    name.append(key);
    return name;
}

Reply Answer(const std::string& result) {
    Reply reply;
    reply.fields.emplace_back(kResultField, result);
    return reply;
}

// The "pref.KEY" fields of a put as KEY=VALUE; nullopt when one has no key.
std::optional<FieldList> PrefsOf(const FieldList& fields) {
    const std::string prefix = kPrefPrefix;
    FieldList prefs;
    for (const auto& [name, value] : fields) {
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        if (name.size() == prefix.size()) return std::nullopt;
        prefs.emplace_back(name.substr(prefix.size()), value);
    }
    return prefs;
}

}  // namespace

// The protocol's own answer to a request, without faults.
static Reply ServeRequest(const FieldList& fields, MailboxStore& store, std::time_t now);

Reply ReplyTo(const FieldList& fields, MailboxStore& store, FaultPlan& faults, std::time_t now) {
    const auto command = FieldValue(fields, kCommandField);
    std::optional<Fault> fault = faults.Take(command.value_or(""));
    if (fault && fault->kind == FaultKind::kSlow) {
        Reply reply = ServeRequest(fields, store, now);
        reply.fault = FaultKind::kSlow;
        reply.delayMs = fault->delayMs;
        return reply;
    }
    if (fault) {
        Reply reply = fault->kind == FaultKind::kRefuse ? Answer(fault->result) : Reply{};
        if (fault->kind == FaultKind::kSilent) reply.action = Reply::Action::kSilent;
        if (fault->kind == FaultKind::kClose) reply.action = Reply::Action::kClose;
        reply.fault = fault->kind;
        return reply;
    }
    return ServeRequest(fields, store, now);
}

static Reply ServeRequest(const FieldList& fields, MailboxStore& store, std::time_t now) {
    const auto command = FieldValue(fields, kCommandField);
    const bool get = command == kGetPreferences;
    const bool put = command == kPutPreferences;
    const auto profile = FieldValue(fields, kProfileField);
    const auto password = FieldValue(fields, kPasswordField);
    if ((!get && !put) || !profile || !password) return Answer(kResultFailure);

    if (get) {
        FieldList prefs;
        const Access access = store.Get(*profile, *password, prefs);
        Reply reply = Answer(ResultText(access));
        for (const auto& [key, value] : prefs) {
            reply.fields.emplace_back(PrefField(key), AnsweredValue(key, value, now));
        }
        return reply;
    }
    const auto prefs = PrefsOf(fields);
    if (!prefs) return Answer(kResultFailure);
    return Answer(ResultText(store.Put(*profile, *password, *prefs)));
}

}  // namespace mcsim
