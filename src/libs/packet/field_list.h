// The ordered dictionary behind a packet: fields keep their insertion order, names are
// unique, and every field stays at the same address for the packet's whole life so that
// the name and value pointers handed to callers stay put while other fields are added.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vantiro::packet {

struct Field {
    std::string name;
    std::string value;
};

class FieldList {
public:
    // Past this many fields a hash index backs the look-ups, so that a hostile text with
    // a great many lines still parses in linear time.
    static constexpr std::size_t kIndexThreshold = 16;

    Field* Find(std::string_view name);
    const Field* Find(std::string_view name) const;

    // Replaces the value of the field called `name` in place, or appends a new field.
    Field& Set(std::string_view name, std::string_view value);

    // Puts a new field first; the name must not be present yet.
    Field& PushFront(std::string_view name, std::string_view value);

    const std::deque<Field>& fields() const { return fields_; }
    std::size_t size() const { return fields_.size(); }

private:
    void Index(Field& field);

    std::deque<Field> fields_;
    std::unordered_map<std::string_view, Field*> index_;
};

}  // namespace vantiro::packet
