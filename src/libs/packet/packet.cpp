// The C interface of the packet library over FieldList and the line form.
#include "packet.h"

#include <climits>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "field_list.h"
#include "packet_id.h"
#include "packet_text.h"

struct PH_Packet {
    vantiro::packet::FieldList fields;
    std::vector<const char*> names;  // what PH_fields last handed out
    std::string text;                // what PH_build_* last handed out
};

namespace {

int ClampToInt(std::size_t n) { return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n); }

const char* Build(PACKET p, int* length, bool with_id) {
    if (length) *length = 0;
    if (!p) return nullptr;
    try {
        if (with_id && !p->fields.Find("id")) {
            p->fields.PushFront("id", vantiro::packet::NewPacketId());
        }
        vantiro::packet::WriteFields(p->fields, p->text);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
    if (length) *length = ClampToInt(p->text.size());
    return p->text.c_str();
}

}  // namespace

extern "C" {

void PH_init(void) { vantiro::packet::InitPacketIds(); }

PACKET PH_create(const char* text, int length) {
    PACKET p = new (std::nothrow) PH_Packet;
    if (!p || !text) return p;
    const std::size_t size = length < 0 ? std::strlen(text)
                                        : ::strnlen(text, static_cast<std::size_t>(length));
    try {
        vantiro::packet::ParseFields(std::string_view(text, size), p->fields);
    } catch (const std::bad_alloc&) {
        delete p;
        return nullptr;
    }
    return p;
}

PACKET PH_create_empty(void) { return new (std::nothrow) PH_Packet; }

int PH_add(PACKET p, const char* name, const char* value) {
    if (!p || !name || !value || !vantiro::packet::IsValidFieldName(name)) return -1;
    try {
        p->fields.Set(name, value);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

const char* PH_valueOf(PACKET p, const char* name) {
    if (!p || !name) return nullptr;
    const vantiro::packet::Field* field = p->fields.Find(name);
    return field ? field->value.c_str() : nullptr;
}

const char** PH_fields(PACKET p, int* count) {
    if (count) *count = 0;
    if (!p) return nullptr;
    try {
        p->names.clear();
        p->names.reserve(p->fields.size() + 1);
        for (const auto& field : p->fields.fields()) p->names.push_back(field.name.c_str());
        p->names.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        p->names.clear();
        return nullptr;
    }
    if (count) *count = ClampToInt(p->names.size() - 1);
    return p->names.data();
}

const char* PH_build_packet(PACKET p, int* length) { return Build(p, length, true); }

const char* PH_build_packet_no_id(PACKET p, int* length) { return Build(p, length, false); }

void PH_destroy(PACKET p) { delete p; }

}  // extern "C"
