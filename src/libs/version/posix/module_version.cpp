// The version text of an ELF module: its section ".qm_version".
#include "module_version.h"

#include "posix/elf_section_reader.h"

namespace vantiro::version {

std::optional<std::string> ReadModuleVersion(const char* path, std::size_t max_bytes) {
    return ReadElfSection(path, ".qm_version", max_bytes);
}

}  // namespace vantiro::version
