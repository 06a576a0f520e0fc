// Parser of .reg text. It reads line by line: a header, then [KEY] / [-KEY]
// lines each followed by value lines; comments (';') and blank lines are skipped.
// Every fault is reported with the line it was found on.
#include <cstdint>

#include "registry/reg_text.h"

namespace qmos::reg {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && NamesEqual(s.substr(0, prefix.size()), prefix);
}

// 1 to 8 hex digits, nothing else.
bool ParseHex32(std::string_view digits, std::uint32_t& out) {
  if (digits.empty() || digits.size() > 8) return false;
  std::uint32_t value = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  out = value;
  return true;
}

// Walks the lines of the text, with their numbers. Lines end in LF; a CR right
// before the LF belongs to the line end.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool Next(std::string_view& line) {
    if (pos_ > text_.size() || (pos_ == text_.size() && number_ > 0)) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = end + 1;
    ++number_;
    return true;
  }
  std::size_t Number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t number_ = 0;
};

class Parser {
 public:
  Parser(std::string_view text, std::vector<RegKeyOp>& ops, RegTextError& error)
      : lines_(text), ops_(ops), error_(error) {}

  bool Run() {
    ops_.clear();
    std::string_view line;
    bool header = false;
    while (Next(line)) {
      if (!CheckLine(line)) return false;
      const std::string_view t = TrimRight(TrimLeft(line));
      if (t.empty()) continue;
      if (!header) {
        if (t != kHeaderV5 && t != kHeaderV4) {
          return Fail("missing header \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
        }
        header = true;
        continue;
      }
      if (t.front() == ';') continue;
      if (t.front() == '[') {
        if (!ParseKeyLine(t)) return false;
      } else if (t.front() == '"' || t.front() == '@') {
        if (!ParseValueLine(t)) return false;
      } else {
        return Fail("unrecognised line");
      }
    }
    if (!header) {
      error_ = {1, "the file is empty"};
      return false;
    }
    return true;
  }

 private:
  bool Next(std::string_view& line) { return lines_.Next(line); }

  bool Fail(std::string message) {
    error_ = {lines_.Number(), std::move(message)};
    return false;
  }

  bool CheckLine(std::string_view line) {
    if (line.find('\0') != std::string_view::npos) return Fail("NUL character in the text");
    if (line.find('\r') != std::string_view::npos) return Fail("carriage return inside a line");
    return true;
  }

  bool ParseKeyLine(std::string_view t) {
    if (t.size() < 2 || t.back() != ']') return Fail("key line without a closing ']'");
    std::string_view inner = t.substr(1, t.size() - 2);
    RegKeyOp op;
    op.line = lines_.Number();
    if (!inner.empty() && inner.front() == '-') {
      op.remove = true;
      inner.remove_prefix(1);
    }
    const std::size_t slash = inner.find('\\');
    const std::string_view hive = inner.substr(0, slash);
    const std::string_view path =
        slash == std::string_view::npos ? std::string_view() : inner.substr(slash + 1);
    const std::optional<RegRoot> root = ParseHiveName(hive);
    if (!root) return Fail("unknown hive \"" + std::string(hive.substr(0, 64)) + "\"");
    std::string reason;
    std::optional<ResolvedKey> key = ResolveKey(*root, path, &reason);
    if (!key) return Fail(reason);
    if (op.remove && key->path.empty()) return Fail("a whole hive cannot be deleted");
    op.root = key->root;
    op.path = std::move(key->path);
    ops_.push_back(std::move(op));
    return true;
  }

  // A quoted string starting at text[pos] == '"'; on success pos is past the
  // closing quote.
  bool ParseQuoted(std::string_view text, std::size_t& pos, std::string& out) {
    out.clear();
    ++pos;
    while (pos < text.size()) {
      const char c = text[pos++];
      if (c == '"') return true;
      if (c == '\\') {
        if (pos >= text.size()) break;
        const char e = text[pos++];
        if (e != '\\' && e != '"') {
          return Fail(std::string("unknown escape \\") + e + " in a string");
        }
        out += e;
      } else {
        out += c;
      }
    }
    return Fail("unterminated string");
  }

  bool ParseValueLine(std::string_view t) {
    if (ops_.empty()) return Fail("value line before any key");
    RegKeyOp& key = ops_.back();
    if (key.remove) return Fail("value line under a deleted key");
    RegValueOp op;
    op.line = lines_.Number();
    std::size_t pos = 0;
    if (t.front() == '@') {
      pos = 1;
    } else {
      if (!ParseQuoted(t, pos, op.name)) return false;
      if (!ValueNameValid(op.name)) return Fail("value name too long");
    }
    while (pos < t.size() && IsBlank(t[pos])) ++pos;
    if (pos >= t.size() || t[pos] != '=') return Fail("expected '=' after the value name");
    ++pos;
    while (pos < t.size() && IsBlank(t[pos])) ++pos;
    const std::string_view data = t.substr(pos);
    if (data == "-") {
      key.values.push_back(std::move(op));
      return true;
    }
    RegValue value;
    if (!data.empty() && data.front() == '"') {
      std::size_t end = 0;
      value.kind = RegValueKind::String;
      if (!ParseQuoted(data, end, value.text)) return false;
      if (end != data.size()) return Fail("unexpected text after the closing quote");
    } else if (StartsWithNoCase(data, "dword:")) {
      value.kind = RegValueKind::DWord;
      if (!ParseHex32(data.substr(6), value.dword)) {
        return Fail("bad dword value (1 to 8 hex digits expected)");
      }
    } else if (StartsWithNoCase(data, "hex")) {
      if (!ParseHexValue(data.substr(3), value)) return false;
    } else {
      return Fail("unrecognised value data");
    }
    op.value = std::move(value);
    key.values.push_back(std::move(op));
    return true;
  }

  // After "hex": ":bytes" or "(N):bytes"; bytes may continue over lines ending
  // in a backslash.
  bool ParseHexValue(std::string_view rest, RegValue& value) {
    value.kind = RegValueKind::Binary;
    value.hexType = 3;
    if (!rest.empty() && rest.front() == '(') {
      const std::size_t close = rest.find(')');
      if (close == std::string_view::npos || !ParseHex32(rest.substr(1, close - 1), value.hexType)) {
        return Fail("bad hex(N) type");
      }
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest.front() != ':') return Fail("expected ':' after hex");
    rest.remove_prefix(1);
    const std::size_t firstLine = lines_.Number();
    std::string joined;
    std::string_view part = TrimRight(rest);
    while (!part.empty() && part.back() == '\\') {
      part.remove_suffix(1);
      joined += part;
      std::string_view next;
      if (!Next(next)) {
        error_ = {firstLine, "hex value continues past the end of the file"};
        return false;
      }
      if (!CheckLine(next)) return false;
      part = TrimRight(TrimLeft(next));
    }
    joined += part;
    return ParseHexBytes(joined, value.bytes, firstLine);
  }

  bool ParseHexBytes(std::string_view list, std::vector<std::uint8_t>& bytes, std::size_t line) {
    bytes.clear();
    if (TrimLeft(list).empty()) return true;
    bytes.reserve(list.size() / 3 + 1);
    std::size_t pos = 0;
    while (true) {
      std::size_t comma = list.find(',', pos);
      const std::size_t end = comma == std::string_view::npos ? list.size() : comma;
      const std::string_view item = TrimRight(TrimLeft(list.substr(pos, end - pos)));
      std::uint32_t byte = 0;
      if (item.size() > 2 || !ParseHex32(item, byte)) {
        error_ = {line, "bad hex byte \"" + std::string(item.substr(0, 16)) + "\""};
        return false;
      }
      bytes.push_back(static_cast<std::uint8_t>(byte));
      if (comma == std::string_view::npos) return true;
      pos = comma + 1;
    }
  }

  LineReader lines_;
  std::vector<RegKeyOp>& ops_;
  RegTextError& error_;
};

}  // namespace

bool ParseRegText(std::string_view text, std::vector<RegKeyOp>& ops, RegTextError& error) {
  return Parser(text, ops, error).Run();
}

bool ParseRegBytes(std::string_view bytes, std::vector<RegKeyOp>& ops, RegTextError& error) {
  std::string text;
  if (!DecodeRegBytes(bytes, text, error)) return false;
  return ParseRegText(text, ops, error);
}

}  // namespace qmos::reg
