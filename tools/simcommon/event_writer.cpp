#include "simcommon/event_writer.h"

#include <iomanip>
#include <sstream>

namespace simcommon {

EventWriter::EventWriter(std::ostream& out, OutputFormat format, bool show_secrets)
    : out_(out), format_(format), show_secrets_(show_secrets),
      start_(std::chrono::steady_clock::now()) {}

void EventWriter::Write(const std::string& name, const Json& members) {
    std::lock_guard lock(mutex_);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
    Json event = Json::object();
    event["t"] = elapsed.count();
    event["event"] = name;
    if (members.is_object()) {
        for (auto it = members.begin(); it != members.end(); ++it) event[it.key()] = it.value();
    }
    // Bytes from clients need not be UTF-8: replace what cannot be shown rather than fail.
    if (format_ == OutputFormat::kJson) {
        out_ << event.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
    } else {
        out_ << TextLine(event) << '\n';
    }
    out_.flush();
}

void EventWriter::Error(const std::string& message, const Json& extra) {
    Json members = Json::object();
    members["message"] = message;
    if (extra.is_object()) {
        for (auto it = extra.begin(); it != extra.end(); ++it) members[it.key()] = it.value();
    }
    Write("error", members);
}

namespace {

std::string Plain(const Json& value) {
    if (value.is_string()) {
        const std::string& s = value.get_ref<const std::string&>();
        const bool needs_quotes = s.empty() || s.find_first_of(" \t\n\r\"=") != std::string::npos;
        if (!needs_quotes) return s;
        return Json(s).dump(-1, ' ', false, Json::error_handler_t::replace);
    }
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string EventWriter::TextLine(const Json& event) {
    std::ostringstream line;
    line << '[' << std::setw(8) << event.value("t", 0LL) << " ms] " << std::left << std::setw(10)
         << event.value("event", std::string()) << std::right;
    for (auto it = event.begin(); it != event.end(); ++it) {
        if (it.key() == "t" || it.key() == "event") continue;
        if (it.key() == "fields" && it.value().is_object()) {
            line << " |";
            for (auto f = it.value().begin(); f != it.value().end(); ++f) {
                line << ' ' << f.key() << '=' << Plain(f.value());
            }
            continue;
        }
        line << ' ' << it.key() << '=' << Plain(it.value());
    }
    return line.str();
}

}  // namespace simcommon
