#include "command_runner.h"

#include <array>
#include <chrono>
#include <thread>

namespace muxsim {

namespace {

constexpr long long kDefaultWaitMs = 10000;

bool IsNotice(const std::string& verb) {
    return verb == "activity" || verb == "subscriber_activity" ||
           verb == "presence_monitor_status" || verb == "receive_im";
}

bool IsClientCommand(const std::string& verb) {
    static const std::array<const char*, 11> kVerbs = {
        "rejection", "send",  "close",  "abort",       "close-mid-frame",
        "bad-prefix", "garbage", "silent", "delay", "stop-reading", "stall"};
    if (IsNotice(verb)) return true;
    for (const char* v : kVerbs) {
        if (verb == v) return true;
    }
    return false;
}

std::optional<bool> OnOff(const std::vector<std::string>& words) {
    if (words.size() != 1) return std::nullopt;
    if (words[0] == "on") return true;
    if (words[0] == "off") return false;
    return std::nullopt;
}

Json FaultEvent(int client, const std::string& fault) {
    Json ev = Json::object();
    ev["client"] = client;
    ev["fault"] = fault;
    return ev;
}

}  // namespace

CommandRunner::CommandRunner(TlsServer& server, Behaviour& behaviour, FrameLog& frames,
                             EventWriter& events)
    : server_(server), behaviour_(behaviour), frames_(frames), events_(events) {}

const char* CommandRunner::HelpText() {
    return "profile PROFILE PASSWORD | login RESULT [once] | login auto | "
           "result COMMAND RESULT [once] | result COMMAND auto | "
           "[@N] activity|subscriber_activity|presence_monitor_status|receive_im F=V ... | "
           "[@N] rejection REASON|- | [@N] send DATA | [@N] close | [@N] abort | "
           "[@N] close-mid-frame | [@N] bad-prefix | [@N] garbage | [@N] stall LENGTH SENT | "
           "[@N] silent on|off | [@N] delay MS | [@N] stop-reading on|off | "
           "wait-frame COMMAND [MS] | sleep MS | clients | help | quit";
}

bool CommandRunner::RunLine(std::string_view line) {
    std::string error;
    const auto command = ParseCommand(line, error);
    if (!command) {
        if (!error.empty()) events_.Error(error, Json{{"line", std::string(line)}});
        return true;
    }
    if (IsClientCommand(command->verb)) {
        RunOnClient(*command);
        return true;
    }
    if (command->client) {
        events_.Error("'" + command->verb + "' does not act on a client",
                      Json{{"line", std::string(line)}});
        return true;
    }
    return RunGlobal(*command);
}

bool CommandRunner::RunGlobal(const Command& command) {
    const std::string& verb = command.verb;
    const auto& words = command.words;
    auto usage = [&](const char* text) {
        events_.Error(std::string("usage: ") + text, Json{{"command", verb}});
        return true;
    };

    if (verb == "quit") return false;
    if (verb == "help") {
        events_.Write("help", Json{{"commands", HelpText()}});
        return true;
    }
    if (verb == "profile") {
        if (words.size() != 2) return usage("profile PROFILE PASSWORD");
        std::string error;
        const auto profile = Unescape(words[0], error);
        const auto password = profile ? Unescape(words[1], error) : std::nullopt;
        if (!password) {
            // Not the parser's message: it quotes the word, which may be the password.
            events_.Error("bad escape in the profile or password", Json{{"command", verb}});
            return true;
        }
        behaviour_.SetProfile(*profile, *password);
        return true;
    }
    if (verb == "login") {
        const bool once = words.size() == 2 && words[1] == "once";
        if (words.empty() || (words.size() == 2 && !once) || words.size() > 2) {
            return usage("login RESULT [once] | login auto");
        }
        if (words[0] == "auto") {
            behaviour_.LoginAuto();
        } else {
            std::string error;
            const auto result = Unescape(words[0], error);
            if (!result) {
                events_.Error(error);
                return true;
            }
            behaviour_.ForceLogin(*result, once);
        }
        return true;
    }
    if (verb == "result") {
        const bool once = words.size() == 3 && words[2] == "once";
        if (words.size() < 2 || (words.size() == 3 && !once) || words.size() > 3) {
            return usage("result COMMAND RESULT [once] | result COMMAND auto");
        }
        if (words[0] == "hello" || words[0] == "quit") {
            events_.Error("the answer to '" + words[0] + "' is set with 'login'; 'quit' gets none");
            return true;
        }
        if (words[1] == "auto") {
            behaviour_.ResultAuto(words[0]);
        } else {
            std::string error;
            const auto result = Unescape(words[1], error);
            if (!result) {
                events_.Error(error);
                return true;
            }
            behaviour_.ForceResult(words[0], *result, once);
        }
        return true;
    }
    if (verb == "wait-frame") {
        const auto ms = words.size() == 2 ? ParseCount(words[1]) : std::optional(kDefaultWaitMs);
        if (words.empty() || words.size() > 2 || !ms) return usage("wait-frame COMMAND [MS]");
        if (!frames_.WaitFor(words[0], std::chrono::milliseconds(*ms))) {
            events_.Error("wait-frame timed out", Json{{"command", words[0]}, {"ms", *ms}});
        }
        return true;
    }
    if (verb == "sleep") {
        const auto ms = words.size() == 1 ? ParseCount(words[0]) : std::nullopt;
        if (!ms) return usage("sleep MS");
        std::this_thread::sleep_for(std::chrono::milliseconds(*ms));
        return true;
    }
    if (verb == "clients") {
        Json list = Json::array();
        for (const auto& session : server_.Sessions()) list.push_back(session->Describe());
        events_.Write("clients", Json{{"clients", list}});
        return true;
    }
    events_.Error("unknown command '" + verb + "'");
    return true;
}

void CommandRunner::RunOnClient(const Command& command) {
    const std::string& verb = command.verb;
    const auto& words = command.words;
    auto usage = [&](const char* text) {
        events_.Error(std::string("usage: ") + text, Json{{"command", verb}});
    };

    // Check the arguments and make the action before looking for the client, so
    // that a faulty line gives the same error whatever is connected.
    ClientSession::Action action;
    std::string error;
    if (IsNotice(verb)) {
        auto fields = ParseFieldWords(words, error);
        if (!fields) return events_.Error(error, Json{{"command", verb}});
        const std::string id = "mux-" + std::to_string(++notice_serial_);
        action = [verb, id, fields = std::move(*fields)](ClientSession& s) {
            s.SendNotice(verb, id, fields);
        };
    } else if (verb == "rejection") {
        if (words.size() != 1) return usage("rejection REASON|-");
        FieldList fields;
        if (words[0] != "-") {
            const auto reason = Unescape(words[0], error);
            if (!reason) return events_.Error(error, Json{{"command", verb}});
            fields.emplace_back("reason", *reason);
        }
        const std::string id = "mux-" + std::to_string(++notice_serial_);
        action = [id, fields = std::move(fields)](ClientSession& s) {
            s.SendNotice("rejection", id, fields);
        };
    } else if (verb == "send") {
        auto text = Unescape(command.rest, error);
        if (!text) return events_.Error(error, Json{{"command", verb}});
        action = [text = std::move(*text)](ClientSession& s) {
            s.SendRaw(vantiro::EncodeFrame(text), "frame");
        };
    } else if (verb == "silent" || verb == "stop-reading") {
        const auto on = OnOff(words);
        if (!on) return usage(verb == "silent" ? "silent on|off" : "stop-reading on|off");
        action = [this, verb, on = *on](ClientSession& s) {
            if (verb == "silent") {
                s.SetSilent(on);
            } else {
                s.SetStopReading(on);
            }
            Json ev = FaultEvent(s.number(), verb);
            ev["on"] = on;
            events_.Write("fault", ev);
        };
    } else if (verb == "delay") {
        const auto ms = words.size() == 1 ? ParseCount(words[0]) : std::nullopt;
        if (!ms) return usage("delay MS");
        action = [this, ms = *ms](ClientSession& s) {
            s.SetDelay(ms);
            Json ev = FaultEvent(s.number(), "delay");
            ev["ms"] = ms;
            events_.Write("fault", ev);
        };
    } else if (verb == "stall") {
        const auto announced = words.size() == 2 ? ParseCount(words[0]) : std::nullopt;
        const auto sent = words.size() == 2 ? ParseCount(words[1]) : std::nullopt;
        if (!announced || !sent || *announced > static_cast<long long>(vantiro::kMaxFrameText) ||
            *sent >= *announced) {
            return usage("stall LENGTH SENT (SENT < LENGTH <= 99999999)");
        }
        action = [this, announced = *announced, sent = *sent](ClientSession& s) {
            events_.Write("fault", FaultEvent(s.number(), "stall"));
            s.SendStalledFrame(static_cast<std::size_t>(announced), static_cast<std::size_t>(sent));
        };
    } else if (!words.empty()) {
        return usage((verb + " (no arguments)").c_str());
    } else if (verb == "close" || verb == "abort") {
        action = [this, verb](ClientSession& s) {
            events_.Write("fault", FaultEvent(s.number(), verb));
            if (verb == "close") {
                s.CloseGracefully("closed by command");
            } else {
                s.Abort("aborted by command");
            }
        };
    } else if (verb == "close-mid-frame") {
        action = [this](ClientSession& s) {
            events_.Write("fault", FaultEvent(s.number(), "close-mid-frame"));
            const std::string frame =
                vantiro::EncodeFrame("command:activity\nnote:this frame is cut short\n");
            s.SendRaw(frame.substr(0, vantiro::kFramePrefixSize + 12), "partial frame");
            s.CloseGracefully("closed in the middle of a frame by command");
        };
    } else {
        const bool bad_prefix = verb == "bad-prefix";
        action = [this, verb, bad_prefix](ClientSession& s) {
            events_.Write("fault", FaultEvent(s.number(), verb));
            static const char kGarbage[] = "\x16\x03\x01GARBAGE-no frame here\r\n\xff\xfe\x01";
            s.SendRaw(bad_prefix ? std::string("12345x78\ncommand:activity\n")
                                 : std::string(kGarbage, sizeof kGarbage - 1),
                      verb);
        };
    }

    const auto session = server_.Find(command.client, error);
    if (!session) return events_.Error(error, Json{{"command", verb}});
    if (!session->Post(std::move(action))) {
        events_.Error("client " + std::to_string(session->number()) + " is closed",
                      Json{{"command", verb}});
    }
}

}  // namespace muxsim
