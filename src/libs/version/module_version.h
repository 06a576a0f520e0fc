// The version text of a module file, as the platform's backend finds it: the ELF
// section that vantiro_embed_version adds (posix/) or the module's VERSIONINFO
// resource (win32/).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace vantiro::version {

// The version text of the module file at path, at most max_bytes of it (a NUL in it
// ends the text), or nullopt when the file or its version cannot be had.
std::optional<std::string> ReadModuleVersion(const char* path, std::size_t max_bytes);

}  // namespace vantiro::version
