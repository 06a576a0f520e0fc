// GUID text form and random GUIDs.
#include "qmos/guid.h"

#include <cstring>

#include "core/random_bytes.h"

namespace qmos {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Byte positions of the 16 bytes in the text form, in the order Data1 (big-end
// first, as written), Data2, Data3, Data4[0..7].
constexpr int kHexPos[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};

template <class Char>
std::basic_string<Char> Format(REFGUID g) {
  std::uint8_t bytes[16];
  bytes[0] = static_cast<std::uint8_t>(g.Data1 >> 24);
  bytes[1] = static_cast<std::uint8_t>(g.Data1 >> 16);
  bytes[2] = static_cast<std::uint8_t>(g.Data1 >> 8);
  bytes[3] = static_cast<std::uint8_t>(g.Data1);
  bytes[4] = static_cast<std::uint8_t>(g.Data2 >> 8);
  bytes[5] = static_cast<std::uint8_t>(g.Data2);
  bytes[6] = static_cast<std::uint8_t>(g.Data3 >> 8);
  bytes[7] = static_cast<std::uint8_t>(g.Data3);
  std::memcpy(bytes + 8, g.Data4, 8);
  std::basic_string<Char> s(kGuidTextLength, Char('-'));
  s[0] = Char('{');
  s[kGuidTextLength - 1] = Char('}');
  for (int i = 0; i < 16; ++i) {
    s[kHexPos[i]] = Char(kHex[bytes[i] >> 4]);
    s[kHexPos[i] + 1] = Char(kHex[bytes[i] & 0xF]);
  }
  return s;
}

int HexValue(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

template <class Char>
std::optional<GUID> Parse(std::basic_string_view<Char> t) {
  if (t.size() != kGuidTextLength || t[0] != Char('{') || t[37] != Char('}') ||
      t[9] != Char('-') || t[14] != Char('-') || t[19] != Char('-') || t[24] != Char('-'))
    return std::nullopt;
  std::uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) {
    int hi = HexValue(static_cast<char32_t>(t[kHexPos[i]]));
    int lo = HexValue(static_cast<char32_t>(t[kHexPos[i] + 1]));
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  GUID g{};
  g.Data1 = std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
            std::uint32_t{bytes[2]} << 8 | bytes[3];
  g.Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(g.Data4, bytes + 8, 8);
  return g;
}

}  // namespace

std::string GuidToString(REFGUID guid) { return Format<char>(guid); }
std::u16string GuidToU16String(REFGUID guid) { return Format<char16_t>(guid); }
std::optional<GUID> GuidFromString(std::string_view text) { return Parse(text); }
std::optional<GUID> GuidFromString(std::u16string_view text) { return Parse(text); }

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity) {
  if (!buffer || capacity < static_cast<int>(kGuidTextLength) + 1) return 0;
  std::u16string s = GuidToU16String(guid);
  std::memcpy(buffer, s.c_str(), (s.size() + 1) * sizeof(OLECHAR));
  return static_cast<int>(s.size() + 1);
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
  if (!text || !clsid) return E_INVALIDARG;
  // Reads at most one character past the text form, so that a longer text is
  // rejected without scanning an unterminated buffer further than needed.
  std::size_t n = 0;
  while (n <= kGuidTextLength && text[n] != 0) ++n;
  auto g = GuidFromString(std::u16string_view(text, n));
  if (!g) return CO_E_CLASSSTRING;
  *clsid = *g;
  return S_OK;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  HRESULT hr = CLSIDFromString(text, iid);
  return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}

HRESULT CoCreateGuid(GUID* guid) {
  if (!guid) return E_INVALIDARG;
  std::uint8_t bytes[16];
  if (!detail::SystemRandomBytes(bytes, sizeof bytes)) return E_FAIL;
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  guid->Data1 = std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
                std::uint32_t{bytes[2]} << 8 | bytes[3];
  guid->Data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  guid->Data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(guid->Data4, bytes + 8, 8);
  return S_OK;
}

}  // namespace qmos
