// The C interface of the version library.
#include "version.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "module_version.h"

namespace {

constexpr std::size_t kMaxVersionBytes = 4096;

}  // namespace

extern "C" int VER_getFileVersion(const char* path, char* buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    std::optional<std::string> version;
    try {
        version = vantiro::version::ReadModuleVersion(path, kMaxVersionBytes);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    if (!version) return 0;
    // The text ends at its first NUL, or with what was read.
    const std::size_t text_length = ::strnlen(version->data(), version->size());
    const std::size_t length = std::min(text_length, static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, version->data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}
