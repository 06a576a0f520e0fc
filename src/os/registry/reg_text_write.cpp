// Writer of .reg text: the same layout regedit exports, in UTF-8 with LF line
// ends, so that files we write read back unchanged here and in regedit.
#include <cstdio>

#include "registry/reg_text.h"

namespace qmos::reg {

namespace {

// regedit keeps lines of hex lists within 80 columns.
constexpr std::size_t kHexLineWidth = 80;

void AppendQuoted(std::string_view text, std::string& out) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

void AppendHex(std::uint32_t value, int width, std::string& out) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*x", width, static_cast<unsigned>(value));
  out += buffer;
}

}  // namespace

std::string FormatValueLine(std::string_view name, const RegValue& value) {
  std::string line;
  if (name.empty()) {
    line += '@';
  } else {
    AppendQuoted(name, line);
  }
  line += '=';
  switch (value.kind) {
    case RegValueKind::String:
      AppendQuoted(value.text, line);
      break;
    case RegValueKind::DWord:
      line += "dword:";
      AppendHex(value.dword, 8, line);
      break;
    case RegValueKind::Binary: {
      if (value.hexType == 3) {
        line += "hex:";
      } else {
        line += "hex(";
        AppendHex(value.hexType, 1, line);
        line += "):";
      }
      std::size_t column = line.size();
      for (std::size_t i = 0; i < value.bytes.size(); ++i) {
        const bool last = i + 1 == value.bytes.size();
        // "xx," plus room for the continuation backslash.
        if (column + (last ? 2 : 3) + 1 > kHexLineWidth) {
          line += "\\\n  ";
          column = 2;
        }
        AppendHex(value.bytes[i], 2, line);
        if (!last) line += ',';
        column += last ? 2 : 3;
      }
      break;
    }
  }
  return line;
}

std::string FormatRegHeader() { return std::string(kHeaderV5) + "\n\n"; }

}  // namespace qmos::reg
