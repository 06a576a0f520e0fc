#include "behaviour.h"

namespace muxsim {

void Behaviour::SetProfile(const std::string& profile, const std::string& password) {
    std::lock_guard lock(mutex_);
    profiles_[profile] = password;
}

void Behaviour::ForceLogin(const std::string& result, bool once) {
    std::lock_guard lock(mutex_);
    (once ? login_.once : login_.lasting) = result;
}

void Behaviour::LoginAuto() {
    std::lock_guard lock(mutex_);
    login_ = Forced{};
}

void Behaviour::ForceResult(const std::string& command, const std::string& result, bool once) {
    std::lock_guard lock(mutex_);
    Forced& forced = results_[command];
    (once ? forced.once : forced.lasting) = result;
}

void Behaviour::ResultAuto(const std::string& command) {
    std::lock_guard lock(mutex_);
    results_.erase(command);
}

std::optional<std::string> Behaviour::Take(Forced& forced) {
    if (forced.once) {
        std::optional<std::string> result = std::move(forced.once);
        forced.once.reset();
        return result;
    }
    return forced.lasting;
}

std::string Behaviour::LoginResult(const FieldList& request) {
    if (auto forced = Take(login_)) return *forced;
    if (profiles_.empty()) return "ok";
    const auto profile = FieldValue(request, "profile");
    const auto password = FieldValue(request, "password");
    if (!profile || !password) return "password_invalid";
    const auto known = profiles_.find(*profile);
    return known != profiles_.end() && known->second == *password ? "ok" : "password_invalid";
}

Reply Behaviour::ReplyTo(const FieldList& request) {
    Reply reply;
    const auto command = FieldValue(request, "command");
    if (!command || command->empty()) {
        reply.problem = "request without a command";
        return reply;
    }
    if (*command == "quit") {
        reply.close_after = true;
        return reply;
    }
    std::string result = "ok";
    {
        std::lock_guard lock(mutex_);
        if (*command == "hello") {
            result = LoginResult(request);
        } else if (auto found = results_.find(*command); found != results_.end()) {
            if (auto forced = Take(found->second)) result = *forced;
        }
    }
    if (result == kNoAnswer) return reply;
    reply.answer = true;
    if (const auto id = FieldValue(request, "id")) reply.fields.emplace_back("id", *id);
    reply.fields.emplace_back("result", result);
    return reply;
}

}  // namespace muxsim
