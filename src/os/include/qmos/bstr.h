// BSTR strings laid out as on Windows: a 4-byte byte count, the UTF-16 characters,
// and a terminating NUL character; the BSTR points at the first character. A null
// BSTR is the empty text. Embedded NULs are kept: the length prefix is the truth.
// Conversions to and from 8-bit text use UTF-8, this platform's ANSI code page.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "qmos/hresult.h"

namespace qmos {

// Copies the NUL-terminated text; null input gives a null BSTR.
BSTR SysAllocString(const OLECHAR* text);
// Copies length characters (NULs included); with null text the characters are zero.
// Returns null when the memory cannot be had.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// Frees a BSTR; null is fine.
void SysFreeString(BSTR bstr);
// Replaces *target with a copy of text (freeing the old one). FALSE on failure.
BOOL SysReAllocString(BSTR* target, const OLECHAR* text);
// Characters (not bytes) from the length prefix; 0 for null.
UINT SysStringLen(BSTR bstr);
UINT SysStringByteLen(BSTR bstr);

// UTF-8 <-> UTF-16. Invalid UTF-8 (bad or truncated sequences, overlong forms,
// encoded surrogates, values beyond U+10FFFF) and lone surrogates become U+FFFD;
// surrogate pairs round-trip.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// A new BSTR holding the text (an empty text gives an empty, non-null BSTR).
BSTR BstrFromUtf8(std::string_view utf8);
BSTR BstrFromUtf16(std::u16string_view utf16);
// The whole text of a BSTR by its length prefix; null gives "".
std::string BstrToUtf8(BSTR bstr);
std::u16string_view BstrView(BSTR bstr);

// Owns one BSTR and frees it. Move-only.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view utf8) : p_(BstrFromUtf8(utf8)) {}
  explicit Bstr(std::u16string_view utf16) : p_(BstrFromUtf16(utf16)) {}
  explicit Bstr(const char* utf8) : p_(BstrFromUtf8(utf8 ? utf8 : "")) {}
  ~Bstr() { SysFreeString(p_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.p_, nullptr));
    return *this;
  }

  // Takes ownership of an existing BSTR.
  static Bstr Attach(BSTR bstr) {
    Bstr b;
    b.p_ = bstr;
    return b;
  }
  // A copy of a BSTR that someone else owns (length prefix honoured).
  static Bstr Copy(BSTR bstr) { return Attach(bstr ? SysAllocStringLen(bstr, SysStringLen(bstr)) : nullptr); }

  BSTR Get() const { return p_; }
  // Gives up ownership.
  BSTR Detach() { return std::exchange(p_, nullptr); }
  // Frees the current string and returns the slot for an [out] BSTR* parameter.
  BSTR* Out() {
    Reset();
    return &p_;
  }
  void Reset(BSTR bstr = nullptr) {
    if (bstr != p_) SysFreeString(p_);
    p_ = bstr;
  }

  UINT Length() const { return SysStringLen(p_); }
  bool Empty() const { return Length() == 0; }
  std::string Utf8() const { return BstrToUtf8(p_); }
  std::u16string_view View() const { return BstrView(p_); }

 private:
  BSTR p_ = nullptr;
};

}  // namespace qmos
