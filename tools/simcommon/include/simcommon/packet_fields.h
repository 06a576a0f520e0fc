// Packets as ordered field lists, read and written with the packet library, and
// shown in event lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "simcommon/command_parser.h"
#include "simcommon/event_writer.h"

namespace simcommon {

// The fields of a packet text, in packet order; nullopt when the library has no
// memory for the packet.
std::optional<FieldList> ReadPacket(std::string_view text);

struct BuiltPacket {
    std::string text;  // without an added id
    FieldList fields;  // as the packet holds them (a name given again keeps its place)
};

// The packet of `fields`; nullopt when the library refuses it, with `refused` naming
// the field it refused (empty when it ran out of memory).
std::optional<BuiltPacket> BuildPacket(const FieldList& fields, std::string& refused);

// The value of the first field called `name`.
std::optional<std::string> FieldValue(const FieldList& fields, const std::string& name);

// Whether a field holds a secret: its name contains "password", in any case.
bool IsSecretField(std::string_view name);

// The fields as a JSON object in packet order, for event lines; the value of a
// secret field is "***" unless show_secrets (the writer's ShowsSecrets()).
Json FieldsObject(const FieldList& fields, bool show_secrets);

}  // namespace simcommon
