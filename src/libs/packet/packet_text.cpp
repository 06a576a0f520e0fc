#include "packet_text.h"

#include <algorithm>
#include <cstring>

namespace vantiro::packet {
namespace {

constexpr char kContinuation = '\t';

}  // namespace

bool IsValidFieldName(std::string_view name) {
    if (name.empty() || name.front() == kContinuation) return false;
    // One pass over the name (find_first_of would search the two characters per byte).
    return std::none_of(name.begin(), name.end(), [](char c) { return c == ':' || c == '\n'; });
}

void ParseFields(std::string_view text, FieldList& fields) {
    Field* current = nullptr;  // the field that a continuation line extends
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char* start = text.data() + pos;
        const auto* nl = static_cast<const char*>(std::memchr(start, '\n', text.size() - pos));
        const std::size_t len = nl ? static_cast<std::size_t>(nl - start) : text.size() - pos;
        const std::string_view line(start, len);
        pos += len + 1;

        if (!line.empty() && line.front() == kContinuation) {
            if (current) {
                current->value.push_back('\n');
                current->value.append(line.substr(1));
            }
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            current = nullptr;
            continue;
        }
        current = &fields.Set(line.substr(0, colon), line.substr(colon + 1));
    }
}

void WriteFields(const FieldList& fields, std::string& out) {
    std::size_t size = 0;
    for (const Field& f : fields.fields()) {
        size += f.name.size() + f.value.size() + 2 +
                static_cast<std::size_t>(std::count(f.value.begin(), f.value.end(), '\n'));
    }
    out.clear();
    out.reserve(size);
    for (const Field& f : fields.fields()) {
        out.append(f.name);
        out.push_back(':');
        std::string_view rest(f.value);
        for (std::size_t nl; (nl = rest.find('\n')) != std::string_view::npos;
             rest.remove_prefix(nl + 1)) {
            out.append(rest.substr(0, nl + 1));
            out.push_back(kContinuation);
        }
        out.append(rest);
        out.push_back('\n');
    }
}

}  // namespace vantiro::packet
