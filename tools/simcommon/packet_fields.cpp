#include "simcommon/packet_fields.h"

#include <algorithm>
#include <cctype>

#include "packet.h"

namespace simcommon {

namespace {

FieldList FieldsOf(PACKET packet) {
    FieldList fields;
    int count = 0;
    const char** names = PH_fields(packet, &count);
    for (int i = 0; names && i < count; ++i) {
        const char* value = PH_valueOf(packet, names[i]);
        fields.emplace_back(names[i], value ? value : "");
    }
    return fields;
}

}  // namespace

std::optional<FieldList> ReadPacket(std::string_view text) {
    PACKET packet = PH_create(text.data(), static_cast<int>(text.size()));
    if (!packet) return std::nullopt;
    FieldList fields = FieldsOf(packet);
    PH_destroy(packet);
    return fields;
}

std::optional<BuiltPacket> BuildPacket(const FieldList& fields, std::string& refused) {
    refused.clear();
    PACKET packet = PH_create_empty();
    if (!packet) return std::nullopt;
    for (const auto& [name, value] : fields) {
        if (PH_add(packet, name.c_str(), value.c_str()) != 0) {
            refused = name;
            PH_destroy(packet);
            return std::nullopt;
        }
    }
    int length = 0;
    const char* text = PH_build_packet_no_id(packet, &length);
    std::optional<BuiltPacket> built;
    if (text) built = BuiltPacket{std::string(text, static_cast<std::size_t>(length)), FieldsOf(packet)};
    PH_destroy(packet);
    return built;
}

std::optional<std::string> FieldValue(const FieldList& fields, const std::string& name) {
    for (const auto& field : fields) {
        if (field.first == name) return field.second;
    }
    return std::nullopt;
}

bool IsSecretField(std::string_view name) {
    static constexpr std::string_view kWord = "password";
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == static_cast<unsigned char>(b);
    };
    return std::search(name.begin(), name.end(), kWord.begin(), kWord.end(), same) != name.end();
}

Json FieldsObject(const FieldList& fields, bool show_secrets) {
    Json object = Json::object();
    for (const auto& [name, value] : fields) {
        object[name] = show_secrets || !IsSecretField(name) ? value : std::string("***");
    }
    return object;
}

}  // namespace simcommon
