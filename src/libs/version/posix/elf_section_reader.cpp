#include "posix/elf_section_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace vantiro::version {
namespace {

constexpr std::uint32_t kSectionNoBits = 8;        // section type without file bytes
constexpr std::uint16_t kExtendedStringIndex = 0xffff;

// The fields of the file and section headers this reader needs, at their offsets for
// one ELF class.
struct Layout {
    std::size_t header_size;
    std::size_t shoff, shoff_width;
    std::size_t shentsize, shnum, shstrndx;
    std::size_t section_size;  // smallest section header entry
    std::size_t sh_name, sh_type, sh_offset, sh_size, sh_link, word_width;
};

constexpr Layout kElf32{52, 0x20, 4, 0x2E, 0x30, 0x32, 40, 0, 4, 16, 20, 24, 4};
constexpr Layout kElf64{64, 0x28, 8, 0x3A, 0x3C, 0x3E, 64, 0, 4, 24, 32, 40, 8};

// Little-endian unsigned integer of `width` bytes at `at` in `bytes` (caller checked bounds).
std::uint64_t LittleEndian(const std::string& bytes, std::size_t at, std::size_t width) {
    std::uint64_t value = 0;
    for (std::size_t i = width; i-- > 0;) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

class FileReader {
public:
    // Non-blocking so that a FIFO or device path cannot stall the caller; only regular
    // files are read.
    explicit FileReader(const char* path) : fd_(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
            size_ = static_cast<std::uint64_t>(st.st_size);
        }
    }
    ~FileReader() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    // Reads `length` bytes at `offset`; nullopt unless all of them lie inside the file
    // and could be read.
    std::optional<std::string> Read(std::uint64_t offset, std::uint64_t length) const {
        if (offset > size_ || length > size_ - offset || length > kMaxReadBytes) return std::nullopt;
        std::string bytes(static_cast<std::size_t>(length), '\0');
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pread(fd_, bytes.data() + done, bytes.size() - done,
                                      static_cast<off_t>(offset + done));
            if (n <= 0) return std::nullopt;
            done += static_cast<std::size_t>(n);
        }
        return bytes;
    }

private:
    int fd_;
    std::uint64_t size_ = 0;
};

struct Section {
    std::uint32_t name;
    std::uint32_t type;
    std::uint64_t offset;
    std::uint64_t size;
    std::uint32_t link;
};

Section SectionAt(const std::string& table, std::size_t at, const Layout& l) {
    return Section{static_cast<std::uint32_t>(LittleEndian(table, at + l.sh_name, 4)),
                   static_cast<std::uint32_t>(LittleEndian(table, at + l.sh_type, 4)),
                   LittleEndian(table, at + l.sh_offset, l.word_width),
                   LittleEndian(table, at + l.sh_size, l.word_width),
                   static_cast<std::uint32_t>(LittleEndian(table, at + l.sh_link, 4))};
}

// Whether the NUL-terminated name at `offset` in the string table equals `name`.
bool NameMatches(const std::string& strings, std::uint32_t offset, std::string_view name) {
    if (offset >= strings.size()) return false;
    const std::size_t room = strings.size() - offset;
    if (room < name.size() + 1) return false;
    return strings.compare(offset, name.size(), name) == 0 && strings[offset + name.size()] == '\0';
}

}  // namespace

std::optional<std::string> ReadElfSection(const char* path, std::string_view name,
                                          std::size_t max_bytes) {
    if (!path) return std::nullopt;
    const FileReader file(path);
    auto ident = file.Read(0, 16);
    if (!ident || ident->compare(0, 4, "\x7f" "ELF") != 0) return std::nullopt;
    if ((*ident)[5] != 1) return std::nullopt;  // little-endian only
    const Layout* layout = (*ident)[4] == 1 ? &kElf32 : (*ident)[4] == 2 ? &kElf64 : nullptr;
    if (!layout) return std::nullopt;
    const Layout& l = *layout;

    const auto header = file.Read(0, l.header_size);
    if (!header) return std::nullopt;
    const std::uint64_t shoff = LittleEndian(*header, l.shoff, l.shoff_width);
    const std::uint64_t entry_size = LittleEndian(*header, l.shentsize, 2);
    std::uint64_t count = LittleEndian(*header, l.shnum, 2);
    std::uint64_t strings_index = LittleEndian(*header, l.shstrndx, 2);
    if (shoff == 0 || entry_size < l.section_size) return std::nullopt;

    // With many sections, the count and the string table's index move to section 0.
    const auto first = file.Read(shoff, l.section_size);
    if (!first) return std::nullopt;
    const Section zero = SectionAt(*first, 0, l);
    if (count == 0) count = zero.size;
    if (strings_index == kExtendedStringIndex) strings_index = zero.link;
    if (count == 0 || strings_index >= count || count > kMaxReadBytes / entry_size) return std::nullopt;

    const auto table = file.Read(shoff, count * entry_size);
    if (!table) return std::nullopt;
    const Section strtab = SectionAt(*table, static_cast<std::size_t>(strings_index * entry_size), l);
    if (strtab.type == kSectionNoBits) return std::nullopt;
    const auto strings = file.Read(strtab.offset, strtab.size);
    if (!strings) return std::nullopt;

    for (std::uint64_t i = 1; i < count; ++i) {
        const Section s = SectionAt(*table, static_cast<std::size_t>(i * entry_size), l);
        if (!NameMatches(*strings, s.name, name)) continue;
        if (s.type == kSectionNoBits) return std::nullopt;
        return file.Read(s.offset, std::min<std::uint64_t>(s.size, max_bytes));
    }
    return std::nullopt;
}

}  // namespace vantiro::version
