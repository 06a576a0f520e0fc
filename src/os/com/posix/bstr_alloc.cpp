// BSTR allocation with the Windows layout: a 4-byte byte count, the UTF-16
// characters and a closing NUL, in one block of the C heap.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "com/bstr_text.h"
#include "qmos/bstr.h"

namespace qmos {
namespace {

using Prefix = std::uint32_t;

Prefix* PrefixOf(BSTR bstr) {
  return reinterpret_cast<Prefix*>(reinterpret_cast<char*>(bstr) - sizeof(Prefix));
}

// A string's block for length units, with its prefix and closing NUL; the units are
// left for the caller to fill. Null when the byte count would not fit the prefix.
OLECHAR* NewBlock(UINT length) {
  constexpr UINT kMax = (std::numeric_limits<Prefix>::max() - sizeof(Prefix) - 2) / 2 - 1;
  if (length > kMax) return nullptr;
  const std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  void* block = std::malloc(sizeof(Prefix) + bytes + sizeof(OLECHAR));
  if (!block) return nullptr;
  const auto prefix = static_cast<Prefix>(bytes);
  std::memcpy(block, &prefix, sizeof prefix);
  auto* chars = reinterpret_cast<OLECHAR*>(static_cast<char*>(block) + sizeof(Prefix));
  chars[length] = 0;
  return chars;
}

// Shortens a string to its first units (no more than it was made with).
void SetLength(BSTR bstr, std::size_t units) {
  bstr[units] = 0;
  const auto bytes = static_cast<Prefix>(units * sizeof(OLECHAR));
  std::memcpy(PrefixOf(bstr), &bytes, sizeof bytes);
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  OLECHAR* chars = NewBlock(length);
  if (!chars) return nullptr;
  if (text)
    std::memcpy(chars, text, std::size_t{length} * sizeof(OLECHAR));
  else
    std::memset(chars, 0, std::size_t{length} * sizeof(OLECHAR));
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

UINT SysStringByteLen(BSTR bstr) {
  if (!bstr) return 0;
  Prefix bytes;
  std::memcpy(&bytes, PrefixOf(bstr), sizeof bytes);
  return bytes;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

BSTR BstrFromUtf8(std::string_view utf8) {
  // Converted straight into the string's block, sized for the longest result (one
  // unit per byte); the prefix gives the length converted.
  if (utf8.size() > std::numeric_limits<UINT>::max()) return nullptr;
  BSTR bstr = NewBlock(static_cast<UINT>(utf8.size()));
  if (!bstr) return nullptr;
  SetLength(bstr, com_detail::PutUtf16(utf8, bstr));
  return bstr;
}

}  // namespace qmos
