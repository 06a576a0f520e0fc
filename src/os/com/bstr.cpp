// UTF-8/UTF-16 conversion and the BSTR helpers built on the allocation functions.
#include "qmos/bstr.h"

#include <limits>

#include "com/bstr_text.h"

namespace qmos {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// The code point of the UTF-16 unit at in[i] (a valid pair taken whole, a lone
// surrogate as U+FFFD) and how many units it took.
char32_t CodePointAt(std::u16string_view in, std::size_t i, std::size_t* units) {
  const char32_t c = in[i];
  *units = 1;
  if (c >= 0xD800 && c <= 0xDBFF) {
    if (i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      *units = 2;
      return 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
    }
    return kReplacement;
  }
  return c >= 0xDC00 && c <= 0xDFFF ? kReplacement : c;
}

std::size_t Utf8Length(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

char* PutUtf8(char* out, char32_t c) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (c >> 18));
    *out++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

}  // namespace

namespace com_detail {

// Texts are mostly ASCII, which is copied without further checks.
std::size_t PutUtf16(std::string_view in, char16_t* out) {
  char16_t* const begin = out;
  std::size_t i = 0;
  const std::size_t n = in.size();
  while (i < n) {
    auto b0 = static_cast<unsigned char>(in[i]);
    if (b0 < 0x80) {
      *out++ = b0;
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
      *out++ = kReplacement;
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
    i = j;
    if (!ok) {
      *out++ = kReplacement;
    } else if (c >= 0x10000) {
      c -= 0x10000;
      *out++ = static_cast<char16_t>(0xD800 + (c >> 10));
      *out++ = static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      *out++ = static_cast<char16_t>(c);
    }
  }
  return static_cast<std::size_t>(out - begin);
}

}  // namespace com_detail

BOOL SysReAllocString(BSTR* target, const OLECHAR* text) {
  if (!target) return 0;
  // A null text leaves a null string.
  BSTR copy = SysAllocString(text);
  if (text && !copy) return 0;
  SysFreeString(*target);
  *target = copy;
  return 1;
}

std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out(in.size(), u'\0');
  out.resize(com_detail::PutUtf16(in, out.data()));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
  // Measured first, so that the text is written once into a string of its size.
  // ASCII, the usual case, takes a byte per unit without further checks.
  std::size_t size = 0;
  for (std::size_t i = 0, units = 0; i < in.size(); i += units) {
    if (in[i] < 0x80) {
      units = 1;
      ++size;
    } else {
      size += Utf8Length(CodePointAt(in, i, &units));
    }
  }
  std::string out(size, '\0');
  char* at = out.data();
  for (std::size_t i = 0, units = 0; i < in.size(); i += units) {
    if (in[i] < 0x80) {
      units = 1;
      *at++ = static_cast<char>(in[i]);
    } else {
      at = PutUtf8(at, CodePointAt(in, i, &units));
    }
  }
  return out;
}

BSTR BstrFromUtf16(std::u16string_view utf16) {
  if (utf16.size() > std::numeric_limits<UINT>::max()) return nullptr;
  return SysAllocStringLen(utf16.data(), static_cast<UINT>(utf16.size()));
}

std::u16string_view BstrView(BSTR bstr) {
  if (!bstr) return {};
  return std::u16string_view(bstr, SysStringLen(bstr));
}

std::string BstrToUtf8(BSTR bstr) { return Utf16ToUtf8(BstrView(bstr)); }

}  // namespace qmos
