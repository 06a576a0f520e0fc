#include "field_list.h"

namespace vantiro::packet {

const Field* FieldList::Find(std::string_view name) const {
    if (!index_.empty()) {
        auto it = index_.find(name);
        return it == index_.end() ? nullptr : it->second;
    }
    for (const Field& field : fields_) {
        if (field.name == name) return &field;
    }
    return nullptr;
}

Field* FieldList::Find(std::string_view name) {
    return const_cast<Field*>(static_cast<const FieldList&>(*this).Find(name));
}

void FieldList::Index(Field& field) {
    if (fields_.size() > kIndexThreshold) {
        if (index_.empty()) {
            index_.reserve(fields_.size() * 2);
            for (Field& f : fields_) index_.emplace(f.name, &f);
        } else {
            index_.emplace(field.name, &field);
        }
    }
}

Field& FieldList::Set(std::string_view name, std::string_view value) {
    if (Field* existing = Find(name)) {
        existing->value.assign(value);
        return *existing;
    }
    Field& added = fields_.emplace_back(Field{std::string(name), std::string(value)});
    Index(added);
    return added;
}

Field& FieldList::PushFront(std::string_view name, std::string_view value) {
    Field& added = fields_.emplace_front(Field{std::string(name), std::string(value)});
    Index(added);
    return added;
}

}  // namespace vantiro::packet
