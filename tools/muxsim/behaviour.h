// What the emulated multiplexor answers: the login check against the configured
// profiles, forced login results, and per-command results. Shared by all clients;
// safe to use from any thread.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "command_parser.h"
#include "simcommon/packet_fields.h"

namespace muxsim {

// A result text that means "send no answer at all".
inline constexpr const char* kNoAnswer = "-";

struct Reply {
    bool answer = false;      // send `fields` back
    FieldList fields;         // "id" (when the request had one) and "result"
    bool close_after = false; // close the client once earlier output is out ("quit")
    std::string problem;      // set when the request could not be understood
};

class Behaviour {
public:
    // Adds a profile or changes its password.
    void SetProfile(const std::string& profile, const std::string& password);

    // The answer to "hello" is `result` for the next hello only (once) or until
    // LoginAuto. A once-result is used before a lasting one.
    void ForceLogin(const std::string& result, bool once);
    void LoginAuto();

    // The same for the answers to requests of `command`.
    void ForceResult(const std::string& command, const std::string& result, bool once);
    void ResultAuto(const std::string& command);

    // The reply to one request, consuming a once-result it uses.
    Reply ReplyTo(const FieldList& request);

private:
    struct Forced {
        std::optional<std::string> lasting;
        std::optional<std::string> once;
    };

    // The forced result to use now, taking a once-result; nullopt when none.
    static std::optional<std::string> Take(Forced& forced);
    std::string LoginResult(const FieldList& request);

    std::mutex mutex_;
    std::map<std::string, std::string> profiles_;
    Forced login_;
    std::map<std::string, Forced> results_;
};

using simcommon::FieldValue;

}  // namespace muxsim
