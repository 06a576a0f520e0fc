// The faults set by command: answer a given result whatever the request ("refuse"),
// read the request and never answer ("silent"), close without answering ("close"),
// or serve the request as usual but hold the answer back for a while ("slow"); each for get_preferences requests, put_preferences requests or any
// request, for the next matching request only ("once") or until "normal".
// Used by the command thread and every connection thread, so each call takes a lock.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace mcsim {

enum class FaultKind { kRefuse, kSilent, kClose, kSlow };
enum class FaultTarget { kGet, kPut, kAny };

struct Fault {
    FaultKind kind = FaultKind::kRefuse;
    std::string result;  // for kRefuse: the result answered
    int delayMs = 0;     // for kSlow: how long the answer is held back
};

const char* FaultName(FaultKind kind);
// "get", "put" or "any", else nullopt.
std::optional<FaultTarget> ParseFaultTarget(std::string_view word);

class FaultPlan {
public:
    // A once-fault is queued behind earlier ones; a lasting one replaces the lasting
    // fault of the same target.
    void Add(FaultTarget target, Fault fault, bool once);
    // Back to answering normally: every fault is dropped.
    void Clear();

    // The fault for a request of `command`, if any; a once-fault is used up. The
    // oldest matching once-fault comes first, then the lasting fault for the
    // request's own command, then the lasting fault for any request.
    std::optional<Fault> Take(std::string_view command);

private:
    struct Once {
        FaultTarget target;
        Fault fault;
    };

    mutable std::mutex mutex_;
    std::deque<Once> once_;               // under mutex_
    std::optional<Fault> lasting_[3];     // under mutex_, indexed by FaultTarget
};

}  // namespace mcsim
