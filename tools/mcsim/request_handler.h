// What mcsim does with one request: the faults first, then the protocol's rules for
// get_preferences and put_preferences against the mailboxes. No I/O: the connection
// carries out the reply.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "fault_plan.h"
#include "mailbox_store.h"
#include "simcommon/packet_fields.h"

namespace mcsim {

struct Reply {
    enum class Action { kAnswer, kSilent, kClose };
    Action action = Action::kAnswer;
    FieldList fields;               // the answer, for kAnswer: "result" first
    std::optional<FaultKind> fault;  // the fault that shaped the reply, if any
    int delayMs = 0;                 // how long to hold a kAnswer back (a slow fault)
};

// The reply to the request `fields` (in packet order). `now` dates relative
// "pwd_expiry" preferences.
//  - A fault for the request's command wins (refuse: that result; silent; close);
//    a slow fault serves the request as below and only delays the answer.
//  - get_preferences with a known profile and its password: "ok" and a "pref.KEY"
//    field per preference; put_preferences likewise stores each "pref.KEY" field.
//  - A wrong password gives "password_invalid", an unknown profile
//    "unknown_mailbox".
//  - No command, another command, a missing profile or password, or a "pref." field
//    without a key: "failure", nothing stored.
Reply ReplyTo(const FieldList& fields, MailboxStore& store, FaultPlan& faults, std::time_t now);

using simcommon::FieldValue;

}  // namespace mcsim
