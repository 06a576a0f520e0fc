#include "version.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadVersion(const std::string& path, int size = 64) {
    std::vector<char> buffer(static_cast<std::size_t>(size) + 8, '#');
    const int length = VER_getFileVersion(path.c_str(), buffer.data(), size);
    const std::string text(buffer.data());
    EXPECT_EQ(static_cast<std::size_t>(length), text.size());
    EXPECT_LT(length, size);
    for (std::size_t i = static_cast<std::size_t>(size); i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], '#') << "written past the buffer";
    }
    return text;
}

void Put(std::string& bytes, std::size_t at, std::uint64_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

struct SectionDef {
    std::string name;
    std::uint32_t type;  // 1 = bytes in the file, 8 = none
    std::string bytes;
};

// A minimal ELF file with the given sections (after the null one) and a section-name
// table last. With `extended`, the count and name-table index sit in section 0.
std::string MakeElf(bool is64, const std::vector<SectionDef>& defs, bool extended = false) {
    const std::size_t header = is64 ? 64 : 52, entry = is64 ? 64 : 40, word = is64 ? 8 : 4;
    std::string names(1, '\0');
    std::vector<std::uint32_t> name_offsets;
    for (const auto& s : defs) {
        name_offsets.push_back(static_cast<std::uint32_t>(names.size()));
        names += s.name + '\0';
    }
    const auto strtab_name = static_cast<std::uint32_t>(names.size());
    names += std::string(".shstrtab") + '\0';

    std::string file(header, '\0');
    std::vector<std::uint64_t> offsets;
    for (const auto& s : defs) {
        offsets.push_back(file.size());
        if (s.type != 8) file += s.bytes;
    }
    const std::uint64_t names_offset = file.size();
    file += names;
    file.resize((file.size() + 7) / 8 * 8, '\0');
    const std::uint64_t shoff = file.size();
    const std::size_t count = defs.size() + 2;
    file.resize(file.size() + count * entry, '\0');

    file[0] = 0x7f; file[1] = 'E'; file[2] = 'L'; file[3] = 'F';
    file[4] = is64 ? 2 : 1;
    file[5] = 1;
    file[6] = 1;
    Put(file, is64 ? 0x28 : 0x20, shoff, word);
    Put(file, is64 ? 0x34 : 0x28, header, 2);
    Put(file, is64 ? 0x3A : 0x2E, entry, 2);
    Put(file, is64 ? 0x3C : 0x30, extended ? 0 : count, 2);
    Put(file, is64 ? 0x3E : 0x32, extended ? 0xffff : count - 1, 2);

    auto section = [&](std::size_t index, std::uint32_t name, std::uint32_t type, std::uint64_t offset,
                       std::uint64_t size, std::uint32_t link) {
        const std::size_t at = shoff + index * entry;
        Put(file, at, name, 4);
        Put(file, at + 4, type, 4);
        Put(file, at + (is64 ? 24 : 16), offset, word);
        Put(file, at + (is64 ? 32 : 20), size, word);
        Put(file, at + (is64 ? 40 : 24), link, 4);
    };
    if (extended) section(0, 0, 0, 0, count, static_cast<std::uint32_t>(count - 1));
    for (std::size_t i = 0; i < defs.size(); ++i) {
        section(i + 1, name_offsets[i], defs[i].type, offsets[i], defs[i].bytes.size(), 0);
    }
    section(count - 1, strtab_name, 3, names_offset, names.size(), 0);
    return file;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string ProbeModulePath() { return VANTIRO_TEST_PROBE_MODULE; }

class VersionTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vt-version-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }

    fs::path dir_;
};

TEST_F(VersionTest, ModuleBuiltWithTheVersionReadsItBack) {
    EXPECT_EQ(ReadVersion(ProbeModulePath()), VANTIRO_TEST_VERSION_TEXT);
}

TEST_F(VersionTest, SmallBuffersGetATruncatedTerminatedText) {
    const std::string path = ProbeModulePath();
    const std::string full = VANTIRO_TEST_VERSION_TEXT;
    EXPECT_EQ(ReadVersion(path, 1), "");
    EXPECT_EQ(ReadVersion(path, 4), full.substr(0, 3));
    EXPECT_EQ(ReadVersion(path, static_cast<int>(full.size()) + 1), full);

    char canary[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(VER_getFileVersion(path.c_str(), canary, 0), 0);
    EXPECT_EQ(VER_getFileVersion(path.c_str(), canary, -3), 0);
    EXPECT_EQ(canary[0], '#');
    EXPECT_EQ(VER_getFileVersion(path.c_str(), nullptr, 10), 0);
}

TEST_F(VersionTest, FilesWithoutAVersionGiveTheEmptyText) {
    EXPECT_EQ(ReadVersion("/proc/self/exe"), "");  // an ELF file without the section
    EXPECT_EQ(ReadVersion((dir_ / "missing.so").string()), "");
    EXPECT_EQ(ReadVersion(dir_.string()), "");
    const std::string fifo = (dir_ / "fifo.so").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadVersion(fifo), "");  // returns at once instead of waiting for a writer
    EXPECT_EQ(ReadVersion(Write("empty.so", "")), "");
    EXPECT_EQ(ReadVersion(Write("text.so", "not an ELF file at all, just text\n")), "");
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(VER_getFileVersion(nullptr, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(VersionTest, ReadsThirtyTwoAndSixtyFourBitFiles) {
    for (bool is64 : {false, true}) {
        SCOPED_TRACE(is64 ? "64-bit" : "32-bit");
        const std::vector<SectionDef> plain = {{".text", 1, "code"}, {".qm_version", 1, std::string("2.3.4.5") + '\0'}};
        EXPECT_EQ(ReadVersion(Write("plain", MakeElf(is64, plain))), "2.3.4.5");
        EXPECT_EQ(ReadVersion(Write("extended", MakeElf(is64, plain, true))), "2.3.4.5");

        // The text ends at its first NUL, or with the section when it has none.
        const std::string two_texts = std::string("1.2") + '\0' + "junk";
        EXPECT_EQ(ReadVersion(Write("nul", MakeElf(is64, {{".qm_version", 1, two_texts}}))), "1.2");
        EXPECT_EQ(ReadVersion(Write("unterminated", MakeElf(is64, {{".qm_version", 1, "7.7"}}))), "7.7");

        // A similar name, or a section without file bytes, is no version.
        EXPECT_EQ(ReadVersion(Write("prefix", MakeElf(is64, {{".qm_version2", 1, "9"}}))), "");
        EXPECT_EQ(ReadVersion(Write("short", MakeElf(is64, {{".qm_versio", 1, "9"}}))), "");
        EXPECT_EQ(ReadVersion(Write("nobits", MakeElf(is64, {{".qm_version", 8, "9.9"}}))), "");

        std::string big_endian = MakeElf(is64, plain);
        big_endian[5] = 2;
        EXPECT_EQ(ReadVersion(Write("be", big_endian)), "");
    }
}

TEST_F(VersionTest, DamagedCopiesOfARealModuleNeverCrash) {
    const std::string module = ReadFile(ProbeModulePath());
    ASSERT_GT(module.size(), 64u);
    const std::string expected = VANTIRO_TEST_VERSION_TEXT;
    auto read = [&](const std::string& bytes) {
        const std::string text = ReadVersion(Write("damaged.so", bytes));
        EXPECT_TRUE(text.empty() || text == expected) << text;
        return text;
    };

    auto u = [&](std::size_t at, std::size_t width) {
        std::uint64_t v = 0;
        for (std::size_t i = width; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(module[at + i]);
        return v;
    };
    const std::size_t shoff = u(0x28, 8), shentsize = u(0x3A, 2), shnum = u(0x3C, 2);
    ASSERT_LE(shoff + shnum * shentsize, module.size());

    // Cut at every section boundary, and around the header and the section table.
    std::vector<std::size_t> cuts = {0, 4, 16, 63, 64, shoff, shoff + 1, shoff + shentsize};
    for (std::size_t i = 0; i < shnum; ++i) {
        const std::size_t offset = u(shoff + i * shentsize + 24, 8), size = u(shoff + i * shentsize + 32, 8);
        for (std::size_t cut : {offset, offset + 1, offset + size - 1, offset + size}) cuts.push_back(cut);
    }
    for (std::size_t cut : cuts) {
        if (cut < module.size()) {
            EXPECT_EQ(read(module.substr(0, cut)), "") << "cut at " << cut;
        }
    }

    // Huge or inconsistent header values.
    auto mutated = [&](std::size_t at, std::uint64_t value, std::size_t width) {
        std::string bytes = module;
        Put(bytes, at, value, width);
        return read(bytes);
    };
    EXPECT_EQ(mutated(0x28, 0xFFFFFFFFFFFFFFF0ull, 8), "");
    EXPECT_EQ(mutated(0x28, module.size() - 8, 8), "");
    EXPECT_EQ(mutated(0x3A, 1, 2), "");
    mutated(0x3C, 0xFFFF, 2);
    mutated(0x3E, 0xFFFF, 2);
    EXPECT_EQ(mutated(0x3E, shnum, 2), "");
    for (std::size_t i = 0; i < shnum; ++i) {
        const std::size_t at = shoff + i * shentsize;
        mutated(at, 0xFFFFFFFF, 4);                     // name far outside the name table
        mutated(at + 24, 0xFFFFFFFFFFFFFFFFull, 8);     // offset past any file
        mutated(at + 32, 0xFFFFFFFFFFFFFFFFull, 8);     // size that overflows offset + size
        mutated(at + 32, module.size(), 8);             // size running off the end
    }
}

TEST_F(VersionTest, RandomlyCorruptedFilesNeverCrash) {
    std::mt19937 random(12345);
    for (bool is64 : {false, true}) {
        const std::string original =
            MakeElf(is64, {{".data", 1, "abcdefgh"}, {".qm_version", 1, std::string("3.1.4.1") + '\0'}});
        for (int round = 0; round < 1500; ++round) {
            std::string bytes = original;
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int f = 0; f < flips; ++f) {
                bytes[random() % bytes.size()] = static_cast<char>(random() & 0xff);
            }
            if (random() % 4 == 0) bytes.resize(random() % bytes.size());
            ReadVersion(Write("random.so", bytes), 1 + static_cast<int>(random() % 16));
        }
    }
}

}  // namespace
