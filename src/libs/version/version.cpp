// The C interface of the version library.
#include "version.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "elf_section_reader.h"

namespace {

constexpr char kVersionSection[] = ".qm_version";
constexpr std::size_t kMaxVersionBytes = 4096;

}  // namespace

extern "C" int VER_getFileVersion(const char* path, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    std::optional<std::string> section;
    try {
        section = vantiro::version::ReadElfSection(path, kVersionSection, kMaxVersionBytes);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (!section) return 0;
    // The text ends at its first NUL, or with the section.
    const std::size_t text_length = ::strnlen(section->data(), section->size());
    const std::size_t length = std::min(text_length, static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, section->data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}
