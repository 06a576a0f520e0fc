#include "fault_plan.h"

#include "request_names.h"

namespace mcsim {

namespace {

bool Matches(FaultTarget target, std::string_view command) {
    switch (target) {
        case FaultTarget::kGet: return command == kGetPreferences;
        case FaultTarget::kPut: return command == kPutPreferences;
        case FaultTarget::kAny: return true;
    }
    return false;
}

std::size_t Index(FaultTarget target) { return static_cast<std::size_t>(target); }

}  // namespace

const char* FaultName(FaultKind kind) {
    switch (kind) {
        case FaultKind::kRefuse: return "refuse";
        case FaultKind::kSilent: return "silent";
        case FaultKind::kClose: return "close";
        case FaultKind::kSlow: return "slow";
    }
    return "?";
}

std::optional<FaultTarget> ParseFaultTarget(std::string_view word) {
    if (word == "get") return FaultTarget::kGet;
    if (word == "put") return FaultTarget::kPut;
    if (word == "any") return FaultTarget::kAny;
    return std::nullopt;
}

void FaultPlan::Add(FaultTarget target, Fault fault, bool once) {
    std::lock_guard lock(mutex_);
    if (once) {
        once_.push_back({target, std::move(fault)});
    } else {
        lasting_[Index(target)] = std::move(fault);
    }
}

void FaultPlan::Clear() {
    std::lock_guard lock(mutex_);
    once_.clear();
    for (auto& fault : lasting_) fault.reset();
}

std::optional<Fault> FaultPlan::Take(std::string_view command) {
    std::lock_guard lock(mutex_);
    for (auto it = once_.begin(); it != once_.end(); ++it) {
        if (!Matches(it->target, command)) continue;
        Fault fault = std::move(it->fault);
        once_.erase(it);
        return fault;
    }
    for (const FaultTarget target : {FaultTarget::kGet, FaultTarget::kPut}) {
        if (Matches(target, command) && lasting_[Index(target)]) return lasting_[Index(target)];
    }
    return lasting_[Index(FaultTarget::kAny)];
}

}  // namespace mcsim
