// The .reg text format, as pure functions without I/O:
//  - decoding a file's bytes (UTF-16LE/BE with byte-order mark, UTF-8 with or
//    without one, 8-bit REGEDIT4 text taken as UTF-8) into UTF-8 text;
//  - parsing that text into an ordered list of key operations, each with the
//    value operations that follow its [KEY] line;
//  - writing values and keys back as version 5 text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qmos/registry.h"
#include "registry/reg_path.h"

namespace qmos::reg {

// Files above this size are refused rather than loaded.
inline constexpr std::size_t kMaxRegFileBytes = std::size_t{64} << 20;

inline constexpr std::string_view kHeaderV5 = "Windows Registry Editor Version 5.00";
inline constexpr std::string_view kHeaderV4 = "REGEDIT4";

struct RegTextError {
  std::size_t line = 0;  // 1-based; 0 when the fault concerns the whole file
  std::string message;
  std::string ToString() const;  // "line 7: unterminated string"
};

// "name"=... (value set) or "name"=- (value deleted, value is empty).
struct RegValueOp {
  std::string name;  // "" for the default value (@)
  std::optional<RegValue> value;
  std::size_t line = 0;
};

// [KEY] (create, then apply values) or [-KEY] (delete the key and its subtree).
struct RegKeyOp {
  bool remove = false;
  RegRoot root = RegRoot::LocalMachine;  // HKEY_CLASSES_ROOT already resolved
  KeyPath path;
  std::size_t line = 0;
  std::vector<RegValueOp> values;
};

// Bytes of a file to UTF-8 text. Fails on a file above the size cap, an odd byte
// count or a lone surrogate in UTF-16. NULs are left for the parser to report.
bool DecodeRegBytes(std::string_view bytes, std::string& text, RegTextError& error);

// Parses decoded text. On failure ops is unspecified and error says where.
bool ParseRegText(std::string_view text, std::vector<RegKeyOp>& ops, RegTextError& error);

// DecodeRegBytes followed by ParseRegText.
bool ParseRegBytes(std::string_view bytes, std::vector<RegKeyOp>& ops, RegTextError& error);

// One value line without its line end: @="x", "n"=dword:0000000a, "n"=hex(2):41,00
// (long hex lists continued over lines ending in a backslash, as regedit writes).
std::string FormatValueLine(std::string_view name, const RegValue& value);

// "Windows Registry Editor Version 5.00" and a blank line: what every file we
// write starts with. Line ends are LF.
std::string FormatRegHeader();

// One key as regedit writes it: [fullName], a line per value (the (name, RegValue)
// pairs in the order given) and a blank line after. Whoever walks a tree of keys
// calls this once per key, parents before children.
template <class NamedValues>
void AppendKeyBlock(std::string_view fullName, const NamedValues& values, std::string& out) {
  out += '[';
  out += fullName;
  out += "]\n";
  for (const auto& [name, value] : values) {
    out += FormatValueLine(name, value);
    out += '\n';
  }
  out += '\n';
}

}  // namespace qmos::reg
