// BSTR allocation with the Windows layout, and UTF-8/UTF-16 conversion.
#include "qmos/bstr.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace qmos {
namespace {

using Prefix = std::uint32_t;
constexpr char16_t kReplacement = 0xFFFD;

Prefix* PrefixOf(BSTR bstr) {
  return reinterpret_cast<Prefix*>(reinterpret_cast<char*>(bstr) - sizeof(Prefix));
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  // The byte count must fit the 32-bit prefix.
  constexpr UINT kMax = (std::numeric_limits<Prefix>::max() - sizeof(Prefix) - 2) / 2 - 1;
  if (length > kMax) return nullptr;
  std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  void* block = std::malloc(sizeof(Prefix) + bytes + sizeof(OLECHAR));
  if (!block) return nullptr;
  auto prefix = static_cast<Prefix>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* chars = reinterpret_cast<OLECHAR*>(static_cast<char*>(block) + sizeof(Prefix));
  if (text)
    std::memcpy(chars, text, bytes);
  else
    std::memset(chars, 0, bytes);
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT n = 0;
  while (text[n] != 0) ++n;
  return SysAllocStringLen(text, n);
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(PrefixOf(bstr));
}

BOOL SysReAllocString(BSTR* target, const OLECHAR* text) {
  if (!target) return 0;
  BSTR copy = SysAllocString(text);
  if (text && !copy) return 0;
  SysFreeString(*target);
  *target = copy;
  return 1;
}

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  Prefix bytes;
  std::memcpy(&bytes, PrefixOf(bstr), sizeof bytes);
  return bytes;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  std::size_t i = 0;
  const std::size_t n = in.size();
  while (i < n) {
    auto b0 = static_cast<unsigned char>(in[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    // Sequence length and the allowed range of the second byte, which rules out
    // overlong forms, encoded surrogates and values beyond U+10FFFF.
    int len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    char32_t c = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2;
      c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      c = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      c = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    // Consumes the longest valid prefix; an incomplete one becomes one U+FFFD.
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 1; k < len; ++k, ++j) {
      if (j >= n) {
        ok = false;
        break;
      }
      auto b = static_cast<unsigned char>(in[j]);
      unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
      if (b < l || b > h) {
        ok = false;
        break;
      }
      c = (c << 6) | (b & 0x3F);
    }
    if (!ok) {
      out.push_back(kReplacement);
      i = j;
      continue;
    }
    i = j;
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
        ++i;
      } else {
        c = kReplacement;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

BSTR BstrFromUtf16(std::u16string_view utf16) {
  if (utf16.size() > std::numeric_limits<UINT>::max()) return nullptr;
  return SysAllocStringLen(utf16.data(), static_cast<UINT>(utf16.size()));
}

BSTR BstrFromUtf8(std::string_view utf8) { return BstrFromUtf16(Utf8ToUtf16(utf8)); }

std::u16string_view BstrView(BSTR bstr) {
  if (!bstr) return {};
  return std::u16string_view(bstr, SysStringLen(bstr));
}

std::string BstrToUtf8(BSTR bstr) { return Utf16ToUtf8(BstrView(bstr)); }

}  // namespace qmos
