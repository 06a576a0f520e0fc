// One line per event on an output stream, serialised across threads and flushed at
// once, for the emulators. Every event starts with "t" (milliseconds since the writer
// was made) and "event"; the rest are the event's own members in the order given.
#pragma once

#include <chrono>
#include <mutex>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

namespace simcommon {

using Json = nlohmann::ordered_json;

enum class OutputFormat { kJson, kText };

class EventWriter {
public:
    // Unless show_secrets, packet fields that name a password are shown as "***" (see
    // FieldsObject).
    EventWriter(std::ostream& out, OutputFormat format, bool show_secrets = false);

    bool ShowsSecrets() const { return show_secrets_; }

    // Writes the event `name` with the members of `members` (an object, may be null).
    void Write(const std::string& name, const Json& members = Json::object());

    // Convenience for an "error" event with a "message" and optional extra members.
    void Error(const std::string& message, const Json& extra = Json::object());

    // The readable one-line form used by the text format.
    static std::string TextLine(const Json& event);

private:
    std::ostream& out_;
    OutputFormat format_;
    bool show_secrets_;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
};

}  // namespace simcommon
