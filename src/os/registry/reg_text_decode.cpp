#include <cstdint>

#include "registry/reg_text.h"

namespace qmos::reg {

namespace {

void AppendUtf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool DecodeUtf16(std::string_view bytes, bool bigEndian, std::string& text, RegTextError& error) {
  std::size_t line = 1;
  const auto unit = [&](std::size_t i) -> std::uint32_t {
    const auto b0 = static_cast<unsigned char>(bytes[i]);
    const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    return bigEndian ? ((std::uint32_t{b0} << 8) | b1) : ((std::uint32_t{b1} << 8) | b0);
  };
  text.clear();
  text.reserve(bytes.size() / 2 + bytes.size() / 4);
  const std::size_t whole = bytes.size() & ~std::size_t{1};
  for (std::size_t i = 0; i < whole; i += 2) {
    std::uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      const std::uint32_t low = (i + 2 < whole) ? unit(i + 2) : 0;
      if (low < 0xDC00 || low > 0xDFFF) {
        error = {line, "invalid UTF-16: high surrogate without its low half"};
        return false;
      }
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      error = {line, "invalid UTF-16: low surrogate without its high half"};
      return false;
    }
    if (cp == '\n') ++line;
    AppendUtf8(cp, text);
  }
  if (whole != bytes.size()) {
    error = {line, "truncated UTF-16 text (odd number of bytes)"};
    return false;
  }
  return true;
}

}  // namespace

std::string RegTextError::ToString() const {
  if (line == 0) return message;
  return "line " + std::to_string(line) + ": " + message;
}

bool DecodeRegBytes(std::string_view bytes, std::string& text, RegTextError& error) {
  if (bytes.size() > kMaxRegFileBytes) {
    error = {0, "file larger than " + std::to_string(kMaxRegFileBytes >> 20) + " MiB"};
    return false;
  }
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && byteAt(0) == 0xFF && byteAt(1) == 0xFE) {
    return DecodeUtf16(bytes.substr(2), false, text, error);
  }
  if (bytes.size() >= 2 && byteAt(0) == 0xFE && byteAt(1) == 0xFF) {
    return DecodeUtf16(bytes.substr(2), true, text, error);
  }
  if (bytes.size() >= 3 && byteAt(0) == 0xEF && byteAt(1) == 0xBB && byteAt(2) == 0xBF) {
    text.assign(bytes.substr(3));
    return true;
  }
  // UTF-16LE written without a byte-order mark starts "W\0" or "R\0".
  if (bytes.size() >= 2 && byteAt(0) != 0 && byteAt(1) == 0) {
    return DecodeUtf16(bytes, false, text, error);
  }
  text.assign(bytes);
  return true;
}

}  // namespace qmos::reg
