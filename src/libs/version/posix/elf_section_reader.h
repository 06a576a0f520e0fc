// Finds a named section in an ELF file (32- or 64-bit, little-endian) and reads its
// bytes. Every offset and size taken from the file is checked against the file's
// length before use, so damaged or hostile files give "not found", never a fault.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vantiro::version {

// Upper bound on the bytes read for one section or table, so that a hostile header
// cannot make the reader allocate without limit.
inline constexpr std::size_t kMaxReadBytes = std::size_t{16} << 20;

// The content of the section called `name` in the ELF file at `path` (at most
// `max_bytes` of it), or nullopt when the file or the section cannot be had.
std::optional<std::string> ReadElfSection(const char* path, std::string_view name,
                                          std::size_t max_bytes);

}  // namespace vantiro::version
