// The line form of packets: parsing a text into fields and writing fields as text.
#pragma once

#include <string>
#include <string_view>

#include "field_list.h"

namespace vantiro::packet {

// Adds the fields of `text` to `fields`, in order. A line is split at its first colon;
// a line without a colon, or with an empty name, is skipped. A line starting with a TAB
// continues the value of the field on the line before: a line feed and the rest of the
// line (after the TAB) are appended to it. A repeated name replaces the earlier value
// in place. A carriage return is an ordinary character.
void ParseFields(std::string_view text, FieldList& fields);

// Writes `fields` as text into `out` (replacing its content): "name:value\n" per
// field, each line feed inside a value written as a line feed and a TAB.
void WriteFields(const FieldList& fields, std::string& out);

// Whether PH_add accepts `name`: not empty, no ':' or line feed, no leading TAB.
bool IsValidFieldName(std::string_view name);

}  // namespace vantiro::packet
